#include "reliability/checks.hpp"

#if DCR_CHECKS
#include <cstdio>
#include <cstdlib>

void dcrCheckFailed(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: broken invariant: %s\n", file, line, what);
  std::abort();
}
#endif
