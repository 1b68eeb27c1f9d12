// The step counter must replay the reference search exactly: same answer
// bit for bit, same accumulators, and the number of factor() entries that
// can be worked out by hand on small problems.
#include "bench/step_count.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "bench/problems.hpp"
#include "tests/reference/reference_engine.hpp"

namespace {

bool sameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

StepCount counted(const Problem& p) {
  reference::myGraph g(p.KAO.data(), p.FO.data(), p.TERMINALS.data(), p.N, p.M, p.D, p.R, p.R0);
  return countSteps(g);
}

void expectSameAsReference(const Problem& p) {
  reference::myGraph g(p.KAO.data(), p.FO.data(), p.TERMINALS.data(), p.N, p.M, p.D, p.R, p.R0);
  const double expected = g.computeReliability();
  const StepCount c = counted(p);
  EXPECT_TRUE(sameBits(c.result, expected)) << c.result << " vs " << expected;
  EXPECT_TRUE(sameBits(c.reliability, g.reliability)) << c.reliability << " vs " << g.reliability;
  EXPECT_TRUE(sameBits(c.upperBound, g.upperBound)) << c.upperBound << " vs " << g.upperBound;
  EXPECT_EQ(c.belowThreshold, g.belowThreshold);
  EXPECT_GE(c.steps, 1u);
}

}  // namespace

TEST(StepCount, SingleEdgeIsOneStep) {
  const StepCount c = counted(bench::fromEdges(2, {{0, 1}}, {0, 1}, 1, 0.9, 0.5));
  EXPECT_EQ(c.steps, 1u);
  EXPECT_EQ(c.result, 0.9);
}

TEST(StepCount, TriangleTakesTwoSteps) {
  // Paths [0,1] and [0,2,1]; {1,2} folds into {0,2}; leaves 0.25 and 0.375.
  const StepCount c = counted(bench::fromEdges(3, {{0, 1}, {0, 2}, {1, 2}}, {0, 1}, 2, 0.5, 0.5));
  EXPECT_EQ(c.steps, 2u);
  EXPECT_EQ(c.result, 0.625);
  EXPECT_EQ(c.upperBound, 0.625);
}

TEST(StepCount, ThresholdAboveOneStopsAtTheRoot) {
  const StepCount c = counted(bench::grid(3, 3, {0, 8}, 4, 0.9, 1.5));
  EXPECT_EQ(c.steps, 1u);
  EXPECT_EQ(c.result, -1.0);
  EXPECT_TRUE(c.belowThreshold);
}

TEST(StepCount, CompleteBipartiteTwoByNTakesNSteps) {
  // Terminals 0 and 1, middles 2..n+1: every middle gives one folded link
  // of probability p*p, tried one after another down the fails chain.
  const int n = 7;
  std::vector<std::pair<int, int>> edges;
  for (int i = 0; i < n; ++i)
    edges.emplace_back(0, 2 + i);
  for (int i = 0; i < n; ++i)
    edges.emplace_back(1, 2 + i);
  const double p = 0.9, p2 = p * p;
  const StepCount c = counted(bench::fromEdges(n + 2, edges, {0, 1}, 2, p, 0.5));
  double r = 0.0, q = 1.0;
  for (int i = 0; i < n; ++i) {
    r += q * p2;
    q = (1.0 - p2) * q;
  }
  EXPECT_EQ(c.steps, static_cast<std::uint64_t>(n));
  EXPECT_TRUE(sameBits(c.result, r));
}

TEST(StepCount, PathFoldsIntoOneStep) {
  const int n = 9;
  std::vector<std::pair<int, int>> edges;
  for (int i = 0; i + 1 < n; ++i)
    edges.emplace_back(i, i + 1);
  const double p = 0.99;
  const StepCount c = counted(bench::fromEdges(n, edges, {0, n - 1}, -1, p, 0.5));
  double r = 1.0;
  for (int i = 0; i + 1 < n; ++i)
    r = r * p;
  EXPECT_EQ(c.steps, 1u);
  EXPECT_TRUE(sameBits(c.result, r));
}

TEST(StepCount, CutOffCountsTheEntryThatFindsIt) {
  // A threshold near 1 is crossed after a few failure leaves; the search
  // stops at the next entry into factor() and so takes fewer steps.
  const Problem yes = bench::dodecahedron({0, 7, 15}, 5, 0.8, 0.0);
  const Problem no = bench::dodecahedron({0, 7, 15}, 5, 0.8, 0.99);
  const StepCount all = counted(yes), cut = counted(no);
  EXPECT_FALSE(all.belowThreshold);
  EXPECT_TRUE(cut.belowThreshold);
  EXPECT_EQ(cut.result, -1.0);
  EXPECT_LT(cut.steps, all.steps);
  expectSameAsReference(yes);
  expectSameAsReference(no);
}

TEST(StepCount, MatchesReferenceOnRandomProblems) {
  const double thresholds[] = {0.0, 0.3, 0.6, 0.9, 1.0};
  for (std::uint32_t seed = 1; seed <= 40; ++seed) {
    const int n = 5 + static_cast<int>(seed % 5);
    const int k = 2 + static_cast<int>(seed % 3);
    const int D = (seed % 4 == 0) ? -1 : 2 + static_cast<int>(seed % 3);
    const double p = 0.5 + 0.01 * seed;
    for (double t : thresholds) {
      SCOPED_TRACE(testing::Message() << "seed " << seed << " threshold " << t);
      expectSameAsReference(bench::randomGraph(seed, n, 0.5, k, D, p, t));
    }
  }
}

TEST(StepCount, MatchesReferenceOnGrids) {
  for (int D : {4, 6, -1}) {
    for (double t : {0.0, 0.5, 0.8}) {
      SCOPED_TRACE(testing::Message() << "D " << D << " threshold " << t);
      expectSameAsReference(bench::grid(3, 4, {0, 3, 11}, D, 0.7, t));
    }
  }
}

TEST(StepCount, OneWorkingLinkCanJoinTwoPairs) {
  // Path 0-1-2, all three terminals: the sort puts {1,2} first; once it
  // works, {0,1} joins pairs (0,1) and (0,2) in the same step.
  const StepCount c = counted(bench::fromEdges(3, {{0, 1}, {1, 2}}, {0, 1, 2}, 2, 0.5, 0.2));
  EXPECT_EQ(c.steps, 2u);
  EXPECT_EQ(c.result, 0.25);
  EXPECT_EQ(c.upperBound, 0.25);
}

TEST(StepCount, PairWithoutPathsNeverSucceeds) {
  // Terminal 2 is isolated: its pairs have no path, are never joined and
  // never fail; the branch that joins (0,1) runs out of links.
  const StepCount c = counted(bench::fromEdges(3, {{0, 1}}, {0, 1, 2}, 1, 0.9, 0.5));
  EXPECT_EQ(c.steps, 2u);
  EXPECT_EQ(c.result, 0.0);
  EXPECT_EQ(c.upperBound, 1.0 - 0.1 * 1.0);
}

TEST(Problems, GridListsNeighboursUpLeftRightDown) {
  const Problem g = bench::grid(3, 3, {0, 8}, 4, 0.9, 0.5);
  EXPECT_EQ(g.N, 9);
  EXPECT_EQ(g.M, 12);
  // Node 4 (the centre, number 5) lists 2, 4, 6, 8.
  const std::vector<int> centre(g.FO.begin() + g.KAO[4], g.FO.begin() + g.KAO[5]);
  EXPECT_EQ(centre, (std::vector<int>{2, 4, 6, 8}));
  EXPECT_EQ(g.TERMINALS, (std::vector<int>{1, 0, 0, 0, 0, 0, 0, 0, 1}));
}

TEST(Problems, DodecahedronIsCubicAndSymmetric) {
  const Problem d = bench::dodecahedron({0}, 5, 0.9, 0.5);
  ASSERT_EQ(d.N, 20);
  EXPECT_EQ(d.M, 30);
  ASSERT_EQ(d.KAO.back(), 60);
  for (int u = 0; u < d.N; ++u) {
    EXPECT_EQ(d.KAO[u + 1] - d.KAO[u], 3) << "node " << u;
    for (int i = d.KAO[u]; i < d.KAO[u + 1]; ++i) {
      const int w = d.FO[i] - 1;
      const auto first = d.FO.begin() + d.KAO[w], last = d.FO.begin() + d.KAO[w + 1];
      EXPECT_EQ(std::count(first, last, u + 1), 1) << u << " -- " << w;
    }
  }
}
