// Every saved fuzz input (the seeds, and the minimized inputs of past
// findings) run through the fuzz checks in the ordinary test suite.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fuzz/harness.hpp"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> savedInputs() {
  std::vector<std::string> files;
  for (const char* folder : {"seeds", "regressions"}) {
    const fs::path dir = fs::path(DCR_FUZZ_DIR) / folder;
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::directory_iterator(dir))
      if (entry.is_regular_file())
        files.push_back(std::string(folder) + "/" + entry.path().filename().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

class SavedInput : public testing::TestWithParam<std::string> {};

TEST_P(SavedInput, PassesTheFuzzChecks) {
  std::ifstream in(fs::path(DCR_FUZZ_DIR) / GetParam(), std::ios::binary);
  ASSERT_TRUE(in) << GetParam();
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(checkFuzzInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), "");
}

INSTANTIATE_TEST_SUITE_P(Fuzz, SavedInput, testing::ValuesIn(savedInputs()), [](const auto& info) {
  std::string name = info.param;
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
});
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(SavedInput);

}  // namespace
