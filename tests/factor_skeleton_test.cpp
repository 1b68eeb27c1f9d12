// The factoring loop's doublings, on made-up search trees: walking one
// subtree for both branches of an idle record must give the totals, the
// step count and the cut-off point of walking each branch, bit for bit.
// The trees come from a hash of (position, state), so they have what real
// searches rarely show together: idle records at any depth, branches that
// run past the last position without a leaf, more positions than a
// doubling may start within, and cut-offs anywhere.
#include "reliability/factor_skeleton.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "reliability/lane_store.hpp"
#include "reliability/one_pair_search.hpp"
#include "support/test_graphs.hpp"

namespace {

std::uint64_t mix(std::uint64_t h, int q, int salt) {
  h ^= (static_cast<std::uint64_t>(q) << 8 | static_cast<std::uint64_t>(salt)) *
       0x9e3779b97f4a7c15ULL;
  h ^= h >> 31;
  h *= 0xbf58476d1ce4e5b9ULL;
  return h ^ (h >> 29);
}

// A tree over `probs.size()` positions: at (q, h) the record is idle when
// a hash says so (both branches then go on to the same state), else each
// branch ends in a leaf or goes on to a state of its own. Past the last
// position a branch ends with no leaf.
struct treeState {
  static constexpr bool canDouble = true;
  struct mark {
    int q;
    std::uint64_t h;
  };
  const std::vector<double>* probs;
  int leafOdds;  // a branch that may end does so one time in leafOdds
  int q = 0;
  std::uint64_t h = 1;

  int n() const { return static_cast<int>(probs->size()); }
  bool choose() const { return q < n(); }
  double prob() const { return (*probs)[q]; }
  mark push() const { return {q, h}; }
  void resume(const mark& m) {
    q = m.q;
    h = m.h;
  }
  int left() const { return n() - q; }
  bool idle() const { return mix(h, q, 3) % 3 == 0; }
  void skip() {
    h = mix(h, q, 0);
    ++q;
  }
  bool branch(int salt) {
    if (idle()) {
      skip();
      return false;
    }
    if (mix(h, q, salt) % leafOdds == 0) return true;
    h = mix(h, q, salt + 10);
    ++q;
    return false;
  }
  bool works() { return branch(1); }
  bool fails() { return branch(2); }
};

// The same tree, walked branch by branch.
struct singleTreeState : treeState {
  static constexpr bool canDouble = false;
};

template <class State>
search::totals run(const State& s, double cutOff, const search::laneMemory& store) {
  search::totals t{0.0, 1.0};
  std::vector<search::frameOf<State>> frames(s.probs->size() + 1);
  search::factor(s, cutOff, t, frames.data(), static_cast<long long>(frames.size()), store.store());
  return t;
}

}  // namespace

TEST(FactorSkeleton, DoublingTakesTheStepsAndSumsOfWalkingEachBranch) {
  testnet::Rng rng(2027);
  const search::laneMemory store(search::kDoubleDepth);  // one for all runs
  long long doublings = 0, cut = 0, cutWhileDoubling = 0;
  for (int round = 0; round < 400; ++round) {
    std::vector<double> probs(1 + rng.below(21));
    for (double& p : probs)
      p = 0.05 + 0.9 * rng.unit();
    const int leafOdds = 3 + rng.below(3);
    const treeState doubled{&probs, leafOdds};
    const singleTreeState single{{&probs, leafOdds}};
    // Uncut, then cut-offs spread over the range the bound falls through.
    const search::totals whole = run(single, -1.0, store);
    for (int k = 0; k <= 6; ++k) {
      const double cutOff = k == 0 ? -1.0 : whole.bound + (1.0 - whole.bound) * rng.unit();
      const search::totals a = run(doubled, cutOff, store);
      const search::totals b = run(single, cutOff, store);
      SCOPED_TRACE(testing::Message() << "round " << round << " cut-off " << cutOff);
      ASSERT_EQ(a.sum, b.sum);
      ASSERT_EQ(a.bound, b.bound);
      ASSERT_EQ(a.steps, b.steps);
      ASSERT_EQ(a.below, b.below);
      ASSERT_EQ(b.doublings, 0);
      doublings += a.doublings;
      cut += a.below;
      cutWhileDoubling += a.below && a.doublings > 0;
    }
  }
  EXPECT_GT(doublings, 10000);
  EXPECT_GT(cutWhileDoubling, 300);
  EXPECT_GT(cut, cutWhileDoubling);
}

// The one-pair state, doubling and not (the 256-bit build doubles, plain
// code does not), on random pairs of up to 64 paths over up to 20
// positions: the same totals, steps and cut-off, bit for bit.
TEST(FactorSkeleton, OnePairDoublesLikeItWalks) {
  testnet::Rng rng(77);
  const search::laneMemory store(30);
  long long doublings = 0;
  for (int round = 0; round < 300; ++round) {
    const int live = 1 + rng.below(20);
    const int paths = 1 + rng.below(64);
    std::vector<masks::pairRow> rows(live, masks::pairRow{~std::uint64_t{0}, 0, 0.0});
    for (masks::pairRow& r : rows)
      r.prob = 0.05 + 0.9 * rng.unit();
    for (int j = 0; j < paths; ++j) {
      int last = -1;
      for (int q = 0; q < live; ++q)
        if (rng.below(live) < 4) {
          rows[q].keep &= ~(std::uint64_t{1} << j);
          last = q;
        }
      if (last < 0) {
        last = rng.below(live);
        rows[last].keep &= ~(std::uint64_t{1} << j);
      }
      rows[last].doneBy |= std::uint64_t{1} << j;
    }
    const std::uint64_t alive = paths == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << paths) - 1;
    struct alignas(64) block {
      unsigned char bytes[masks::onePairFrameBytes];
    };
    std::vector<block> frames(live + 1);
    auto run = [&](bool doubling, double cutOff) {
      search::totals t{0.0, 1.0};
      if (doubling)
        masks::onePairSearch<true>(rows.data(), live, alive, cutOff, t, frames.data(),
                                   store.store());
      else
        masks::onePairSearch<false>(rows.data(), live, alive, cutOff, t, frames.data(), {});
      return t;
    };
    const search::totals whole = run(false, -1.0);
    for (int k = 0; k <= 4; ++k) {
      const double cutOff = k == 0 ? -1.0 : whole.bound + (1.0 - whole.bound) * rng.unit();
      const search::totals a = run(true, cutOff), b = run(false, cutOff);
      SCOPED_TRACE(testing::Message() << "round " << round << " cut-off " << cutOff);
      ASSERT_EQ(a.sum, b.sum);
      ASSERT_EQ(a.bound, b.bound);
      ASSERT_EQ(a.steps, b.steps);
      ASSERT_EQ(a.below, b.below);
      doublings += a.doublings;
    }
  }
  EXPECT_GT(doublings, 1000);
}
