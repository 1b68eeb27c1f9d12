// The checking build (-DDCR_CHECKS=ON): invariants that the engine relies on
// and that nothing else enforces are tested where they hold, and a broken
// one stops the program with its message. In other builds DCR_CHECK
// compiles to nothing and its condition is not evaluated.
//
// Declares nothing from the library: the 256-bit unit includes it.
#pragma once

#if DCR_CHECKS
[[noreturn]] void dcrCheckFailed(const char* what, const char* file, int line);
#define DCR_CHECK(condition, what) \
  ((condition) ? static_cast<void>(0) : dcrCheckFailed(what, __FILE__, __LINE__))
#else
#define DCR_CHECK(condition, what) static_cast<void>(0)
#endif
