// Edge-list parsing and problem-file writing, checked against dcr's own reader.
#include "driver/tool/edge_list.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <utility>

namespace {

using EdgeSet = std::set<std::pair<int, int>>;

EdgeSet edgeSet(const EdgeList& list) {
  EdgeSet s;
  for (const Edge& e : list.edges)
    s.insert(std::minmax(e.u, e.v));
  return s;
}

std::string parseError(const std::string& text, int base = 0, int nodes = -1) {
  EdgeList list;
  return parseEdgeList(text, base, nodes, list);
}

TEST(EdgeListParse, CommentsBlanksAndNodeCount) {
  EdgeList list;
  ASSERT_EQ(parseEdgeList("# ring\n\n0 1\n1\t2   # tab and comment\r\n  2 3\n#\n", 0, -1, list),
            "");
  EXPECT_EQ(list.nodes, 4);
  EXPECT_EQ(edgeSet(list), (EdgeSet{{0, 1}, {1, 2}, {2, 3}}));
  EXPECT_EQ(list.edges[1].line, 4);
  EXPECT_EQ(list.edges[2].line, 5);

  ASSERT_EQ(parseEdgeList("1 2\n2 3", 1, -1, list), "");  // no final line end
  EXPECT_EQ(list.nodes, 3);
  EXPECT_EQ(edgeSet(list), (EdgeSet{{0, 1}, {1, 2}}));

  ASSERT_EQ(parseEdgeList("0 1\n", 0, 5, list), "");
  EXPECT_EQ(list.nodes, 5);
  ASSERT_EQ(parseEdgeList("# nothing\n", 0, 3, list), "");
  EXPECT_EQ(list.nodes, 3);
  EXPECT_TRUE(list.edges.empty());
}

TEST(EdgeListParse, ErrorsNameTheLine) {
  EXPECT_EQ(parseError("0 1\n\n2 2\n"), "line 3: node 2 is joined to itself (a self loop)");
  EXPECT_EQ(parseError("0 1\n# x\n1 2\n2 1\n"), "line 4: edge 2 1 repeats the edge on line 3");
  EXPECT_EQ(parseError("0 1\n1 -1\n"), "line 2: '-1' is not a node number");
  EXPECT_EQ(parseError("0 1 2\n"), "line 1: expected two node numbers \"u v\", found 3 values");
  EXPECT_EQ(parseError("0 99999999999\n"), "line 1: node number '99999999999' is too large");
  EXPECT_EQ(parseError("1 2\n0 2\n", 1),
            "line 2: node 0 is below the first node number 1 (--base 1)");
  EXPECT_EQ(parseError("0 1\n1 5\n", 0, 4),
            "line 2: node 5 does not exist; --nodes 4 allows 0 to 3");
  EXPECT_NE(parseError("# only a comment\n").find("no edges"), std::string::npos);
}

// Nothing is sized by a node number before the edge count is known: a
// number far past what the edges can join needs --nodes, and --nodes has a
// ceiling of its own.
TEST(EdgeListParse, FarNodeNumbersNeedNodes) {
  EXPECT_EQ(parseError("0 1\n1 2000000000\n"),
            "line 2: node 2000000000 is far beyond what 2 edges can join, so it is probably a "
            "typo; networks of more than 10000000 nodes are not supported");
  const std::string far = parseError("# from 1\n1 2\n2 3000\n2 3\n", 1);
  EXPECT_EQ(far.rfind("line 3: node 3000 is far beyond what 3 edges can join", 0), 0u) << far;
  EXPECT_NE(far.find("give --nodes 3000"), std::string::npos) << far;

  EdgeList list;
  // 2 * edges + kSpareNodes is the largest count taken without --nodes.
  EXPECT_EQ(parseEdgeList("0 1\n1 1003\n", 0, -1, list), "");
  EXPECT_EQ(list.nodes, 2 * 2 + kSpareNodes);
  EXPECT_NE(parseError("0 1\n1 1004\n"), "");
  EXPECT_EQ(parseEdgeList("0 1\n1 3000\n", 0, 3001, list), "");
  EXPECT_EQ(list.nodes, 3001);
  EXPECT_NE(parseError("0 1\n", 0, kMaxNodes + 1).find("more than 10000000"), std::string::npos);
}

TEST(Terminals, ListsAllAndErrors) {
  std::vector<int> flags;
  ASSERT_EQ(parseTerminals("0,3", 0, 5, flags), "");
  EXPECT_EQ(flags, (std::vector<int>{1, 0, 0, 1, 0}));
  ASSERT_EQ(parseTerminals("1, 3 5,", 1, 5, flags), "");
  EXPECT_EQ(flags, (std::vector<int>{1, 0, 1, 0, 1}));
  ASSERT_EQ(parseTerminals("all", 1, 3, flags), "");
  EXPECT_EQ(flags, (std::vector<int>{1, 1, 1}));

  EXPECT_EQ(parseTerminals("0,5", 0, 5, flags),
            "node 5 does not exist; the network has nodes 0 to 4");
  EXPECT_EQ(parseTerminals("2,2", 0, 5, flags), "node 2 is listed twice");
  EXPECT_NE(parseTerminals(" , ", 0, 5, flags).find("no node given"), std::string::npos);
}

TEST(ProblemText, TriangleIsTheHandWrittenFile) {
  EdgeList list;
  // Edge order and orientation must not matter: neighbours are sorted.
  ASSERT_EQ(parseEdgeList("2 1\n0 2\n1 0\n", 0, -1, list), "");
  Problem problem;
  ASSERT_EQ(makeProblem(list, {1, 1, 0}, 2, 0.5, 0.5, problem), "");
  EXPECT_EQ(problemText(problem), "3 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n2 0.5 0.5\n");
}

TEST(ProblemText, IsolatedNodesAndEmptyLists) {
  EdgeList list;
  ASSERT_EQ(parseEdgeList("", 0, 2, list), "");
  Problem problem;
  ASSERT_EQ(makeProblem(list, {1, 1}, -1, 1.0, 0.0, problem), "");
  const std::string text = problemText(problem);
  EXPECT_EQ(text, "2 0\n0,0,0,\n\n1,1,\n-1 1 0\n");
  Problem back;
  EXPECT_TRUE(readProblem(text, back).ok);
}

// Random graphs through makeProblem, problemText and dcr's reader: the
// reader accepts the text, the edges come back, the doubles come back
// exactly, and the text does not depend on the order the edges were read.
TEST(ProblemText, RandomGraphsRoundTripThroughTheReader) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 40; ++round) {
    const int n = 2 + static_cast<int>(rng() % 12);
    std::vector<std::pair<int, int>> all;
    for (int u = 0; u < n; ++u)
      for (int v = u + 1; v < n; ++v)
        if (rng() % 3 == 0) all.emplace_back(u, v);
    std::shuffle(all.begin(), all.end(), rng);

    std::string forward, backward;
    for (auto [u, v] : all)
      forward += std::to_string(u) + " " + std::to_string(v) + "\n";
    for (auto it = all.rbegin(); it != all.rend(); ++it)
      backward += std::to_string(it->second) + " " + std::to_string(it->first) + "\n";

    EdgeList a, b;
    ASSERT_EQ(parseEdgeList(forward, 0, n, a), "");
    ASSERT_EQ(parseEdgeList(backward, 0, n, b), "");
    std::vector<int> flags(n);
    for (int& f : flags)
      f = static_cast<int>(rng() % 2);
    const double p = std::uniform_real_distribution<double>(0, 1)(rng);
    const double r = std::uniform_real_distribution<double>(0, 1)(rng);
    Problem pa, pb;
    ASSERT_EQ(makeProblem(a, flags, 3, p, r, pa), "");
    ASSERT_EQ(makeProblem(b, flags, 3, p, r, pb), "");
    const std::string text = problemText(pa);
    EXPECT_EQ(text, problemText(pb));

    Problem back;
    const ReadOutcome read = readProblem(text, back);
    ASSERT_TRUE(read.ok) << read.error << "\n" << text;
    EXPECT_EQ(back.N, n);
    EXPECT_EQ(back.TERMINALS, flags);
    EXPECT_EQ(back.D, 3);
    EXPECT_EQ(back.R, p);
    EXPECT_EQ(back.R0, r);
    EXPECT_EQ(edgeSet(edgesOf(back)), edgeSet(a));
    for (int u = 0; u < n; ++u)
      EXPECT_TRUE(std::is_sorted(back.FO.begin() + back.KAO[u], back.FO.begin() + back.KAO[u + 1]));
  }
}

TEST(Numbers, ShortestTextRoundTripsAndParsingIsStrict) {
  for (double v : {0.0, 1.0, 0.1, 0.1 + 0.2, 1e-300, 0.999999999999999889, 5e-324}) {
    double back = -1;
    ASSERT_TRUE(parseDouble(shortestText(v), back)) << shortestText(v);
    EXPECT_EQ(back, v) << shortestText(v);
  }
  EXPECT_EQ(shortestText(0.1 + 0.2), "0.30000000000000004");
  double d = 0;
  for (const char* bad : {"", " 0.5", "0.5x", "nan", "inf"})
    EXPECT_FALSE(parseDouble(bad, d)) << bad;
  int i = 0;
  for (const char* bad : {"", "+", "1.5", "3000000000", "0x10", "1e3", " 1", "--1"})
    EXPECT_FALSE(parseInt(bad, i)) << bad;
  ASSERT_TRUE(parseInt("010", i));  // decimal, never octal
  EXPECT_EQ(i, 10);
  ASSERT_TRUE(parseInt("-1", i));
  EXPECT_EQ(i, -1);
}

}  // namespace
