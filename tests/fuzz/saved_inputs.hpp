// Saved fuzz inputs (seeds and the minimized inputs of past findings) as
// parameters of an ordinary test: their paths, their bytes and test names.
#pragma once

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

namespace fuzzinputs {

// "folder/file" for every file of the given folders under `root`, sorted.
inline std::vector<std::string> savedInputs(const std::filesystem::path& root,
                                            std::initializer_list<const char*> folders) {
  std::vector<std::string> files;
  for (const char* folder : folders) {
    const std::filesystem::path dir = root / folder;
    if (!std::filesystem::is_directory(dir)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
      if (entry.is_regular_file())
        files.push_back(std::string(folder) + "/" + entry.path().filename().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The file's bytes; false if it cannot be read.
inline bool readBytes(const std::filesystem::path& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// A test name from a saved input's path: letters and digits, '_' for the rest.
inline std::string testName(std::string name) {
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
}

}  // namespace fuzzinputs
