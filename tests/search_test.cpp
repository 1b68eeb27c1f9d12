// The factoring search: worked results as the exact text of the answer,
// the threshold cut-off, and closed forms.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "driver/answer.hpp"
#include "graph/my_graph.hpp"
#include "tests/test_graphs.hpp"

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
