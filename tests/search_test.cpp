// The factoring search: worked results as the exact text of the answer,
// the threshold cut-off, closed forms, step counts and the choice of form.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "driver/answer.hpp"
#include "reliability/factor_skeleton.hpp"
#include "reliability/my_graph.hpp"
#include "tests/support/problems.hpp"
#include "tests/support/test_graphs.hpp"

namespace {

using testnet::makeNet;
using testnet::Net;

std::string answer(const Net& net, int D, double p, double threshold) {
  return answerText(testnet::reliabilityOf<myGraph>(net, D, p, threshold));
}

const testnet::Edges kTriangle = {{0, 1}, {0, 2}, {1, 2}};

TEST(Search, WorkedResults) {
  const Net edge = makeNet(2, {{0, 1}}, {0, 1});
  const Net tri = makeNet(3, kTriangle, {0, 1});
  const Net line3 = makeNet(3, testnet::pathEdges(3), {0, 1, 2});
  const Net k4 = makeNet(4, testnet::completeEdges(4), {0, 1, 2, 3});
  const Net tri3 = makeNet(3, kTriangle, {0, 1, 2});
  const Net lone = makeNet(3, kTriangle, {2});
  const Net none = makeNet(3, kTriangle, {});
  struct Worked {
    const Net& net;
    int D;
    double p, threshold;
    const char* text;
  };
  const Worked cases[] = {
      {edge, 1, 0.9, 0.5, "YES\r\n0.90000000000000002220"},
      {edge, -1, 0.9, 0.5, "YES\r\n0.90000000000000002220"},
      // The failure leaf drops the bound to 0.9, but no step runs after it.
      {edge, 1, 0.9, 0.95, "YES\r\n0.90000000000000002220"},
      {tri, 2, 0.5, 0.5, "YES\r\n0.62500000000000000000"},
      {tri, 2, 0.5, 0.7, "YES\r\n0.62500000000000000000"},
      {tri, 1, 0.5, 0.5, "YES\r\n0.50000000000000000000"},
      {line3, 2, 0.5, 0.2, "YES\r\n0.25000000000000000000"},
      {line3, 1, 0.5, 0.2, "YES\r\n0.00000000000000000000"},
      {tri, 2, 0.5, 1.5, "NO"},
      {edge, 0, 0.9, 1.0000001, "NO"},
      {edge, 0, 0.9, 0.5, "YES\r\n0.00000000000000000000"},
      {edge, 1, 0.0, 0.0, "YES\r\n0.00000000000000000000"},
      {k4, -1, 1.0, 1.0, "YES\r\n1.00000000000000000000"},
      {lone, -1, 0.9, 0.5, "YES\r\n0.00000000000000000000"},
      {none, -1, 0.9, 1.5, "NO"},
      // p = -1.0 makes the search pass over every link that no fold has multiplied.
      {edge, 1, -1.0, 0.5, "YES\r\n0.00000000000000000000"},
      {tri3, 2, -1.0, 0.5, "YES\r\n0.00000000000000000000"},
  };
  for (const Worked& c : cases) {
    SCOPED_TRACE(testnet::problemText(c.net, c.D, c.p, c.threshold));
    EXPECT_EQ(answer(c.net, c.D, c.p, c.threshold), c.text);
  }
}

TEST(Search, ThresholdOnlyTestedOnEntryToAStep) {
  const Net edge = makeNet(2, {{0, 1}}, {0, 1});
  myGraph g(edge.offsets.data(), edge.neighbours.data(), edge.flags.data(), 2, 1, 1, 0.9, 0.95);
  EXPECT_EQ(g.computeReliability(), 0.9);
  EXPECT_EQ(g.reliability, 0.9);
  EXPECT_EQ(g.upperBound, 1.0 - 0.1);
  EXPECT_FALSE(g.belowThreshold);
}

TEST(Search, CutOffOnceTheBoundFallsBelowTheThreshold) {
  // Triangle, all three nodes terminals, D = 2: joined exactly when two edges work, R = 0.5.
  // The first link's works half ends with one failure leaf (0.125); the bound 0.875 is
  // then seen on entry to the next step of its fails half.
  const Net tri = makeNet(3, kTriangle, {0, 1, 2});
  myGraph g(tri.offsets.data(), tri.neighbours.data(), tri.flags.data(), 3, 3, 2, 0.5, 0.9);
  EXPECT_EQ(g.computeReliability(), -1.0);
  EXPECT_TRUE(g.belowThreshold);
  EXPECT_LT(g.upperBound, 0.9);
  // 0.8 is never above the bound a step sees on entry: the search runs to the end and
  // answers with its reliability, though that is below the threshold.
  EXPECT_EQ(answer(tri, 2, 0.5, 0.8), "YES\r\n0.50000000000000000000");
  // 4-cycle, opposite terminals: the last leaf is the only failure, 1 - (1 - p^2)^2.
  EXPECT_EQ(answer(makeNet(4, testnet::cycleEdges(4), {0, 2}), 2, 0.5, 0.9),
            "YES\r\n0.43750000000000000000");
}

TEST(Search, ClosedForms) {
  for (double p : {0.1, 0.5, 0.83}) {
    // A path of L edges between its two ends: p^L, and nothing for D < L.
    for (int L = 1; L <= 6; ++L) {
      const Net line = makeNet(L + 1, testnet::pathEdges(L + 1), {0, L});
      EXPECT_NEAR(testnet::reliabilityOf<myGraph>(line, L, p, -1), std::pow(p, L), 1e-15);
      EXPECT_EQ(testnet::reliabilityOf<myGraph>(line, L - 1, p, -1), 0.0);
    }
    // k disjoint routes of 3 edges between nodes 0 and 1: 1 - (1 - p^3)^k.
    for (int k = 1; k <= 4; ++k) {
      testnet::Edges e;
      for (int r = 0; r < k; ++r) {
        const int a = 2 + 2 * r, b = a + 1;
        e.insert(e.end(), {{0, a}, {a, b}, {b, 1}});
      }
      const Net routes = makeNet(2 + 2 * k, e, {0, 1});
      EXPECT_NEAR(testnet::reliabilityOf<myGraph>(routes, 3, p, -1),
                  1 - std::pow(1 - std::pow(p, 3), k), 1e-15);
    }
    // A star with all leaves terminals: every pair needs both its spokes, so all of them.
    const Net star = makeNet(5, {{0, 1}, {0, 2}, {0, 3}, {0, 4}}, {1, 2, 3, 4});
    EXPECT_NEAR(testnet::reliabilityOf<myGraph>(star, 2, p, -1), std::pow(p, 4), 1e-15);
  }
}

}  // namespace

namespace {

myGraph graphOf(const Problem& p) {
  return myGraph(p.KAO.data(), p.FO.data(), p.TERMINALS.data(), p.N, p.M, p.D, p.R, p.R0);
}

bool sameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// The engine's own step count: entries into a factoring step, the root's
// and the one that finds the bound below the threshold included.
TEST(Search, StepCountsWorkedOutByHand) {
  struct Counted {
    const char* what;
    Problem problem;
    long long steps;
    double result;
  };
  const double p = 0.9, p2 = p * p;
  // Terminals 0 and 1 joined through 7 middle nodes: every middle gives one
  // folded link of probability p*p, tried one after another down the fails
  // chain.
  std::vector<std::pair<int, int>> k27;
  for (int i = 0; i < 7; ++i)
    k27.insert(k27.end(), {{0, 2 + i}, {1, 2 + i}});
  double k27r = 0.0, q = 1.0;
  for (int i = 0; i < 7; ++i) {
    k27r += q * p2;
    q = (1.0 - p2) * q;
  }
  std::vector<std::pair<int, int>> line9;
  for (int i = 0; i + 1 < 9; ++i)
    line9.emplace_back(i, i + 1);
  double line9r = 1.0;
  for (int i = 0; i + 1 < 9; ++i)
    line9r = line9r * 0.99;
  const Counted cases[] = {
      {"single edge", examples::fromEdges(2, {{0, 1}}, {0, 1}, 1, 0.9, 0.5), 1, 0.9},
      // Paths [0,1] and [0,2,1]; {1,2} folds into {0,2}; leaves 0.25 and 0.375.
      {"triangle", examples::fromEdges(3, {{0, 1}, {0, 2}, {1, 2}}, {0, 1}, 2, 0.5, 0.5), 2, 0.625},
      {"threshold above 1", examples::grid(3, 3, {0, 8}, 4, 0.9, 1.5), 1, -1.0},
      {"K(2,7)", examples::fromEdges(9, k27, {0, 1}, 2, p, 0.5), 7, k27r},
      {"path folds into one link", examples::fromEdges(9, line9, {0, 8}, -1, 0.99, 0.5), 1, line9r},
      // Path 0-1-2, all terminals: once {1,2} works, {0,1} joins pairs
      // (0,1) and (0,2) in the same step.
      {"one link joins two pairs", examples::fromEdges(3, {{0, 1}, {1, 2}}, {0, 1, 2}, 2, 0.5, 0.2),
       2, 0.25},
      // Terminal 2 is isolated: its pairs are never joined and never fail;
      // the branch that joins (0,1) runs out of links.
      {"pair without paths", examples::fromEdges(3, {{0, 1}}, {0, 1, 2}, 1, 0.9, 0.5), 2, 0.0},
  };
  for (const Counted& c : cases) {
    SCOPED_TRACE(c.what);
    myGraph g = graphOf(c.problem);
    EXPECT_TRUE(sameBits(g.computeReliability(), c.result));
    EXPECT_EQ(g.searchSteps, c.steps);
  }
}

// The root step compares the threshold with 1 whatever the paths, so a
// threshold above 1 is answered before any is enumerated: even paths that
// would not fit in memory are never looked for.
TEST(Search, ThresholdAboveOneAnswersBeforeAnyPath) {
  myGraph g = graphOf(examples::grid(6, 6, {0, 35}, 24, 0.9, 1.0000001));
  g.memoryLimit = 0;
  EXPECT_EQ(g.computeReliability(), -1.0);
  EXPECT_TRUE(g.belowThreshold);
  EXPECT_EQ(g.numPaths, 0);
  EXPECT_EQ(g.searchSteps, 1);
  myGraph exactlyOne = graphOf(examples::grid(2, 2, {0, 3}, 2, 0.9, 1.0));
  exactlyOne.memoryLimit = 0;
  EXPECT_THROW(exactlyOne.computeReliability(), pathStoreFull);
}

TEST(Search, CutOffCountsTheEntryThatFindsIt) {
  myGraph all = graphOf(examples::dodecahedron({0, 7, 15}, 5, 0.8, 0.0));
  myGraph cut = graphOf(examples::dodecahedron({0, 7, 15}, 5, 0.8, 0.99));
  EXPECT_NE(all.computeReliability(), -1.0);
  EXPECT_EQ(cut.computeReliability(), -1.0);
  EXPECT_GT(cut.searchSteps, 1);
  EXPECT_LT(cut.searchSteps, all.searchSteps);
}

// Each form is chosen where it is meant to run, and a forced form that
// cannot take a problem shows which form ran instead.
TEST(Search, ChoosesEachFormWhereItIsMeantToRun) {
  using form = myGraph::searchForm;
  auto ran = [](const Problem& p, form asked) {
    myGraph g = graphOf(p);
    g.search = asked;
    g.computeReliability();
    return g.searchRan;
  };
  const Problem onePair = examples::dodecahedron({0, 17}, 5, 0.9, 0.5);
  const Problem fivePairs = examples::dodecahedron({0, 3, 7, 12, 16}, 4, 0.9, 0.5);
  const Problem isolated = examples::fromEdges(4, {{0, 1}, {1, 2}}, {0, 2, 3}, 2, 0.9, 0.5);
  // 12 terminals: 66 pairs, beyond one word of pairs; at D = 2 some pairs
  // have no path, and the table form answers at the root.
  std::vector<int> twelve;
  for (int i = 0; i < 12; ++i)
    twelve.push_back(i);
  const Problem manyPairs = examples::dodecahedron(twelve, 2, 0.9, 0.0);
  // The same terminals within reach of each other: every pair has a path,
  // so the trailed form takes them, its joined pairs kept as flags.
  const Problem manyJoinable = examples::dodecahedron(twelve, 5, 0.9, 0.5);
  // p = -1.0 on an unfolded link: the search passes over it.
  const Problem passedOver = examples::fromEdges(2, {{0, 1}}, {0, 1}, 1, -1.0, 0.5);
  std::vector<std::pair<int, int>> k2n;
  for (int i = 2; i < 5002; ++i)
    k2n.insert(k2n.end(), {{0, i}, {1, i}});
  const Problem manyPaths = examples::fromEdges(5002, k2n, {0, 1}, 2, 0.3, 0.5);

  EXPECT_EQ(ran(onePair, form::chosen), form::onePair);
  EXPECT_EQ(ran(fivePairs, form::chosen), form::snapshotMasks);
  EXPECT_EQ(ran(isolated, form::chosen), form::trailedMasks);
  EXPECT_EQ(ran(manyPaths, form::chosen), form::trailedMasks);
  EXPECT_EQ(ran(manyPairs, form::chosen), form::table);
  EXPECT_EQ(ran(manyJoinable, form::chosen), form::trailedMasks);
  EXPECT_EQ(ran(manyJoinable, form::snapshotMasks), form::trailedMasks);
  EXPECT_EQ(ran(passedOver, form::chosen), form::table);
  // Forced where another would be chosen.
  for (form f : {form::table, form::trailedMasks, form::snapshotMasks, form::plainSnapshotMasks,
                 form::onePair})
    EXPECT_EQ(ran(onePair, f), f);
  for (form f : {form::table, form::trailedMasks, form::plainSnapshotMasks})
    EXPECT_EQ(ran(fivePairs, f), f);
  // Forced where it cannot run: the chosen form runs, visibly.
  EXPECT_EQ(ran(fivePairs, form::onePair), form::snapshotMasks);
  EXPECT_EQ(ran(isolated, form::snapshotMasks), form::trailedMasks);
  EXPECT_EQ(ran(manyPaths, form::plainSnapshotMasks), form::trailedMasks);
  EXPECT_EQ(ran(manyPairs, form::trailedMasks), form::table);
  EXPECT_EQ(ran(passedOver, form::snapshotMasks), form::table);
  // No search at all: nothing ran.
  EXPECT_EQ(ran(examples::grid(3, 3, {0, 8}, 4, 0.9, 1.5), form::snapshotMasks), form::chosen);
}

TEST(Examples, GridListsNeighboursUpLeftRightDown) {
  const Problem g = examples::grid(3, 3, {0, 8}, 4, 0.9, 0.5);
  EXPECT_EQ(g.N, 9);
  EXPECT_EQ(g.M, 12);
  // Node 4 (the centre, number 5) lists 2, 4, 6, 8.
  const std::vector<int> centre(g.FO.begin() + g.KAO[4], g.FO.begin() + g.KAO[5]);
  EXPECT_EQ(centre, (std::vector<int>{2, 4, 6, 8}));
  EXPECT_EQ(g.TERMINALS, (std::vector<int>{1, 0, 0, 0, 0, 0, 0, 0, 1}));
}

TEST(Examples, DodecahedronIsCubicAndSymmetric) {
  const Problem d = examples::dodecahedron({0}, 5, 0.9, 0.5);
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

}  // namespace

#if DCR_CHECKS
// The checking build stops at a broken invariant instead of computing on.
TEST(ChecksDeathTest, StagesOutOfOrderStopTheProgram) {
  const Problem p = examples::fromEdges(3, {{0, 1}, {1, 2}}, {0, 2}, 2, 0.9, 0.5);
  EXPECT_DEATH(
      {
        myGraph g = graphOf(p);
        g.buildPathState();
      },
      "stages out of order");
  EXPECT_DEATH(
      {
        myGraph g = graphOf(p);
        g.computeReliability();
        g.findAllPaths();
      },
      "stages out of order");
}
#endif

namespace {

// A watcher that counts its polls and stops at the poll numbered `stopAt`
// (0: never).
struct counter {
  long long polls = 0;
  long long stopAt = 0;
  double sum = 0, bound = 1;
  static bool poll(void* self, double sum, double bound, long long) {
    counter& c = *static_cast<counter*>(self);
    c.sum = sum;
    c.bound = bound;
    return ++c.polls == c.stopAt;
  }
};

// Watching a search changes nothing it computes; stopping it leaves bounds
// that hold for the value of the whole search, in every form.
TEST(Search, AWatcherSeesProgressAndCanStopIt) {
  using form = myGraph::searchForm;
  struct Case {
    Problem problem;
    std::vector<form> forms;
  };
  // About 5 million steps with three terminals, 18 million with two.
  const Case cases[] = {
      {examples::dodecahedron({0, 5, 12}, 6, 0.9, 0.0),
       {form::table, form::trailedMasks, form::snapshotMasks, form::plainSnapshotMasks}},
      {examples::dodecahedron({0, 17}, 7, 0.9, 0.0), {form::onePair}}};
  for (const Case& c : cases) {
    const Problem& p = c.problem;
    myGraph plain = graphOf(p);
    plain.computeReliability();
    ASSERT_GT(plain.searchSteps, 3 * search::kWatchEvery);
    for (form f : c.forms) {
      SCOPED_TRACE(static_cast<int>(f));
      counter quiet;
      const search::watch watchQuietly{&counter::poll, &quiet};
      myGraph watched = graphOf(p);
      watched.search = f;
      watched.searchWatch = &watchQuietly;
      watched.computeReliability();
      EXPECT_EQ(watched.searchRan, f);
      EXPECT_FALSE(watched.searchStopped);
      EXPECT_EQ(std::memcmp(&watched.reliability, &plain.reliability, sizeof(double)), 0);
      EXPECT_EQ(std::memcmp(&watched.upperBound, &plain.upperBound, sizeof(double)), 0);
      EXPECT_EQ(watched.searchSteps, plain.searchSteps);
      EXPECT_EQ(quiet.polls, plain.searchSteps / search::kWatchEvery);
      EXPECT_LE(quiet.sum, plain.reliability);
      EXPECT_GE(quiet.bound, plain.upperBound);

      counter stopper;
      stopper.stopAt = 2;
      const search::watch watchAndStop{&counter::poll, &stopper};
      myGraph stopped = graphOf(p);
      stopped.search = f;
      stopped.searchWatch = &watchAndStop;
      const double result = stopped.computeReliability();
      EXPECT_TRUE(stopped.searchStopped);
      EXPECT_EQ(stopped.searchSteps, 2 * search::kWatchEvery);
      EXPECT_EQ(result, stopped.reliability);
      EXPECT_LT(stopped.reliability, plain.reliability);
      EXPECT_GT(stopped.upperBound, plain.upperBound);
    }
  }
}

}  // namespace
