// Terminal list, terminal pairs, the bounded path enumeration and the
// growable store its paths live in.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "reliability/my_graph.hpp"
#include "tests/support/test_graphs.hpp"

namespace {

using testnet::makeNet;
using testnet::Net;
using Path = std::vector<int>;

struct Pair {
  int source, target;
  std::vector<Path> paths;
  bool operator==(const Pair&) const = default;
};

std::vector<Pair> pairsOf(const myGraph& g) {
  std::vector<Pair> out;
  for (const auto& tp : g.terminalPairs) {
    Pair p{tp.source, tp.target, {}};
    for (std::size_t j = 0; j < tp.paths.size(); ++j)
      p.paths.emplace_back(tp.paths[j].begin(), tp.paths[j].end());
    out.push_back(p);
  }
  return out;
}

std::vector<Pair> enumerate(const Net& net, int D) {
  myGraph g(net.offsets.data(), net.neighbours.data(), net.flags.data(), net.n, net.m(), D, 0.5,
            0.5);
  g.findAllPaths();
  int total = 0;
  for (const auto& tp : g.terminalPairs)
    total += static_cast<int>(tp.paths.size());
  EXPECT_EQ(g.numPaths, total);
  return pairsOf(g);
}

const testnet::Edges kTriangle = {{0, 1}, {0, 2}, {1, 2}};  // lists 0: 1,2  1: 0,2  2: 0,1

TEST(Terminals, OnlyFlagOneMarksATerminal) {
  const int offsets[] = {0, 0, 0, 0, 0};
  const int flags[] = {1, 0, 2, -1};
  myGraph g(offsets, nullptr, flags, 4, 0, 3, 0.5, 0.5);
  EXPECT_EQ(g.terminals, std::vector<int>{0});
  EXPECT_EQ(g.numTerminals, 1);
}

TEST(Paths, DepthFirstInNeighbourListOrder) {
  EXPECT_EQ(enumerate(makeNet(3, kTriangle, {0, 1}), 2),
            (std::vector<Pair>{{0, 1, {{0, 1}, {0, 2, 1}}}}));
  EXPECT_EQ(enumerate(makeNet(3, kTriangle, {0, 2}), 2),
            (std::vector<Pair>{{0, 2, {{0, 1, 2}, {0, 2}}}}));
  // Node 0 listing 2 before 1 turns the order round.
  EXPECT_EQ(enumerate(makeNet(3, {{0, 2}, {0, 1}, {1, 2}}, {0, 1}), 2),
            (std::vector<Pair>{{0, 1, {{0, 2, 1}, {0, 1}}}}));
  EXPECT_EQ(enumerate(makeNet(3, kTriangle, {0, 1}), 1), (std::vector<Pair>{{0, 1, {{0, 1}}}}));
}

TEST(Paths, PairsInTerminalOrderAndPathsThroughOtherTerminals) {
  EXPECT_EQ(enumerate(makeNet(3, testnet::pathEdges(3), {0, 1, 2}), 2),
            (std::vector<Pair>{{0, 1, {{0, 1}}}, {0, 2, {{0, 1, 2}}}, {1, 2, {{1, 2}}}}));
}

TEST(Paths, HopLimit) {
  // A 6-cycle: terminals 0 and 1 are joined directly and the long way round (5 edges).
  const Net ring = makeNet(6, testnet::cycleEdges(6), {0, 1});
  const Path shortWay{0, 1}, longWay{0, 5, 4, 3, 2, 1};
  EXPECT_EQ(enumerate(ring, 4), (std::vector<Pair>{{0, 1, {shortWay}}}));
  EXPECT_EQ(enumerate(ring, 5), (std::vector<Pair>{{0, 1, {shortWay, longWay}}}));
  EXPECT_EQ(enumerate(ring, -1), (std::vector<Pair>{{0, 1, {shortWay, longWay}}}));
  EXPECT_EQ(enumerate(ring, -7), (std::vector<Pair>{{0, 1, {shortWay, longWay}}}));
  EXPECT_EQ(enumerate(ring, 0), (std::vector<Pair>{{0, 1, {}}}));

  // K4 between 0 and 1: one direct path, two of 2 edges, two of 3 edges.
  const Net k4 = makeNet(4, testnet::completeEdges(4), {0, 1});
  EXPECT_EQ(enumerate(k4, 2)[0].paths, (std::vector<Path>{{0, 1}, {0, 2, 1}, {0, 3, 1}}));
  EXPECT_EQ(enumerate(k4, -1)[0].paths,
            (std::vector<Path>{{0, 1}, {0, 2, 1}, {0, 2, 3, 1}, {0, 3, 1}, {0, 3, 2, 1}}));
}

TEST(Paths, FewerThanTwoTerminalsMakeNoPairs) {
  for (const auto& terminals : {std::vector<int>{}, std::vector<int>{1}}) {
    EXPECT_TRUE(enumerate(makeNet(3, kTriangle, terminals), -1).empty());
  }
}

}  // namespace

namespace {

// Each path's shared count is exactly the number of first nodes it has in
// common with the path before it in its pair (the link pass reuses those
// steps' edges), 0 for a pair's first path; and the store survives growth
// from one path to thousands and a copy of the graph.
TEST(Paths, SharedFirstPartsAreExact) {
  for (const auto& [net, D] : {std::pair{makeNet(25, testnet::gridEdges(5, 5), {0, 24, 12}), 12},
                               std::pair{makeNet(7, testnet::completeEdges(7), {0, 6}), -1},
                               std::pair{makeNet(9, testnet::cycleEdges(9), {0, 4}), 4}}) {
    myGraph g(net.offsets.data(), net.neighbours.data(), net.flags.data(), net.n, net.m(), D, 0.5,
              0.5);
    g.findAllPaths();
    const myGraph copy = g;
    for (const auto& tp : copy.terminalPairs) {
      ASSERT_FALSE(tp.paths.empty());
      EXPECT_EQ(tp.paths.shared(0), 0u);
      for (std::size_t j = 1; j < tp.paths.size(); ++j) {
        const auto a = tp.paths[j - 1], b = tp.paths[j];
        std::size_t common = 0;
        while (common < a.size() && common < b.size() && a[common] == b[common])
          ++common;
        ASSERT_EQ(tp.paths.shared(j), common) << "path " << j;
      }
    }
    EXPECT_EQ(pairsOf(copy), pairsOf(g));
  }
}

}  // namespace

// Growth past the size where blocks are mapped and remapped instead of
// reallocated, with copies and moves on both sides of it: every value
// stays where it was written.
TEST(GrowBuffer, KeepsItsValuesAcrossMappedGrowth) {
  growBuffer<int> a;
  const int n = 3 << 20;  // 12 MiB of ints, mapped from 1 MiB on
  for (int i = 0; i < n; ++i) {
    a.push_back(i * 7);
    if (i == 1000) {
      const growBuffer<int> small = a;  // a copy before mapping
      ASSERT_EQ(small.size(), 1001u);
      EXPECT_EQ(small[1000], 7000);
    }
  }
  const int more[] = {-1, -2, -3};
  a.append(more, 3);
  ASSERT_EQ(a.size(), static_cast<std::size_t>(n) + 3);
  growBuffer<int> copy = a;
  growBuffer<int> moved = std::move(copy);
  for (int i = 0; i < n; i += 4099)
    ASSERT_EQ(moved[i], i * 7) << i;
  EXPECT_EQ(moved[n + 2], -3);
  growBuffer<int> overwritten;
  overwritten.resizeForOverwrite(2 << 20);
  overwritten[(2 << 20) - 1] = 5;
  overwritten = a;
  EXPECT_EQ(overwritten.size(), a.size());
  EXPECT_EQ(overwritten[n - 1], (n - 1) * 7);
}

// Mappings start wherever the system puts them; growing several at once
// puts some off any 2 MiB boundary, where advice on part of one once split
// it and the next remap failed.
TEST(GrowBuffer, GrowsFromAnyAlignment) {
  std::vector<growBuffer<std::uint64_t>> buffers(6);
  for (std::uint64_t i = 0; i < (std::uint64_t{3} << 20); ++i)
    for (std::size_t b = 0; b < buffers.size(); ++b)
      if (i % (b + 1) == 0) buffers[b].push_back(i);
  for (std::size_t b = 0; b < buffers.size(); ++b) {
    ASSERT_EQ(buffers[b].size(), ((std::uint64_t{3} << 20) + b) / (b + 1));
    EXPECT_EQ(buffers[b][buffers[b].size() - 1] % (b + 1), 0u);
  }
}
