// The reader's saved fuzz inputs (tests/fuzz/netfile_seeds, and the
// minimized inputs of past findings in tests/fuzz/netfile_regressions) run
// through the fuzz checks in the ordinary test suite.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/fuzz/netfile_harness.hpp"
#include "tests/fuzz/saved_inputs.hpp"

namespace {

class SavedNetfileInput : public testing::TestWithParam<std::string> {};

TEST_P(SavedNetfileInput, PassesTheFuzzChecks) {
  std::string bytes;
  ASSERT_TRUE(fuzzinputs::readBytes(std::filesystem::path(NETFILE_FUZZ_DIR) / GetParam(), bytes))
      << GetParam();
  testing::internal::CaptureStderr();
  const std::string failure =
      checkNetfileInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "igraph printed";
  EXPECT_EQ(failure, "");
}

INSTANTIATE_TEST_SUITE_P(Fuzz, SavedNetfileInput,
                         testing::ValuesIn(fuzzinputs::savedInputs(
                             NETFILE_FUZZ_DIR, {"netfile_seeds", "netfile_regressions"})),
                         [](const auto& info) { return fuzzinputs::testName(info.param); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(SavedNetfileInput);

}  // namespace
