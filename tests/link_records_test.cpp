// Path-state rows, link records, folding of equivalent links and the
// branching order.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "reliability/my_graph.hpp"
#include "tests/support/test_graphs.hpp"

namespace {

using testnet::makeNet;
using testnet::Net;
using Ints = std::vector<int>;

// A graph with its paths, tables and records built, not yet prepared.
std::unique_ptr<myGraph> tables(const Net& net, int D, double p = 0.5) {
  auto g = std::make_unique<myGraph>(net.offsets.data(), net.neighbours.data(), net.flags.data(),
                                     net.n, net.m(), D, p, 0.5);
  g->findAllPaths();
  g->buildPathState();
  g->buildLinkInfo();
  return g;
}

Ints row(const myGraph& g, int pair) {
  const int* r = g.pathRow(pair);
  return Ints(r, r + 2 * (g.terminalPairs[pair].paths.size() + 1));
}

// A folded record keeps its memberships, but its count no longer tells how many.
Ints record(const myGraph& g, int r, int memberships) {
  const int* rec = g.linkRecord(r);
  return Ints(rec, rec + 3 + 2 * memberships);
}
Ints record(const myGraph& g, int r) {
  return record(g, r, g.linkRecord(r)[0]);
}

Ints order(const myGraph& g) {
  Ints out;
  for (int i = 0; i < g.numLinks; ++i)
    out.push_back(g.linkOrder[i]);
  return out;
}

const testnet::Edges kTriangle = {{0, 1}, {0, 2}, {1, 2}};  // lists 0: 1,2  1: 0,2  2: 0,1

TEST(LinkRecords, MembershipsInScanOrderWithTheOneEdgePathFirst) {
  // Pairs (0,1), (0,2), (1,2); each pair has its one-edge path and one of two edges.
  const auto g = tables(makeNet(3, kTriangle, {0, 1, 2}), 2);
  ASSERT_EQ(g->numLinks, 3);
  EXPECT_EQ(record(*g, 0), (Ints{3, 0, 1, 0, 0, 1, 0, 2, 0}));
  EXPECT_EQ(record(*g, 1), (Ints{3, 0, 2, 1, 1, 0, 1, 2, 0}));
  EXPECT_EQ(record(*g, 2), (Ints{3, 1, 2, 2, 1, 1, 0, 0, 1}));
  EXPECT_EQ(row(*g, 0), (Ints{0, 2, 1, 1, 1, 2}));
  EXPECT_EQ(row(*g, 1), (Ints{0, 2, 1, 2, 1, 1}));
  EXPECT_EQ(row(*g, 2), (Ints{0, 2, 1, 2, 1, 1}));
}

TEST(LinkRecords, EdgesOnNoPathGetNoRecord) {
  // 4-cycle 0-1-2-3 with terminals 0 and 1; edges numbered from their lower end.
  const Net ring = makeNet(4, testnet::cycleEdges(4), {0, 1});
  const auto direct = tables(ring, 1);
  ASSERT_EQ(direct->numLinks, 1);
  EXPECT_EQ(record(*direct, 0), (Ints{1, 0, 1, 0, 0}));

  const auto both = tables(ring, 3);
  ASSERT_EQ(both->numLinks, 4);
  EXPECT_EQ(record(*both, 0), (Ints{1, 0, 1, 0, 0}));
  EXPECT_EQ(record(*both, 1), (Ints{1, 0, 3, 0, 1}));
  EXPECT_EQ(record(*both, 2), (Ints{1, 1, 2, 0, 1}));
  EXPECT_EQ(record(*both, 3), (Ints{1, 2, 3, 0, 1}));
  EXPECT_EQ(row(*both, 0), (Ints{0, 2, 1, 1, 1, 3}));

  const auto none = tables(ring, 0);
  EXPECT_EQ(none->numPaths, 0);
  EXPECT_EQ(none->numLinks, 0);
  EXPECT_EQ(row(*none, 0), (Ints{0, 0}));
}

TEST(PrepareLinks, SeriesEdgesFold) {
  // Path 0-1-2, terminals 0 and 2: both edges lie on the one path.
  const double p = 0.3;
  const auto two = tables(makeNet(3, testnet::pathEdges(3), {0, 2}), 2, p);
  two->prepareLinks(true, true);
  EXPECT_EQ(two->linkRecord(1)[0], -1);
  EXPECT_EQ(two->linkProb[0], p * p);
  EXPECT_EQ(row(*two, 0), (Ints{0, 1, 1, 1}));
  EXPECT_EQ(two->linkOrder[0], 0);

  // Three in series fold into the first, two decisions fewer on the path.
  const double q = 0.7;
  const auto three = tables(makeNet(4, testnet::pathEdges(4), {0, 3}), -1, q);
  three->prepareLinks(true, true);
  EXPECT_EQ(record(*three, 0), (Ints{1, 0, 1, 0, 0}));
  EXPECT_EQ(three->linkRecord(1)[0], -1);
  EXPECT_EQ(three->linkRecord(2)[0], -1);
  EXPECT_EQ(three->linkProb[0], q * q * q);
  EXPECT_EQ(row(*three, 0), (Ints{0, 1, 1, 1}));
  EXPECT_EQ(three->linkOrder[0], 0);

  // Triangle, terminals 0 and 1: {1,2} folds into {0,2}, which then sorts first.
  const auto tri = tables(makeNet(3, kTriangle, {0, 1}), 2, 0.5);
  tri->prepareLinks(true, true);
  EXPECT_EQ(tri->linkRecord(2)[0], -1);
  EXPECT_EQ(record(*tri, 2, 1), (Ints{-1, 1, 2, 0, 1}));
  EXPECT_EQ(tri->linkProb[1], 0.25);
  EXPECT_EQ(tri->linkProb[2], 0.5);
  EXPECT_EQ(row(*tri, 0), (Ints{0, 2, 1, 1, 1, 1}));
  EXPECT_EQ(order(*tri), (Ints{1, 0, 2}));
}

TEST(PrepareLinks, EqualCountsWithDifferentListsDoNotFold) {
  // Path 0-1-2 with all nodes terminals: {0,1} lists (0,0),(1,0); {1,2} lists (2,0),(1,0).
  const auto g = tables(makeNet(3, testnet::pathEdges(3), {0, 1, 2}), 2);
  g->prepareLinks(true, true);
  EXPECT_EQ(record(*g, 0), (Ints{2, 0, 1, 0, 0, 1, 0}));
  EXPECT_EQ(record(*g, 1), (Ints{2, 1, 2, 2, 0, 1, 0}));
  EXPECT_EQ(g->linkProb[0], 0.5);
  EXPECT_EQ(g->linkProb[1], 0.5);
  EXPECT_EQ(order(*g), (Ints{1, 0}));
}

TEST(PrepareLinks, RandomGraphsEndFullyFoldedAndSorted) {
  testnet::Rng rng(4242);
  for (int round = 0; round < 200; ++round) {
    const testnet::Case c = testnet::randomCase(rng, 16, 5);
    SCOPED_TRACE(testnet::problemText(c.net, c.D, c.p, c.threshold));
    const auto g = tables(c.net, c.D, c.p);
    std::vector<Ints> before;
    for (int r = 0; r < g->numLinks; ++r)
      before.push_back(record(*g, r));
    g->prepareLinks(true, true);
    const int n = g->numLinks;

    const Ints positions = order(*g);
    Ints sorted = positions;
    std::sort(sorted.begin(), sorted.end());
    for (int i = 0; i < n; ++i)
      ASSERT_EQ(sorted[i], i);
    for (int i = 1; i < n; ++i) {
      const int prev = g->linkRecord(positions[i - 1])[0], cur = g->linkRecord(positions[i])[0];
      if (prev == -1) {
        EXPECT_EQ(cur, -1) << "a live record behind a folded one";
      } else if (cur != -1) {
        EXPECT_GE(prev, cur);
      }
    }
    // A record is folded exactly when an earlier one has the same memberships; the live
    // one carries p to the power of its group's size.
    for (int j = 0; j < n; ++j) {
      int first = j, group = 0;
      for (int i = n - 1; i >= 0; --i) {
        if (before[i][0] == before[j][0] &&
            std::equal(before[i].begin() + 3, before[i].end(), before[j].begin() + 3)) {
          first = i;
          ++group;
        }
      }
      EXPECT_EQ(g->linkRecord(j)[0], first == j ? before[j][0] : -1);
      if (first == j) {
        double expected = c.p;
        for (int k = 1; k < group; ++k)
          expected = expected * c.p;
        EXPECT_EQ(g->linkProb[j], expected);
      } else {
        EXPECT_EQ(g->linkProb[j], c.p);
      }
    }
  }
}

}  // namespace
