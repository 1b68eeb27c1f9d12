// The engine against exhaustive enumeration of edge states on small random
// graphs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "reliability/my_graph.hpp"
#include "tests/support/test_graphs.hpp"

namespace {

using testnet::Net;

// Sums, over all 2^m states of the edges, the probability of the states in
// which every terminal is within D hops (any number when D < 0) of every
// other over working edges. A shortest walk is a simple path, so this is the
// engine's quantity computed without paths. Node sets are bit masks.
double bruteForce(const Net& net, int D, double p) {
  const int m = net.m();
  std::vector<int> terminals;
  std::uint32_t terminalMask = 0;
  for (int v = 0; v < net.n; ++v)
    if (net.flags[v] == 1) {
      terminals.push_back(v);
      terminalMask |= 1u << v;
    }
  double total = 0.0;
  std::vector<std::uint32_t> around(net.n);
  for (std::uint32_t state = 0; state < (1u << m); ++state) {
    std::fill(around.begin(), around.end(), 0u);
    int working = 0;
    for (int e = 0; e < m; ++e) {
      if (!(state >> e & 1)) continue;
      const auto [a, b] = net.edges[e];
      around[a] |= 1u << b;
      around[b] |= 1u << a;
      ++working;
    }
    bool joined = true;
    for (int t : terminals) {
      std::uint32_t reached = 1u << t, frontier = reached;
      for (int hop = 0; frontier != 0 && (D < 0 || hop < D); ++hop) {
        std::uint32_t next = 0;
        for (int v = 0; v < net.n; ++v)
          if (frontier >> v & 1) next |= around[v];
        frontier = next & ~reached;
        reached |= next;
      }
      if ((reached & terminalMask) != terminalMask) {
        joined = false;
        break;
      }
    }
    if (joined) total += std::pow(p, working) * std::pow(1.0 - p, m - working);
  }
  return total;
}

TEST(BruteForce, RandomGraphsMatchExhaustiveEnumeration) {
  testnet::Rng rng(20240611);
  for (int round = 0; round < 400; ++round) {
    const testnet::Case c = testnet::randomCase(rng, 16, 5);
    const double threshold = rng.unit() * 1.1;
    SCOPED_TRACE(testnet::problemText(c.net, c.D, c.p, threshold));
    const double exact = bruteForce(c.net, c.D, c.p);
    EXPECT_NEAR(testnet::reliabilityOf<myGraph>(c.net, c.D, c.p, -1.0), exact, 1e-11);

    // With a threshold the answer is either the same value or a sound "NO".
    const double cut = testnet::reliabilityOf<myGraph>(c.net, c.D, c.p, threshold);
    if (cut == -1.0)
      EXPECT_LT(exact, threshold + 1e-11);
    else
      EXPECT_NEAR(cut, exact, 1e-11);
  }
}

}  // namespace
