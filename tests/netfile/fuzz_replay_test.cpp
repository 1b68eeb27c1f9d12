// The reader's saved fuzz inputs (tests/fuzz/netfile_seeds, and the
// minimized inputs of past findings in tests/fuzz/netfile_regressions) run
// through the fuzz checks in the ordinary test suite.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/fuzz/netfile_harness.hpp"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> savedInputs() {
  std::vector<std::string> files;
  for (const char* folder : {"netfile_seeds", "netfile_regressions"}) {
    const fs::path dir = fs::path(NETFILE_FUZZ_DIR) / folder;
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::directory_iterator(dir))
      if (entry.is_regular_file())
        files.push_back(std::string(folder) + "/" + entry.path().filename().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

class SavedNetfileInput : public testing::TestWithParam<std::string> {};

TEST_P(SavedNetfileInput, PassesTheFuzzChecks) {
  std::ifstream in(fs::path(NETFILE_FUZZ_DIR) / GetParam(), std::ios::binary);
  ASSERT_TRUE(in) << GetParam();
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  testing::internal::CaptureStderr();
  const std::string failure =
      checkNetfileInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "igraph printed";
  EXPECT_EQ(failure, "");
}

INSTANTIATE_TEST_SUITE_P(Fuzz, SavedNetfileInput, testing::ValuesIn(savedInputs()),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& ch : name)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(SavedNetfileInput);

}  // namespace
