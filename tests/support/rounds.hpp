// How many random cases a test runs. The Release run takes them all. The
// sanitizer run, where the slowest oracle tests take five to ten times as
// long, takes a third: its checks fire on the first case that reaches a
// faulty line as surely as on the last, and the cases draw the same
// problems in the same order, so a third is the start of the same list.
#pragma once

namespace test_support {

constexpr int rounds(int all) {
#if defined(DCR_SANITIZED)
  return (all + 2) / 3;
#else
  return all;
#endif
}

}  // namespace test_support
