// libFuzzer entry for the network-file reader: any failed check is a
// crash, with its reason on stderr.
#include <cstdio>
#include <cstdlib>

#include "tests/fuzz/netfile_harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string failure = checkNetfileInput(data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "netfile fuzz check failed: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
