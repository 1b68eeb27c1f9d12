// The factoring search, written once for every form of its state.
//
// Everything that fixes the answer's bytes is here and only here: the
// threshold test on entry to each step, works before fails, depth first,
// the four floating-point expressions with their operand order
//
//   works = prob * p          fails = (1.0 - p) * prob
//   sum  += works * 1.0       bound -= fails
//
// (p the record's probability, prob that of the decisions above the step),
// the leaves, and the step count. A state form only says how one record
// changes its state. It is a class S with:
//
//   S::mark                 what a pending step needs to get back to the
//                           state it saw on entry (position included)
//   bool choose()           moves to the first live record at or after the
//                           current position; false when there is none, and
//                           the branch then ends with no leaf
//   double prob() const     the current record's probability
//   mark push()             the current state as a mark; called on entry
//                           to a step, before works()
//   bool works()            the current record works: true when every pair
//                           is then joined (a success leaf); otherwise the
//                           state stands at the next position
//   void resume(const mark&)
//                           back to the state push() saw, at its position;
//                           every change made since must be undone or be
//                           invisible from there
//   bool fails()            the current record fails: true when some
//                           unjoined pair has lost its last path (a failure
//                           leaf); otherwise the state stands at the next
//                           position
//
// Frames: one per pending step, at most one per live record plus one; the
// caller supplies them so that this header needs nothing from the library
// (the 256-bit unit includes it and must not emit shared inline code).
#pragma once

#include "reliability/checks.hpp"

namespace search {

// Someone watching a long search: called on entry to every 2^20-th step
// with what the search has proved so far (sum <= reliability <= bound), it
// may show progress, and stops the search by returning true. It reads
// nothing of the search's state, so a search it does not stop takes the
// same steps and sums as one without it.
struct watch {
  bool (*poll)(void* context, double sum, double bound, long long steps);
  void* context;
};

// What a search adds up, and where it stopped.
struct totals {
  double sum;    // reliability so far
  double bound;  // upper bound so far
  long long steps = 0;
  bool below = false;              // the threshold test fired
  const watch* watcher = nullptr;  // polled now and then; may stop the search
  bool stopped = false;            // the watcher stopped it: sum and bound are bounds only
};

inline constexpr long long kWatchEvery = 1LL << 20;

template <class Mark>
struct frame {
  double prob;  // probability of the decisions above the step
  Mark at;
};

// The loop is built twice, with and without the watcher's test, so that
// an unwatched search (dcr's) keeps its tightest loop.
template <bool Watched, class State>
[[gnu::always_inline]] inline void factorLoop(State s, double cutOff, totals& t,
                                              frame<typename State::mark>* frames,
                                              [[maybe_unused]] long long frameCount) {
  frame<typename State::mark>* top = frames;  // one past the innermost pending step
  double prob = 1.0;
  long long steps = 0;
  double sum = t.sum;
  double bound = t.bound;
  [[maybe_unused]] const watch* const watcher = t.watcher;
  for (;;) {
    ++steps;
    if constexpr (Watched) {
      if ((steps & (kWatchEvery - 1)) == 0 && watcher->poll(watcher->context, sum, bound, steps)) {
        t.stopped = true;
        break;
      }
    }
    if (cutOff > bound) {
      t.below = true;
      break;
    }
    if (s.choose()) {
      DCR_CHECK(top - frames < frameCount, "more pending steps than live records");
      *top++ = {prob, s.push()};
      const double works = prob * s.prob();
      if (!s.works()) {
        prob = works;
        continue;
      }
      sum += works * 1.0;
    }
    // The branch has ended: the fails branch of the innermost pending step.
    for (;;) {
      if (top == frames) goto done;
      const frame<typename State::mark>& f = *--top;
      s.resume(f.at);
      const double fails = (1.0 - s.prob()) * f.prob;
      if (!s.fails()) {
        prob = fails;
        break;
      }
      bound -= fails;
    }
  }
done:
  t.sum = sum;
  t.bound = bound;
  t.steps = steps;
}

// Out of line, so that the watched loop leaves the unwatched one as it was.
template <class State>
[[gnu::noinline]] static void factorWatched(State s, double cutOff, totals& t,
                                            frame<typename State::mark>* frames,
                                            long long frameCount) {
  factorLoop<true>(s, cutOff, t, frames, frameCount);
}

template <class State>
inline void factor(State s, double cutOff, totals& t, frame<typename State::mark>* frames,
                   long long frameCount) {
  if (t.watcher) [[unlikely]] {
    factorWatched(s, cutOff, t, frames, frameCount);
    return;
  }
  factorLoop<false>(s, cutOff, t, frames, frameCount);
}

}  // namespace search
