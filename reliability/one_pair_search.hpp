// The one-pair form of the mask search, written once for the plain unit and
// the 256-bit one. Like reliability/snapshot_search.hpp it includes nothing
// from the library and gives its state internal linkage, so that the
// 256-bit unit shares no code with plain code.
//
// One pair: joining it is success, so the state is its alive word alone and
// each mark keeps a copy of it instead of a trail. One row per position:
// the paths that survive the record failing, the paths whose last record it
// is, and the record's probability. The 256-bit build also walks the
// subtree below an idle record once for both branches (doubling); on plain
// code the eight lanes would go through memory at every step, so it
// walks each.
#pragma once

#include <cstdint>

#include "reliability/factor_skeleton.hpp"

namespace masks {

struct pairRow {
  std::uint64_t keep;
  std::uint64_t doneBy;
  double prob;
};

namespace {

template <bool Doubling>
class onePairState {
 public:
  using bits = std::uint64_t;
  static constexpr bool canDouble = Doubling;
  struct mark {
    const pairRow* at;
    bits alive;
  };
  onePairState(const pairRow* rows, int live, bits alive)
      : at_(rows), end_(rows + live), a_(alive) {}

  // The alive word is never empty on entry to a step (that is a failure
  // leaf), so some path completes at or before the last position.
  bool choose() const { return true; }
  double prob() const { return at_->prob; }
  mark push() const { return {at_, a_}; }
  bool works() {
    if ((a_ & at_->doneBy) != 0) return true;
    ++at_;
    return false;
  }
  int left() const { return static_cast<int>(end_ - at_); }
  bool idle() const { return (a_ & ~at_->keep) == 0; }
  void skip() { ++at_; }
  void resume(const mark& m) {
    at_ = m.at;
    a_ = m.alive;
  }
  bool fails() {
    a_ &= at_->keep;
    if (a_ == 0) return true;
    ++at_;
    return false;
  }

 private:
  const pairRow* at_;
  const pairRow* end_;
  bits a_;
};

// The frames of either build fit in blocks of this many bytes, aligned so.
constexpr std::size_t onePairFrameBytes = 128;
static_assert(sizeof(search::frameOf<onePairState<true>>) <= onePairFrameBytes &&
              sizeof(search::frameOf<onePairState<false>>) <= onePairFrameBytes);

template <bool Doubling>
void onePairSearch(const pairRow* rows, int live, std::uint64_t alive, double cutOff,
                   search::totals& t, void* frames, const search::laneStore& store) {
  using state = onePairState<Doubling>;
  using frame = search::frameOf<state>;
  search::factor(state(rows, live, alive), cutOff, t, static_cast<frame*>(frames), live + 1LL,
                 store);
}

}  // namespace

#if DCR_AVX2_SEARCH
// The one-pair search with doubling, for CPUs with AVX2 (callers check):
// `frames` holds live + 1 blocks of onePairFrameBytes.
void searchOnePairAvx2(const pairRow* rows, int live, std::uint64_t alive, double cutOff,
                       search::totals& t, void* frames, const search::laneStore& store);
#endif

}  // namespace masks
