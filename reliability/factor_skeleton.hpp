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
// A state may also let one walk of a subtree stand for two (doubling). It
// then has `static constexpr bool canDouble = true` and:
//
//   int left() const        positions from the current one to the end
//   bool idle() const       the current record changes nothing that an
//                           open pair's outcome depends on, so its works
//                           and fails branches take the same steps from here
//   void skip()             moves to the next position as works() would
//                           (on an idle record, without a leaf)
//
// Below an idle record both branches take the same steps and differ only in
// their probabilities, so the search walks the subtree once with both in
// lanes of a vector, the works branch's first, and keeps the leaves of the
// lanes in a row store; when the walk comes back up past the record, the
// works lanes' leaves are added before the fails lanes', each with the
// threshold test where a step was entered before it. The sums, the tests
// and their order are those of two walks; only the control flow is shared.
// Up to kMaxLevel idle records nest (2^kMaxLevel lanes), and only within
// the last kDoubleDepth positions, which bounds the row store (see
// laneStore and laneLevels).
//
// Frames: one per pending step, at most one per live record plus one; the
// caller supplies them and the row store so that this header needs nothing
// from the library (the 256-bit unit includes it and must not emit shared
// inline code).
#pragma once

#include <cstddef>
#include <type_traits>

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
  long long doublings = 0;         // subtrees walked once for two
  bool below = false;              // the threshold test fired
  const watch* watcher = nullptr;  // polled now and then; may stop the search
  bool stopped = false;            // the watcher stopped it: sum and bound are bounds only
};

// Steps between two polls of the watcher: a step can take 20 us (a per-path
// counter form over a million paths), and a time limit should hold within
// a tenth of a second.
inline constexpr long long kWatchEvery = 1LL << 12;

// Four probabilities, one per lane, and eight in two halves (only lane 0
// until a doubling).
using lanes = double __attribute__((vector_size(32)));
struct eightLanes {
  lanes lo, hi;
};

template <class Mark, class Prob = double>
struct frame {
  Prob prob;  // probability of the decisions above the step
  Mark at;
};

template <class State>
constexpr bool doubles() {
  if constexpr (requires { State::canDouble; })
    return State::canDouble;
  else
    return false;
}
template <class State>
using frameOf =
    frame<typename State::mark, std::conditional_t<doubles<State>(), eightLanes, double>>;

inline constexpr int kDoubleDepth = 16;  // doublings only this close to the end
inline constexpr int kMaxLevel = 3;      // three doublings: eight lanes

// Where the leaves below a doubling wait. A leaf kept at level l has its
// 2^l lanes in a row of 2^l doubles, in works[l] for a success leaf and in
// fails[l] for a failure leaf; `meta` has for every leaf in order a word
// (steps entered since the previous leaf of its segment) * 2 + (1 for a
// failure leaf). Each row array has room for `room` doubles, meta for
// `room` words.
struct laneStore {
  double* works[kMaxLevel + 1] = {};
  double* fails[kMaxLevel + 1] = {};
  unsigned* meta = nullptr;
  std::size_t room = 0;

  // What a search needs: a segment of level l holds the leaves of a subtree
  // of at most kDoubleDepth - l positions for one of its lanes, at most
  // 2^(kDoubleDepth - l) rows of 2^l doubles.
  static constexpr std::size_t roomFor(long long live) {
    return std::size_t{1} << (live < kDoubleDepth ? live : kDoubleDepth);
  }
};

// Internal to each unit, like everything the 256-bit unit compiles.
namespace {

inline double first(double p) {
  return p;
}
inline double first(const eightLanes& p) {
  return p.lo[0];
}
template <class Prob>
Prob one() {
  if constexpr (__is_same(Prob, double))
    return 1.0;
  else
    return {lanes{1.0}, lanes{}};
}
inline eightLanes operator*(const eightLanes& a, double p) {
  return {a.lo * p, a.hi * p};
}
inline eightLanes operator*(double q, const eightLanes& a) {
  return {q * a.lo, q * a.hi};
}

// The doublings in force. Level l has 2^l lanes: those of level l - 1 in
// the works branch of the l-th idle record, then the same in its fails
// branch. A segment is what was walked since its level's doubling: its
// base (the frame top then), where its leaves start in the store, and the
// steps entered at the level below since that level's last leaf. While a
// segment is open the levels below it keep no leaf, so its leaves are the
// last in meta and the only ones in its level's rows. When it closes they
// become the level below's: the rows' low halves (its works lanes), then
// their high halves.
template <class Frame>
class laneLevels {
 public:
  explicit laneLevels(const laneStore& store) : store_(store) {}

  int level() const { return level_; }
  const Frame* base() const { return level_ == 0 ? nullptr : seg_[level_].base; }
  void stepped() { ++pending_; }

  // Both branches of the current record from probabilities `prob`: the
  // works lanes first, then the fails lanes.
  void deepen(eightLanes& prob, double p, const Frame* top) {
    const eightLanes works = prob * p;
    const eightLanes fails = (1.0 - p) * prob;
    ++level_;
    seg_[level_] = {top, used_, pending_};
    pending_ = 0;
    if (level_ == 1)
      prob.lo = __builtin_shufflevector(works.lo, fails.lo, 0, 4, 2, 3);
    else if (level_ == 2)
      prob.lo = __builtin_shufflevector(works.lo, fails.lo, 0, 1, 4, 5);
    else
      prob = {works.lo, fails.lo};
  }
  template <bool Failure>
  void keep(const eightLanes& value) {
    std::size_t& n = Failure ? failsUsed_[level_] : worksUsed_[level_];
    double* const row = (Failure ? store_.fails : store_.works)[level_] + (n << level_);
    DCR_CHECK(used_ < store_.room && (n + 1) << level_ <= store_.room,
              "more leaves below a doubling than the store holds");
    ++n;
    if (level_ == 1)
      __builtin_memcpy(row, &value.lo, 2 * sizeof(double));
    else if (level_ == 2)
      __builtin_memcpy(row, &value.lo, 4 * sizeof(double));
    else {
      __builtin_memcpy(row, &value.lo, 4 * sizeof(double));
      __builtin_memcpy(row + 4, &value.hi, 4 * sizeof(double));
    }
    store_.meta[used_++] = pending_ << 1 | static_cast<unsigned>(Failure);
    pending_ = 0;
  }

  // The walk is back at the current segment's base. Below level 1 its
  // leaves become the level below's; at level 1 they are added to the
  // totals, lane 0's then lane 1's, each with the threshold test where a
  // step was entered before a leaf: false when the test fires.
  bool close(double cutOff, double& sum, double& bound, long long& steps) {
    const segment s = seg_[level_];
    const unsigned trailing = pending_;
    if (level_ > 1) {
      lower(store_.works, worksUsed_);
      lower(store_.fails, failsUsed_);
      --level_;
      const std::size_t count = used_ - s.start;
      DCR_CHECK(used_ + count <= store_.room, "more leaves below a doubling than the store holds");
      for (std::size_t i = s.start; i < used_; ++i)
        store_.meta[i + count] = store_.meta[i];
      used_ += count;
      if (count == 0) {
        pending_ = s.pendingBefore + 2 * trailing;
        return true;
      }
      store_.meta[s.start] += s.pendingBefore << 1;
      store_.meta[s.start + count] += trailing << 1;
      pending_ = trailing;
      return true;
    }
    long long entered = trailing;
    for (std::size_t i = s.start; i < used_; ++i)
      entered += store_.meta[i] >> 1;
    for (int lane = 0; lane < 2; ++lane) {
      if (!addLane(lane, s, trailing, entered, cutOff, sum, bound, steps)) return false;
    }
    level_ = 0;
    used_ = s.start;
    worksUsed_[1] = failsUsed_[1] = 0;
    pending_ = 0;
    return true;
  }

 private:
  struct segment {
    const Frame* base;
    std::size_t start;  // its first leaf in meta
    unsigned pendingBefore;
  };

  // Appends the current level's rows to the level below's: their low
  // halves, then their high halves.
  void lower(double* const* rows, std::size_t* used) {
    const int l = level_;
    const std::size_t n = used[l], to = used[l - 1];
    const std::size_t half = std::size_t{1} << (l - 1);
    DCR_CHECK((to + 2 * n) * half <= store_.room,
              "more leaves below a doubling than the store holds");
    const double* from = rows[l];
    double* into = rows[l - 1] + to * half;
    for (std::size_t i = 0; i < n; ++i) {
      if (l == 2) {
        __builtin_memcpy(into + i * 2, from + i * 4, 2 * sizeof(double));
        __builtin_memcpy(into + (n + i) * 2, from + i * 4 + 2, 2 * sizeof(double));
      } else {
        __builtin_memcpy(into + i * 4, from + i * 8, 4 * sizeof(double));
        __builtin_memcpy(into + (n + i) * 4, from + i * 8 + 4, 4 * sizeof(double));
      }
    }
    used[l - 1] = to + 2 * n;
    used[l] = 0;
  }

  // Adds one lane's leaves. Without a test the two totals are independent
  // chains of additions, each over its own leaves in their order; the
  // tests are then needed only if the bound ends below the cut-off, as it
  // never rises (no failure leaf is negative, which is checked). If it
  // does end below, or a value is not a plain non-negative number, the
  // lane is added again from where it began, leaf by leaf in order with the
  // test where a step was entered: the same additions, and the cut-off at
  // its step.
  bool addLane(int lane, const segment& s, unsigned trailing, long long entered, double cutOff,
               double& sum, double& bound, long long& steps) const {
    const double* works = store_.works[1] + lane;
    const double* fails = store_.fails[1] + lane;
    const std::size_t nWorks = worksUsed_[1], nFails = failsUsed_[1];
    double su = sum, bo = bound;
    bool odd = false;
    const std::size_t paired = nWorks < nFails ? nWorks : nFails;
    for (std::size_t i = 0; i < paired; ++i) {
      su += works[2 * i] * 1.0;
      const double f = fails[2 * i];
      odd |= !(f >= 0.0);
      bo -= f;
    }
    for (std::size_t i = paired; i < nWorks; ++i)
      su += works[2 * i] * 1.0;
    for (std::size_t i = paired; i < nFails; ++i) {
      const double f = fails[2 * i];
      odd |= !(f >= 0.0);
      bo -= f;
    }
    if (!odd && !(cutOff > bo)) [[likely]] {
      sum = su;
      bound = bo;
      steps += entered;
      return true;
    }
    for (std::size_t i = s.start, w = 0, f = 0; i < used_; ++i) {
      const unsigned before = store_.meta[i] >> 1;
      if (before != 0 && cutOff > bound) return ++steps, false;  // at the first of them
      steps += before;
      if ((store_.meta[i] & 1) != 0)
        bound -= fails[2 * f++];
      else
        sum += works[2 * w++] * 1.0;
    }
    if (trailing != 0 && cutOff > bound) return ++steps, false;
    steps += trailing;
    return true;
  }

  laneStore store_;
  segment seg_[kMaxLevel + 1] = {};
  int level_ = 0;
  std::size_t used_ = 0;                       // leaves in meta
  std::size_t worksUsed_[kMaxLevel + 1] = {};  // rows of each level
  std::size_t failsUsed_[kMaxLevel + 1] = {};
  unsigned pending_ = 0;  // steps entered at this level since its last leaf
};

// A leaf below a doubling waits in the store (true); any other is added to
// the totals by the caller at once.
template <bool Failure, class Levels, class Prob>
bool waits(Levels& levels, const Prob& value) {
  if constexpr (__is_same(Prob, eightLanes)) {
    if (levels.level() != 0) {
      levels.template keep<Failure>(value);
      return true;
    }
  }
  return false;
}

}  // namespace

// The loop is built twice, with and without the watcher's test, so that
// an unwatched search (dcr's) keeps its tightest loop. A watched search
// does not double: the watcher sees the totals of every step as it comes.
template <bool Watched, class State>
[[gnu::always_inline]] inline void factorLoop(State s, double cutOff, totals& t,
                                              frameOf<State>* frames,
                                              [[maybe_unused]] long long frameCount,
                                              [[maybe_unused]] const laneStore& store) {
  using Frame = frameOf<State>;
  constexpr bool Doubling = doubles<State>() && !Watched;
  Frame* top = frames;  // one past the innermost pending step
  decltype(Frame::prob) prob = one<decltype(Frame::prob)>();
  long long steps = 0;
  double sum = t.sum;
  double bound = t.bound;
  [[maybe_unused]] const watch* const watcher = t.watcher;
  [[maybe_unused]] laneLevels<Frame> levels(store);
  const Frame* base = frames;  // where the walk of the current level began
  for (;;) {
    if (Doubling && levels.level() != 0) {
      // Below a doubling the totals wait for the rows: nothing to test.
      levels.stepped();
    } else {
      ++steps;
      if constexpr (Watched) {
        if ((steps & (kWatchEvery - 1)) == 0 &&
            watcher->poll(watcher->context, sum, bound, steps)) {
          t.stopped = true;
          break;
        }
      }
      if (cutOff > bound) {
        t.below = true;
        break;
      }
    }
    if (s.choose()) {
      if constexpr (Doubling) {
        if (levels.level() < kMaxLevel && s.left() <= kDoubleDepth && s.idle()) {
          levels.deepen(prob, s.prob(), top);
          ++t.doublings;
          base = top;
          s.skip();
          continue;
        }
      }
      DCR_CHECK(top - frames < frameCount, "more pending steps than live records");
      *top++ = {prob, s.push()};
      const auto works = prob * s.prob();
      if (!s.works()) {
        prob = works;
        continue;
      }
      if (!waits<false>(levels, works)) sum += first(works) * 1.0;
    }
    // The branch has ended: the fails branch of the innermost pending step.
    for (;;) {
      if (top == base) {
        if (!Doubling || levels.level() == 0) goto done;
        if (!levels.close(cutOff, sum, bound, steps)) {
          t.below = true;
          goto done;
        }
        base = levels.level() == 0 ? frames : levels.base();
        continue;
      }
      const Frame& f = *--top;
      s.resume(f.at);
      const auto fails = (1.0 - s.prob()) * f.prob;
      if (!s.fails()) {
        prob = fails;
        break;
      }
      if (!waits<true>(levels, fails)) bound -= first(fails);
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
                                            frameOf<State>* frames, long long frameCount) {
  factorLoop<true>(s, cutOff, t, frames, frameCount, laneStore{});
}

// `store` is needed by a state that doubles, with room for laneStore::roomFor
// its live records; other states ignore it.
template <class State>
inline void factor(State s, double cutOff, totals& t, frameOf<State>* frames, long long frameCount,
                   const laneStore& store = {}) {
  if (t.watcher) [[unlikely]] {
    factorWatched(s, cutOff, t, frames, frameCount);
    return;
  }
  factorLoop<false>(s, cutOff, t, frames, frameCount, store);
}

}  // namespace search
