// The snapshot form of the mask search, written once for any word-operation
// kit. Included by the units that instantiate it (plain, and 256-bit where
// the CPU has it); a kit is a type local to its unit, so each instantiation
// is that unit's own. Nothing here comes from the library: the 256-bit unit
// must emit no inline library code, which the linker could otherwise pick
// for the plain code as well.
//
// A state is W words, W the number of alive words rounded up to a multiple
// of the kit's `lanes`, the padding words all ones: held by the state up to
// 16 words (heldState), else one slot of the search's words
// (snapshotState). Word i holds pair i's first 64 paths; a pair's further
// words come after all pairs' first words. A kit provides, over W words:
//
//   joins(s, d)             bit w set when s[w] & d[w] != 0 (bits from W up: any)
//   cut(from, keep, to)     to[w] = from[w] & keep[w]; bit w set when to[w] == 0
//
// and over one pack of `lanes` words (the held state's unit):
//
//   load(p), both(a, b) = a & b, butNot(a, b) = a & ~b, zeros(a) (bit i set
//   when word i is 0)
#pragma once

#include <cstddef>
#include <cstdint>

#include "reliability/checks.hpp"
#include "reliability/factor_skeleton.hpp"

namespace masks {

using bits = std::uint64_t;
constexpr std::size_t snapshotLanes = 4;

namespace {  // each unit its own copy: this one's code may be 256-bit

// One row per branching position, 2W + lanes words:
//
//   [ keep: W words | doneBy: W words | prob | padding ]
//
//   keep    the bits that survive the record failing (~ its paths; padding
//           and untouched words all ones)
//   doneBy  the paths whose last record stands at this position
//   prob    the record's probability, its bit pattern
struct snapshotRow {
  static constexpr std::size_t stride(std::size_t W) { return 2 * W + snapshotLanes; }
  static const bits* keep(const bits* row) { return row; }
  static const bits* doneBy(const bits* row, std::size_t W) { return row + W; }
  static double prob(const bits* row, std::size_t W) {
    return __builtin_bit_cast(double, row[2 * W]);
  }
};

}  // namespace

// A pending step: its row, the slot of alive words it saw, and the pairs
// open (not joined) when it began.
struct snapshotMark {
  const bits* row;
  bits* slot;
  bits open;
};

// The tables a snapshot search runs on (built by snapshotTables).
struct snapshotView {
  const bits* rows;  // live rows, snapshotRow layout
  std::size_t W;
  int live;
  bits* slots;  // live + 1 slots of W words, slot 0 the root's alive words
  bits everyPair;
  // For pairs with more than one word: slot words below `pairs` are the
  // pairs' first words, and pairsOfWords[256 * k + b] holds the pairs with
  // a word among slot words 8k .. 8k + 7 whose bit is set in b (a table of
  // 256 for every 8 words of W).
  bits firstWords;  // slot words that are some pair's first word
  bits pathWords;   // slot words that hold paths (padding excluded)
  bits multiWord;   // pairs with more than one word
  const bits* pairsOfWords;
  search::frame<snapshotMark>* frames;  // live + 1
  // Room for the frames of a state that holds its words (heldState):
  // `heldBytes` bytes, aligned to 64.
  void* held;
  std::size_t heldBytes;
  search::laneStore lanes;  // for the held state's doublings
};

namespace {

// For pairs with more than one word: the pairs with a word in `mask`, and
// the pairs with every word in it. W words are looked up a byte at a time.
bits pairsTouching(const snapshotView& v, bits mask, std::size_t W) {
  bits found = 0;
  for (std::size_t k = 0; 8 * k < W; ++k)
    found |= v.pairsOfWords[256 * k + (mask >> 8 * k & 0xff)];
  return found;
}
bits pairsWithin(const snapshotView& v, bits mask, std::size_t W) {
  return v.firstWords & ~pairsTouching(v, ~mask & v.pathWords, W);
}

}  // namespace

// The state of a step is one slot of W words plus, in its mark, the mask of
// pairs not yet joined. A works branch changes no alive word, so the next
// step keeps the slot; a fails branch writes its cut state into the slot
// above its own. Slots never decrease up the frame stack, and frames above
// one that is resumed are gone, so when a fails branch writes the slot
// above its own no pending step uses it, and nothing has written its own
// since the step saw it: no trail, no undo. A slot index is at most the
// step's position, so memory is live + 1 slots.
//
// A fails branch cuts joined pairs' words too: those are never read again,
// and a joined pair emptying is no failure.
//
// `Vectors` fixes W at lanes * Vectors words at compile time (the search is
// chosen so that it matches), so the word loops unroll; 0 leaves W to the
// problem.
template <class Kit, int Vectors, bool MultiWord>
class snapshotState {
 public:
  using mark = snapshotMark;
  explicit snapshotState(const snapshotView& v)
      : v_(v), row_(v.rows), s_(v.slots), open_(v.everyPair) {}

  bool choose() const { return row_ != v_.rows + v_.live * stride(); }
  double prob() const { return snapshotRow::prob(row_, W()); }
  mark push() const { return {row_, s_, open_}; }
  bool works() {
    const bits joins = Kit::joins(s_, snapshotRow::doneBy(row_, W()), W());
    open_ &= ~(MultiWord ? pairsTouching(v_, joins, W()) : joins);
    if (open_ == 0) return true;
    row_ += stride();
    return false;
  }
  void resume(const mark& m) {
    row_ = m.row;
    s_ = m.slot;
    open_ = m.open;
  }
  bool fails() {
    DCR_CHECK(static_cast<std::size_t>(s_ - v_.slots) / W() <=
                  static_cast<std::size_t>(row_ - v_.rows) / stride(),
              "a snapshot slot above its step's position");
    bits emptied = Kit::cut(s_, snapshotRow::keep(row_), s_ + W(), W());
    if (MultiWord) emptied = pairsWithin(v_, emptied, W());
    if ((emptied & open_) != 0) return true;
    row_ += stride();
    s_ += W();
    return false;
  }

 private:
  std::size_t W() const {
    if constexpr (Vectors != 0)
      return Kit::lanes * static_cast<std::size_t>(Vectors);
    else
      return v_.W;
  }
  std::size_t stride() const { return snapshotRow::stride(W()); }
  snapshotView v_;
  const bits* row_;  // the step's position
  bits* s_;          // the step's alive words
  bits open_;        // the pairs not joined yet
};

// The same steps with the alive words held by the state itself, up to a
// few packs of them: each mark keeps a copy of the words its step saw, so a
// fails branch cuts them in place and nothing goes through the slots. What
// the next step reads is then at hand instead of behind a store and a load.
template <class Kit, int Vectors, bool MultiWord>
class heldState {
 public:
  using pack = typename Kit::pack;
  struct mark {
    pack alive[Vectors];
    const bits* row;
    bits open;
  };
  static constexpr bool canDouble = true;
  explicit heldState(const snapshotView& v) : v_(v), row_(v.rows), open_(v.everyPair) {
    for (int i = 0; i < Vectors; ++i)
      a_[i] = Kit::load(v.slots + i * Kit::lanes);
  }

  bool choose() const { return row_ != v_.rows + v_.live * stride(); }
  double prob() const { return snapshotRow::prob(row_, kW); }
  mark push() const {
    mark m;
    for (int i = 0; i < Vectors; ++i)
      m.alive[i] = a_[i];
    m.row = row_;
    m.open = open_;
    return m;
  }
  bool works() {
    const bits* done = snapshotRow::doneBy(row_, kW);
    bits none = 0;
    for (int i = 0; i < Vectors; ++i)
      none |= Kit::zeros(Kit::both(a_[i], Kit::load(done + i * Kit::lanes))) << (i * Kit::lanes);
    const bits joins = ~none;
    open_ &= ~(MultiWord ? pairsTouching(v_, joins, kW) : joins);
    if (open_ == 0) return true;
    row_ += stride();
    return false;
  }
  int left() const { return v_.live - static_cast<int>((row_ - v_.rows) / stride()); }
  bool idle() const {
    // Words where the record kills an alive path; none may be an open pair's.
    const bits* keep = snapshotRow::keep(row_);
    bits untouched = 0;
    for (int i = 0; i < Vectors; ++i)
      untouched |= Kit::zeros(Kit::butNot(a_[i], Kit::load(keep + i * Kit::lanes)))
                   << (i * Kit::lanes);
    const bits touched = ~untouched;
    return ((MultiWord ? pairsTouching(v_, touched, kW) : touched) & open_) == 0;
  }
  void skip() { row_ += stride(); }
  void resume(const mark& m) {
    for (int i = 0; i < Vectors; ++i)
      a_[i] = m.alive[i];
    row_ = m.row;
    open_ = m.open;
  }
  bool fails() {
    const bits* keep = snapshotRow::keep(row_);
    bits emptied = 0;
    for (int i = 0; i < Vectors; ++i) {
      a_[i] = Kit::both(a_[i], Kit::load(keep + i * Kit::lanes));
      emptied |= Kit::zeros(a_[i]) << (i * Kit::lanes);
    }
    if (MultiWord) emptied = pairsWithin(v_, emptied, kW);
    if ((emptied & open_) != 0) return true;
    row_ += stride();
    return false;
  }

 private:
  static constexpr std::size_t kW = Kit::lanes * static_cast<std::size_t>(Vectors);
  static constexpr std::size_t stride() { return snapshotRow::stride(kW); }

  snapshotView v_;
  pack a_[Vectors];
  const bits* row_;
  bits open_;
};

template <class Kit, int Vectors, bool MultiWord>
void snapshotSearch(const snapshotView& v, double cutOff, search::totals& t) {
  static_assert(Kit::lanes == snapshotLanes);
  if constexpr (Vectors == 0) {
    search::factor(snapshotState<Kit, Vectors, MultiWord>(v), cutOff, t, v.frames, v.live + 1LL);
  } else {
    // Frames of their own: each holds its step's words.
    using state = heldState<Kit, Vectors, MultiWord>;
    using frame = search::frameOf<state>;
    DCR_CHECK(sizeof(frame) * (v.live + 1U) <= v.heldBytes, "held frames beyond their room");
    frame* frames = static_cast<frame*>(v.held);
    search::factor(state(v), cutOff, t, frames, v.live + 1LL, v.lanes);
  }
}

// Runs the instantiation whose W and word layout fit the problem.
template <class Kit, bool MultiWord>
void snapshotSearchSized(const snapshotView& v, double cutOff, search::totals& t) {
  switch (v.W / Kit::lanes) {
    case 1:
      return snapshotSearch<Kit, 1, MultiWord>(v, cutOff, t);
    case 2:
      return snapshotSearch<Kit, 2, MultiWord>(v, cutOff, t);
    case 3:
      return snapshotSearch<Kit, 3, MultiWord>(v, cutOff, t);
    case 4:
      return snapshotSearch<Kit, 4, MultiWord>(v, cutOff, t);
    default:
      return snapshotSearch<Kit, 0, MultiWord>(v, cutOff, t);
  }
}

template <class Kit>
void snapshotSearchSized(const snapshotView& v, double cutOff, search::totals& t) {
  if (v.multiWord == 0)
    snapshotSearchSized<Kit, false>(v, cutOff, t);
  else
    snapshotSearchSized<Kit, true>(v, cutOff, t);
}

#if DCR_AVX2_SEARCH
// The snapshot search with 256-bit word operations; callers check the CPU.
void searchSnapshotsAvx2(const snapshotView& v, double cutOff, search::totals& t);
#endif

}  // namespace masks
