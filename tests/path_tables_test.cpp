// The records' heads, folds and order and the mask search's tables, taken
// straight from the paths, against the same taken from the full link
// records: bit for bit, groups in the same order.
#include "reliability/path_tables.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "driver/answer.hpp"
#include "reliability/mask_search.hpp"
#include "reliability/my_graph.hpp"
#include "tests/reference/reference_engine.hpp"
#include "tests/support/test_graphs.hpp"

namespace {

using testnet::Case;

std::string bitsOf(double x) {
  std::uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return std::to_string(b);
}

// What the mask search and the tools read of the records, in one
// comparable form.
std::vector<std::string> heads(const myGraph& g) {
  std::vector<std::string> out;
  out.push_back("links " + std::to_string(g.numLinks));
  for (int r = 0; r < g.numLinks; ++r) {
    const int* rec = g.linkRecord(r);
    out.push_back("head " + std::to_string(rec[0]) + ' ' + std::to_string(rec[1]) + ' ' +
                  std::to_string(rec[2]) + " prob " + bitsOf(g.linkProb[r]) + " at " +
                  std::to_string(g.linkOrder[r]));
  }
  return out;
}

std::vector<std::string> tables(const myGraph& g, const masks::problem& mp) {
  std::vector<std::string> out = heads(g);
  out.push_back("live " + std::to_string(mp.live) + " pairs " + std::to_string(mp.pairs));
  for (double x : mp.probAt)
    out.push_back("prob " + bitsOf(x));
  for (std::size_t w : mp.wordStart)
    out.push_back("wordStart " + std::to_string(w));
  for (masks::bits a : mp.alive)
    out.push_back("alive " + std::to_string(a));
  for (std::size_t s : mp.groupStart)
    out.push_back("groupStart " + std::to_string(s));
  for (const masks::group& x : mp.groups)
    out.push_back("group " + std::to_string(x.pair) + ' ' + std::to_string(x.word) + ' ' +
                  std::to_string(x.onRecord) + ' ' + std::to_string(x.doneBy));
  return out;
}

myGraph graphOf(const Case& c) {
  return myGraph(c.net.offsets.data(), c.net.neighbours.data(), c.net.flags.data(), c.net.n,
                 c.net.m(), c.D, c.p, c.threshold);
}

std::vector<std::string> fromRecords(const Case& c) {
  myGraph g = graphOf(c);
  g.findAllPaths();
  g.buildPathState();
  g.buildLinkInfo();
  g.prepareLinks(true, true);
  masks::problem mp;
  g.buildMasksFromRecords(mp);
  return tables(g, mp);
}

// What the one-edge paths and folds of the cases seen so far exercised.
struct seen {
  int oneEdgeLater = 0;      // a one-edge path after another membership of its record
  int oneEdgeOtherWord = 0;  // ... in another word than the first membership
  int firstWordShared = 0;   // ... with the first two memberships in one word
  int folds = 0;             // records folded into another
};

std::vector<std::string> fromPaths(const Case& c, seen& s) {
  myGraph g = graphOf(c);
  g.findAllPaths();
  pathTables::plan plan;
  // Lists share a hash only by accident: none of these cases has one.
  if (!pathTables::planLinks(g, plan)) {
    ADD_FAILURE() << "the records' lists were not told apart";
    return {};
  }
  masks::problem mp;
  pathTables::fillMasks(g, plan, mp);
  for (int r = 0; r < g.numLinks; ++r) {
    s.folds += g.linkRecord(r)[0] == -1;
    if (plan.records[r].oneEdgeAt < 1) continue;
    ++s.oneEdgeLater;
    s.oneEdgeOtherWord += plan.records[r].oneEdgeWord != plan.records[r].firstWord;
    s.firstWordShared +=
        plan.records[r].oneEdgeAt >= 2 && plan.records[r].secondWord == plan.records[r].firstWord;
  }
  return tables(g, mp);
}

// Complete graphs with shuffled neighbour orders and several terminals:
// hundreds of paths per pair (several alive words), and every edge between
// two terminals carries a one-edge path that lands anywhere in its list.
Case denseCase(testnet::Rng& rng) {
  const int n = rng.between(5, 7);
  testnet::Edges edges = testnet::completeEdges(n);
  for (auto& [a, b] : edges)
    if (rng.chance(50)) std::swap(a, b);
  rng.shuffle(edges);
  std::vector<int> nodes;
  for (int v = 0; v < n; ++v)
    nodes.push_back(v);
  rng.shuffle(nodes);
  nodes.resize(rng.between(2, 4));
  Case c;
  c.net = testnet::makeNet(n, edges, nodes);
  static const int kD[] = {-1, 2, 3, 4, 5};
  c.D = kD[rng.below(5)];
  c.p = rng.unit();
  return c;
}

TEST(PathTables, MatchTheRecordsOnRandomProblems) {
  testnet::Rng rng(2026);
  seen s;
  for (int round = 0; round < 600; ++round) {
    const Case c = testnet::randomCase(rng, 16, 6);
    SCOPED_TRACE(testnet::problemText(c.net, c.D, c.p, c.threshold));
    ASSERT_EQ(fromPaths(c, s), fromRecords(c));
  }
  EXPECT_GT(s.folds, 50);
  EXPECT_GT(s.oneEdgeLater, 50);
}

TEST(PathTables, MatchTheRecordsWithManyWordsAndOneEdgePaths) {
  testnet::Rng rng(7);
  seen s;
  for (int round = 0; round < 150; ++round) {
    const Case c = denseCase(rng);
    SCOPED_TRACE(testnet::problemText(c.net, c.D, c.p, c.threshold));
    ASSERT_EQ(fromPaths(c, s), fromRecords(c));
  }
  // Each way a one-edge path reorders its record's groups has turned up.
  EXPECT_GT(s.oneEdgeOtherWord, 20);
  EXPECT_GT(s.firstWordShared, 20);
  EXPECT_GT(s.oneEdgeLater - s.firstWordShared, 20);
}

// Thousands of paths through long chains of nodes of degree 2: the records
// fold in large groups, and the folds' probabilities are products in
// record order.
TEST(PathTables, MatchTheRecordsOnLargeFoldingProblems) {
  const std::vector<Case> cases = {
      {testnet::makeNet(25, testnet::gridEdges(5, 5), {0, 24}), 12, 0.9, 2.0},
      {testnet::makeNet(25, testnet::gridEdges(5, 5), {0, 4, 12}), 10, 0.7, 2.0},
      {testnet::makeNet(14, testnet::cycleEdges(14), {0, 7}), 6, 0.3, 2.0},
      {testnet::makeNet(14, testnet::cycleEdges(14), {0, 7}), 7, 0.3, 2.0},
      {testnet::makeNet(8, testnet::completeEdges(8), {0, 3, 7}), -1, 0.9, 2.0},
  };
  seen s;
  for (const Case& c : cases) {
    SCOPED_TRACE(testnet::problemText(c.net, c.D, c.p, c.threshold));
    ASSERT_EQ(fromPaths(c, s), fromRecords(c));
  }
  EXPECT_GT(s.folds, 10);
}

// After a whole computation that ran a mask form, the records' heads,
// probabilities and order are those the stages leave (dcr-tool reads them
// to bound the search's rounding), and the answer and step count are those
// of the search on tables built from the records.
TEST(PathTables, ComputationLeavesTheStagesHeads) {
  testnet::Rng rng(11);
  int masksRan = 0;
  for (int round = 0; round < 400; ++round) {
    Case c = round % 2 ? testnet::randomCase(rng, 16, 6) : denseCase(rng);
    c.threshold = rng.chance(30) ? rng.unit() : -1.0;
    SCOPED_TRACE(testnet::problemText(c.net, c.D, c.p, c.threshold));
    myGraph whole = graphOf(c);
    const double answer = whole.computeReliability();
    if (whole.searchRan == myGraph::searchForm::table) continue;
    ++masksRan;
    myGraph staged = graphOf(c);
    staged.findAllPaths();
    staged.buildPathState();
    staged.buildLinkInfo();
    staged.prepareLinks(true, true);
    ASSERT_EQ(heads(whole), heads(staged));
    masks::problem mp;
    staged.buildMasksFromRecords(mp);
    masks::totals t{0.0, 1.0};
    masks::searchTrailed(mp, c.threshold, t);
    EXPECT_EQ(bitsOf(t.below ? -1.0 : t.sum), bitsOf(answer));
    EXPECT_EQ(t.steps, whole.searchSteps);
  }
  EXPECT_GT(masksRan, 300);
}

// Beyond 256 nodes the edge numbers come from a hash table instead of a
// node-by-node matrix: a ladder of 2 x 150 nodes (150 shortest paths
// between opposite corners; 11176 paths of at most 151 edges along one
// side) and a cycle of 300 nodes with three terminals against the records,
// and the cycle's answer against the reference's.
TEST(PathTables, MatchTheRecordsOnLargeGraphs) {
  const testnet::Edges ladder = testnet::gridEdges(2, 150);
  const Case cycle{testnet::makeNet(300, testnet::cycleEdges(300), {0, 100, 250}), -1, 0.99, -1.0};
  const std::vector<Case> cases = {
      {testnet::makeNet(300, ladder, {0, 299}), 150, 0.9, -1.0},
      {testnet::makeNet(300, ladder, {0, 149}), 151, 0.9, 0.5},
      cycle,
  };
  seen s;
  for (const Case& c : cases) {
    SCOPED_TRACE(testnet::problemText(c.net, c.D, c.p, c.threshold));
    ASSERT_EQ(fromPaths(c, s), fromRecords(c));
  }
  myGraph g = graphOf(cases[0]);
  g.findAllPaths();
  EXPECT_EQ(g.numPaths, 150);
  myGraph whole = graphOf(cycle);
  EXPECT_EQ(answerText(whole.computeReliability()),
            answerText(testnet::reliabilityOf<reference::myGraph>(cycle.net, cycle.D, cycle.p,
                                                                  cycle.threshold)));
}

}  // namespace
