// The engine against the straightforward reference: every stage's tables
// and the exact answer text must be the same, bit for bit.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "driver/answer.hpp"
#include "reliability/my_graph.hpp"
#include "tests/reference/reference_engine.hpp"
#include "tests/support/rounds.hpp"
#include "tests/support/test_graphs.hpp"

namespace {

using testnet::Case;

// Thresholds that never cut off, always cut off, or land anywhere in
// between, so that both answers turn up.
double randomThreshold(testnet::Rng& rng) {
  switch (rng.below(8)) {
    case 0:
      return -1.0;
    case 1:
      return 0.0;
    case 2:
      return 1.0 + rng.unit();
    case 3:
      return 1.0 - rng.unit() * 1e-3;
    default:
      return rng.unit();
  }
}

// Everything the stages leave behind, in one comparable form.
template <class Graph>
std::vector<std::string> stages(const Case& c) {
  Graph g(c.net.offsets.data(), c.net.neighbours.data(), c.net.flags.data(), c.net.n, c.net.m(),
          c.D, c.p, c.threshold);
  std::vector<std::string> out;
  auto ints = [&out](const std::string& tag, auto begin, auto end) {
    std::string s = tag;
    for (auto it = begin; it != end; ++it)
      s += ' ' + std::to_string(*it);
    out.push_back(s);
  };
  g.findAllPaths();
  ints("terminals", g.terminals.begin(), g.terminals.end());
  for (const auto& tp : g.terminalPairs) {
    out.push_back("pair " + std::to_string(tp.source) + ' ' + std::to_string(tp.target));
    for (std::size_t j = 0; j < tp.paths.size(); ++j)
      ints("path", tp.paths[j].begin(), tp.paths[j].end());
  }
  out.push_back("paths " + std::to_string(g.numPaths));
  g.buildPathState();
  g.buildLinkInfo();
  for (int r = 0; r < g.numLinks; ++r) {
    const int* rec = g.linkRecord(r);
    ints("record", rec, rec + 3 + 2 * rec[0]);
  }
  g.prepareLinks(true, true);
  for (std::size_t i = 0; i < g.terminalPairs.size(); ++i) {
    const int* row = g.pathRow(static_cast<int>(i));
    ints("row", row, row + 2 * (g.terminalPairs[i].paths.size() + 1));
  }
  for (int r = 0; r < g.numLinks; ++r) {
    std::uint64_t bits;
    std::memcpy(&bits, &g.linkProb[r], sizeof bits);
    out.push_back("count " + std::to_string(g.linkRecord(r)[0]) + " prob " + std::to_string(bits));
  }
  std::vector<int> order;
  for (int i = 0; i < g.numLinks; ++i)
    order.push_back(g.linkOrder[i]);
  ints("order", order.begin(), order.end());
  return out;
}

TEST(Differential, StagesMatchTheReference) {
  testnet::Rng rng(99);
  for (int round = 0; round < 300; ++round) {
    const Case c = testnet::randomCase(rng, 16, 6);
    SCOPED_TRACE(testnet::problemText(c.net, c.D, c.p, c.threshold));
    ASSERT_EQ(stages<myGraph>(c), stages<reference::myGraph>(c));
  }
}

// Thousands of long paths per pair, so that consecutive paths share long
// first parts (the link pass reuses their edges), many partial paths cannot
// reach the target within the hops left (enumeration drops them), and the
// records fold in groups.
TEST(Differential, StagesMatchTheReferenceOnLargePathSets) {
  const std::vector<Case> cases = {
      {testnet::makeNet(25, testnet::gridEdges(5, 5), {0, 24}), 12, 0.9, 2.0},
      {testnet::makeNet(25, testnet::gridEdges(5, 5), {0, 4, 12}), 10, 0.9, 2.0},
      {testnet::makeNet(8, testnet::completeEdges(8), {0, 3, 7}), -1, 0.9, 2.0},
      {testnet::makeNet(14, testnet::cycleEdges(14), {0, 7}), 6, 0.9, 2.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testnet::problemText(c.net, c.D, c.p, c.threshold));
    ASSERT_EQ(stages<myGraph>(c), stages<reference::myGraph>(c));
  }
}

TEST(Differential, AnswersMatchTheReferenceByteForByte) {
  testnet::Rng rng(31337);
  int no = 0, yes = 0;
  for (int round = 0; round < test_support::rounds(3000); ++round) {
    Case c = testnet::randomCase(rng, 15, 6);
    c.threshold = randomThreshold(rng);
    const std::string fast =
        answerText(testnet::reliabilityOf<myGraph>(c.net, c.D, c.p, c.threshold));
    const std::string slow =
        answerText(testnet::reliabilityOf<reference::myGraph>(c.net, c.D, c.p, c.threshold));
    ASSERT_EQ(fast, slow) << testnet::problemText(c.net, c.D, c.p, c.threshold);
    ++(fast == "NO" ? no : yes);
  }
  // Both answers must have been exercised for the comparison to mean much.
  EXPECT_GT(no, test_support::rounds(3000) / 30);
  EXPECT_GT(yes, test_support::rounds(3000) / 30);
}

// Every form of the search must take the same steps to the same answer:
// forced, each form also runs where another would be chosen, and the
// snapshot form runs both with and without wide word operations. A forced
// form that cannot take a problem gives way to the chosen one; each form
// must have run on its share of the cases, so that a form quietly giving
// way everywhere shows. The complete graph on 6 nodes with no hop limit has
// 65 paths per pair, so its alive sets take two words.
TEST(Differential, SearchFormsTakeTheSameSteps) {
  using form = myGraph::searchForm;
  const form forced[] = {form::table, form::trailedMasks, form::snapshotMasks,
                         form::plainSnapshotMasks, form::onePair};
  std::map<form, int> asked, ranAsAsked, doubled, doubledAndCut;
  int noSearch = 0, tableOnly = 0;  // cases with no search, cases only the table form takes
  auto run = [&](const Case& c, form f) {
    myGraph g(c.net.offsets.data(), c.net.neighbours.data(), c.net.flags.data(), c.net.n, c.net.m(),
              c.D, c.p, c.threshold);
    g.search = f;
    const std::string answer = answerText(g.computeReliability());
    ++asked[f];
    if (g.searchRan == f) ++ranAsAsked[f];
    if (g.searchDoublings > 0) ++(g.belowThreshold ? doubledAndCut : doubled)[g.searchRan];
    return std::make_tuple(answer, g.searchSteps, g.searchRan);
  };
  auto compare = [&](const Case& c) {
    const auto chosen = run(c, form::chosen);
    noSearch += std::get<2>(chosen) == form::chosen;
    tableOnly += std::get<2>(chosen) == form::table;
    for (form f : forced) {
      const auto [answer, steps, ran] = run(c, f);
      SCOPED_TRACE(testnet::problemText(c.net, c.D, c.p, c.threshold));
      ASSERT_EQ(answer, std::get<0>(chosen));
      ASSERT_EQ(steps, std::get<1>(chosen));
      // Giving way is to the chosen form, never to a third one.
      if (ran != f) {
        ASSERT_EQ(ran, std::get<2>(chosen));
      }
    }
  };
  testnet::Rng rng(4242);
  for (int round = 0; round < 1500; ++round) {
    Case c = testnet::randomCase(rng, 15, 6);
    c.threshold = randomThreshold(rng);
    compare(c);
  }
  // Two terminals joined through 5000 middle nodes: 5000 paths take more
  // words than the snapshot form takes, so the trailed form runs.
  testnet::Edges k2n;
  for (int i = 2; i < 5002; ++i) {
    k2n.emplace_back(0, i);
    k2n.emplace_back(1, i);
  }
  for (double threshold : {-1.0, 0.5})
    compare(Case{testnet::makeNet(5002, k2n, {0, 1}), 2, 0.3, threshold});
  for (const std::vector<int>& terminals : {std::vector<int>{0, 5}, std::vector<int>{0, 3, 5}}) {
    const testnet::Net k6 = testnet::makeNet(6, testnet::completeEdges(6), terminals);
    for (double threshold : {-1.0, 0.9999, 0.3}) {
      compare(Case{k6, -1, 0.5, threshold});
      EXPECT_EQ(answerText(testnet::reliabilityOf<myGraph>(k6, -1, 0.5, threshold)),
                answerText(testnet::reliabilityOf<reference::myGraph>(k6, -1, 0.5, threshold)));
    }
  }
  // The table form takes every problem that gets a search, the trailed form
  // all of those that the chosen form does not leave to the table; the
  // snapshot forms all but those with a pair without paths or too many
  // paths; the one-pair form only problems of two terminals.
  EXPECT_EQ(ranAsAsked[form::table], asked[form::table] - noSearch);
  EXPECT_EQ(ranAsAsked[form::trailedMasks], asked[form::trailedMasks] - noSearch - tableOnly);
  for (form f : {form::snapshotMasks, form::plainSnapshotMasks})
    EXPECT_GT(ranAsAsked[f], asked[f] / 2) << static_cast<int>(f);
  EXPECT_GT(ranAsAsked[form::onePair], asked[form::onePair] / 5);
  // Walking one subtree for both branches of an idle record must have been
  // compared often, in searches that ran to the end and in searches the
  // threshold test cut off, or its bookkeeping of steps and tests goes
  // untested.
  for (form f : {form::snapshotMasks, form::plainSnapshotMasks}) {
    EXPECT_GT(doubled[f], 50) << static_cast<int>(f);
    EXPECT_GT(doubledAndCut[f], 20) << static_cast<int>(f);
  }
}

// Beyond 64 pairs the trailed form keeps its joined pairs as flags with a
// trail of their own: on trees with a few extra edges and 12 to 16
// terminals (66 to 120 pairs) it must answer like the reference, byte for
// byte, in the steps of the table form, and run wherever every pair has a
// path.
TEST(Differential, ManyPairsTrailedFormMatchesTheReference) {
  using form = myGraph::searchForm;
  testnet::Rng rng(9090);
  int trailed = 0, no = 0, yes = 0, deep = 0;
  for (int round = 0; round < test_support::rounds(300); ++round) {
    const int n = rng.between(12, 16);
    const testnet::Edges edges = testnet::randomEdges(rng, n, n - 1 + rng.below(5), true);
    std::vector<int> terminals(n);
    for (int v = 0; v < n; ++v)
      terminals[v] = v;
    rng.shuffle(terminals);
    terminals.resize(rng.between(12, n));
    Case c{testnet::makeNet(n, edges, terminals), rng.chance(20) ? -1 : rng.between(2, n - 1),
           0.5 + rng.unit() / 2, randomThreshold(rng)};
    SCOPED_TRACE(testnet::problemText(c.net, c.D, c.p, c.threshold));
    auto run = [&](form f) {
      myGraph g(c.net.offsets.data(), c.net.neighbours.data(), c.net.flags.data(), c.net.n,
                c.net.m(), c.D, c.p, c.threshold);
      g.search = f;
      const std::string answer = answerText(g.computeReliability());
      return std::make_tuple(answer, g.searchSteps, g.searchRan);
    };
    const auto [answer, steps, ran] = run(form::chosen);
    const auto [tableAnswer, tableSteps, tableRan] = run(form::table);
    ASSERT_EQ(answer, tableAnswer);
    ASSERT_EQ(steps, tableSteps);
    ASSERT_EQ(answer,
              answerText(testnet::reliabilityOf<reference::myGraph>(c.net, c.D, c.p, c.threshold)));
    trailed += ran == form::trailedMasks;
    ++(answer == "NO" ? no : yes);
    deep += steps > 100;
  }
  EXPECT_GT(trailed, test_support::rounds(100));
  EXPECT_GT(no, test_support::rounds(30));
  EXPECT_GT(yes, test_support::rounds(30));
  EXPECT_GT(deep, test_support::rounds(30));
}

// Thousands of pairs, most or all of them without a path: the table form
// copies only the rows of pairs on some record, and with no path at all
// builds no table. Answers and step counts must be the reference's: two
// components (pairs across them have no path), and a line with D = 0 (no
// pair has one), under thresholds on both sides of the bound.
TEST(Differential, PathlessPairsMatchTheReference) {
  testnet::Rng rng(4242);
  int tables = 0;
  for (int round = 0; round < test_support::rounds(60); ++round) {
    const int half = rng.between(5, 9);
    testnet::Edges edges = testnet::randomEdges(rng, half, half + rng.below(4), true);
    for (auto [a, b] : testnet::randomEdges(rng, half, half + rng.below(4), true))
      edges.emplace_back(a + half, b + half);
    std::vector<int> terminals;
    for (int v = 0; v < 2 * half; ++v)
      if (rng.chance(80)) terminals.push_back(v);
    Case c{testnet::makeNet(2 * half, edges, terminals), rng.chance(30) ? -1 : rng.between(1, 5),
           0.5 + rng.unit() / 2, randomThreshold(rng)};
    SCOPED_TRACE(testnet::problemText(c.net, c.D, c.p, c.threshold));
    myGraph g(c.net.offsets.data(), c.net.neighbours.data(), c.net.flags.data(), c.net.n, c.net.m(),
              c.D, c.p, c.threshold);
    const std::string answer = answerText(g.computeReliability());
    reference::myGraph r(c.net.offsets.data(), c.net.neighbours.data(), c.net.flags.data(), c.net.n,
                         c.net.m(), c.D, c.p, c.threshold);
    ASSERT_EQ(answer, answerText(r.computeReliability()));
    tables += g.searchRan == myGraph::searchForm::table;
  }
  EXPECT_GT(tables, test_support::rounds(60) / 4);
  const int n = 300;
  std::vector<int> all(n);
  for (int v = 0; v < n; ++v)
    all[v] = v;
  const testnet::Net line = testnet::makeNet(n, testnet::pathEdges(n), all);
  for (double threshold : {0.5, 1.0, 1.5}) {
    myGraph g(line.offsets.data(), line.neighbours.data(), line.flags.data(), n, line.m(), 0, 0.9,
              threshold);
    const std::string answer = answerText(g.computeReliability());
    EXPECT_EQ(answer,
              answerText(testnet::reliabilityOf<reference::myGraph>(line, 0, 0.9, threshold)));
    EXPECT_EQ(g.searchSteps, 1);
    EXPECT_EQ(g.numLinks, 0);
    if (threshold <= 1.0) {
      EXPECT_EQ(g.terminalPairs.size(), std::size_t{n * (n - 1) / 2});
    }
  }
}

}  // namespace
