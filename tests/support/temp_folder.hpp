// A fresh folder under the system's temporary directory, removed with
// everything in it when the object goes.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace testsupport {

class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix = "dcr-test") {
    std::string name = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = name;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& dir() const { return dir_; }
  const std::filesystem::path& path() const { return dir_; }
  std::filesystem::path operator/(const std::string& name) const { return dir_ / name; }

 private:
  std::filesystem::path dir_;
};

}  // namespace testsupport
