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
// Up to two idle records nest (four lanes), and only within the last
// kDoubleDepth positions, which bounds the row store (see laneLevels).
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

inline constexpr long long kWatchEvery = 1LL << 20;

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

// Where the leaves below a doubling wait: the values of success leaves in
// `works` and of failure leaves in `fails`, a row of four lanes each (of
// eight lanes at the third level, in `works8` and `fails8`: two entries a
// row), and for every leaf in order a word (steps entered since the
// previous leaf of its segment) * 2 + (1 for a failure leaf); `room`
// entries of each.
struct laneStore {
  lanes* works = nullptr;
  lanes* fails = nullptr;
  lanes* works8 = nullptr;
  lanes* fails8 = nullptr;
  unsigned* meta = nullptr;
  std::size_t room = 0;

  // Rows a store needs: the leaves of a subtree below a doubling, for one
  // of the lanes that entered it, which is at most 2^(positions left - 1).
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
// segment is open the level below keeps no leaf, so a segment's leaves are
// the store's last. The store stays within room: the leaves of a level-1
// segment are those of its subtree for one of its lanes (at most
// 2^(kDoubleDepth - 1)), and those of a deeper segment are some of them;
// the third level's, in rows of eight lanes, become the second level's
// when it closes.
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
    seg_[++level_] = {top, used_, worksUsed_, failsUsed_, pending_};
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
    DCR_CHECK(used_ < store_.room, "more leaves below a doubling than the store holds");
    if (level_ == kMaxLevel) {
      DCR_CHECK(2 * (Failure ? fails8Used_ : works8Used_) + 1 < store_.room,
                "more leaves below a third doubling than the store holds");
      lanes* row = Failure ? store_.fails8 + 2 * fails8Used_++ : store_.works8 + 2 * works8Used_++;
      row[0] = value.lo;
      row[1] = value.hi;
    } else {
      (Failure ? store_.fails[failsUsed_++] : store_.works[worksUsed_++]) = value.lo;
    }
    store_.meta[used_++] = pending_ << 1 | static_cast<unsigned>(Failure);
    pending_ = 0;
  }

  // The walk is back at the current segment's base. At level 2 the leaves
  // become level 1's: those of the works lanes stay, those of the fails
  // lanes (2 and 3) are appended as lanes 0 and 1. At level 1 they are
  // added to the totals, lane 0's then lane 1's, each with the threshold
  // test where a step was entered before a leaf; false when the test fires.
  bool close(double cutOff, double& sum, double& bound, long long& steps) {
    const segment s = seg_[level_--];
    const unsigned trailing = pending_;
    if (level_ != 0) {
      lift(store_.meta, s.start, used_);
      if (level_ == 1) {
        lift(store_.works, s.worksStart, worksUsed_);
        lift(store_.fails, s.failsStart, failsUsed_);
      } else {
        halve(store_.works8, works8Used_, store_.works, worksUsed_);
        halve(store_.fails8, fails8Used_, store_.fails, failsUsed_);
      }
      const std::size_t count = used_ - s.start;
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
    used_ = s.start;
    worksUsed_ = s.worksStart;
    failsUsed_ = s.failsStart;
    pending_ = 0;
    return true;
  }

 private:
  struct segment {
    const Frame* base;
    std::size_t start, worksStart, failsStart;
    unsigned pendingBefore;
  };

  // Appends a copy of entries [from, to) after `to`; for rows, lanes 2 and
  // 3 become lanes 0 and 1, element by element (plain two-lane code would
  // shuffle through memory and stall on each row).
  void lift(unsigned* meta, std::size_t from, std::size_t to) {
    DCR_CHECK(2 * to - from <= store_.room, "more leaves below a doubling than the store holds");
    for (std::size_t i = from; i < to; ++i)
      meta[to + i - from] = meta[i];
  }
  void lift(lanes* rows, std::size_t from, std::size_t& to) {
    DCR_CHECK(2 * to - from <= store_.room, "more leaves below a doubling than the store holds");
    for (std::size_t i = from; i < to; ++i) {
      rows[to + i - from][0] = rows[i][2];
      rows[to + i - from][1] = rows[i][3];
    }
    to += to - from;
  }

  // Appends a third-level segment's rows as rows of four lanes: the low
  // halves (the works lanes), then the high halves.
  void halve(const lanes* rows8, std::size_t& count, lanes* rows, std::size_t& to) {
    DCR_CHECK(to + 2 * count <= store_.room, "more leaves below a doubling than the store holds");
    for (std::size_t i = 0; i < count; ++i) {
      rows[to + i] = rows8[2 * i];
      rows[to + count + i] = rows8[2 * i + 1];
    }
    to += 2 * count;
    count = 0;
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
    const lanes* works = store_.works + s.worksStart;
    const lanes* fails = store_.fails + s.failsStart;
    const std::size_t nWorks = worksUsed_ - s.worksStart, nFails = failsUsed_ - s.failsStart;
    double su = sum, bo = bound;
    bool odd = false;
    const std::size_t paired = nWorks < nFails ? nWorks : nFails;
    for (std::size_t i = 0; i < paired; ++i) {
      su += works[i][lane] * 1.0;
      const double f = fails[i][lane];
      odd |= !(f >= 0.0);
      bo -= f;
    }
    for (std::size_t i = paired; i < nWorks; ++i)
      su += works[i][lane] * 1.0;
    for (std::size_t i = paired; i < nFails; ++i) {
      const double f = fails[i][lane];
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
        bound -= fails[f++][lane];
      else
        sum += works[w++][lane] * 1.0;
    }
    if (trailing != 0 && cutOff > bound) return ++steps, false;
    steps += trailing;
    return true;
  }

  laneStore store_;
  segment seg_[kMaxLevel + 1] = {};
  int level_ = 0;
  std::size_t used_ = 0, worksUsed_ = 0, failsUsed_ = 0;
  std::size_t works8Used_ = 0, fails8Used_ = 0;  // rows of the third level
  unsigned pending_ = 0;                         // steps entered at this level since its last leaf
};

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
      if constexpr (Doubling) {
        if (levels.level() != 0) {
          levels.template keep<false>(works);
          goto ended;
        }
      }
      sum += first(works) * 1.0;
    }
    [[maybe_unused]] ended :
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
      if constexpr (Doubling) {
        if (levels.level() != 0) {
          levels.template keep<true>(fails);
          continue;
        }
      }
      bound -= first(fails);
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
