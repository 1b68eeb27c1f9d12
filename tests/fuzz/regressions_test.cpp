// Every saved fuzz input (the seeds, and the minimized inputs of past
// findings) run through the fuzz checks in the ordinary test suite.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/fuzz/harness.hpp"
#include "tests/fuzz/saved_inputs.hpp"

namespace {

class SavedInput : public testing::TestWithParam<std::string> {};

TEST_P(SavedInput, PassesTheFuzzChecks) {
  std::string bytes;
  ASSERT_TRUE(fuzzinputs::readBytes(std::filesystem::path(DCR_FUZZ_DIR) / GetParam(), bytes))
      << GetParam();
  EXPECT_EQ(checkFuzzInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), "");
}

INSTANTIATE_TEST_SUITE_P(Fuzz, SavedInput,
                         testing::ValuesIn(fuzzinputs::savedInputs(DCR_FUZZ_DIR,
                                                                   {"seeds", "regressions"})),
                         [](const auto& info) { return fuzzinputs::testName(info.param); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(SavedInput);

}  // namespace
