// The building blocks against one-sample-at-a-time oracles and closed forms.
#include <gtest/gtest.h>

#include <cmath>
#include <queue>
#include <random>
#include <vector>

#include "estimate/internal.hpp"

namespace {

using namespace estimate::detail;

// Plain breadth-first search per terminal on one sample's working edges.
bool oracleUp(const estimate::Problem& pr, const std::vector<char>& works) {
  std::vector<int> terms;
  for (int t : pr.terminals)
    if (std::find(terms.begin(), terms.end(), t) == terms.end()) terms.push_back(t);
  for (int s : terms) {
    std::vector<int> dist(pr.nodes, -1);
    std::queue<int> q;
    dist[s] = 0;
    q.push(s);
    while (!q.empty()) {
      int v = q.front();
      q.pop();
      for (std::size_t e = 0; e < pr.edges.size(); ++e) {
        if (!works[e]) continue;
        auto [a, b] = pr.edges[e];
        int w = a == v ? b : b == v ? a : -1;
        if (w >= 0 && dist[w] < 0) {
          dist[w] = dist[v] + 1;
          q.push(w);
        }
      }
    }
    for (int t : terms)
      if (dist[t] < 0 || (pr.maxHops >= 0 && dist[t] > pr.maxHops)) return false;
  }
  return true;
}

TEST(Kernel, UpTestsMatchOneSampleOracle) {
  std::mt19937_64 rng(7);
  for (int trial = 0; trial < 300; ++trial) {
    estimate::Problem pr;
    // A few large ones give the one-state test several words of terminals.
    const bool big = trial % 150 == 1;
    pr.nodes = big ? 65 + static_cast<int>(rng() % 70) : 2 + static_cast<int>(rng() % 9);
    const int m = big ? 6 * pr.nodes : static_cast<int>(rng() % 20);
    for (int e = 0; e < m; ++e)  // self-loops and parallel edges included
      pr.edges.push_back({static_cast<int>(rng() % pr.nodes), static_cast<int>(rng() % pr.nodes)});
    const bool all = big || trial % 5 == 0;
    const int k = all ? pr.nodes : 2 + static_cast<int>(rng() % 3);
    for (int i = 0; i < k; ++i)
      pr.terminals.push_back(all ? i : static_cast<int>(rng() % pr.nodes));
    pr.maxHops = big ? 4 : static_cast<int>(rng() % (pr.nodes + 2)) - 1;
    Graph g;
    ASSERT_EQ(buildGraph(pr, g), "");
    std::vector<Lanes> state(m);
    const std::uint64_t density = rng();  // vary how many edges work
    for (auto& s : state)
      for (auto& w : s.w)
        w = rng() | (rng() & density) | (big ? rng() : 0);
    Lanes alive;
    for (auto& w : alive.w)
      w = rng() | rng();
    UpTest test(g);
    SourceTest sources(g);  // the one-state test, on the first 16 lanes
    const Lanes up = test.up(state.data(), alive);
    for (int lane = 0; lane < kLanes; ++lane) {
      std::vector<char> works(m);
      std::vector<int> working;
      for (int e = 0; e < m; ++e) {
        works[e] = state[e].test(lane);
        if (works[e] && !g.selfLoop[e]) working.push_back(e);
      }
      const bool oracle = g.terminals.size() < 2 || oracleUp(pr, works);
      ASSERT_EQ(up.test(lane), alive.test(lane) && oracle) << "trial " << trial << " lane " << lane;
      if (lane < 16) {
        ASSERT_EQ(sources.up(working.data(), static_cast<int>(working.size())), oracle)
            << "trial " << trial << " lane " << lane;
      }
      if (big && lane == 3) break;
    }
  }
}

TEST(Kernel, BernoulliWordIsTheComparisonOfItsUniforms) {
  for (double p : {0.0, 1e-20, 0.1, 0.5, 0.75, 0.9, 0.999999, 1.0}) {
    const Threshold t = threshold(p);
    std::uint64_t ones = 0;
    for (std::uint64_t key = 1; key <= 200; ++key) {
      const std::uint64_t word = bernoulliWord(t, key);
      ones += std::popcount(word);
      for (int j = 0; j < 64; ++j) {
        std::uint64_t u = 0;  // lane j's 64-bit uniform, top bit from word 0
        for (int i = 0; i < 64; ++i)
          u |= ((randomWord(key, i) >> j) & 1) << (63 - i);
        const bool expect = t.one || u < t.bits;
        ASSERT_EQ((word >> j) & 1, expect ? 1u : 0u) << p << " " << key << " " << j;
      }
    }
    EXPECT_NEAR(ones / 12800.0, p, 5 * std::sqrt(p * (1 - p) / 12800) + 1e-12) << p;
  }
}

double erlangTail(int k, double rate) {
  double term = std::exp(-rate), sum = 0;
  for (int j = 0; j < k; ++j) {
    sum += term;
    term *= rate / (j + 1);
  }
  return sum;
}

TEST(Kernel, HypoexponentialTailClosedForms) {
  // Equal rates: the Erlang tail.
  for (auto [k, rate] : {std::pair{1, 0.5}, {3, 2.0}, {10, 7.0}, {50, 40.0}, {5, 300.0}}) {
    std::vector<double> rates(k, rate);
    EXPECT_NEAR(hypoexponentialTail(rates.data(), k) / erlangTail(k, rate), 1, 1e-12)
        << k << " " << rate;
  }
  // Two rates: (a e^{-b} - b e^{-a}) / (a - b), including close ones the
  // alternating formula would lose, there checked against a long double series.
  for (auto [a, b] : {std::pair{3.0, 1.0}, {50.0, 2.0}, {0.2, 0.1}, {700.0, 11.5}}) {
    const double expect = (a * std::exp(-b) - b * std::exp(-a)) / (a - b);
    const double rates[] = {a, b};
    EXPECT_NEAR(hypoexponentialTail(rates, 2) / expect, 1, 1e-12) << a << " " << b;
  }
  // Many close decreasing rates (as in the evolution process): the mean of
  // a sum bounds it by Markov, and the tail lies between the Erlang tails
  // of the smallest and the largest rate.
  std::vector<double> rates;
  for (int i = 0; i < 40; ++i)
    rates.push_back(11.5 * (60 - i));
  const double tail = hypoexponentialTail(rates.data(), 40);
  EXPECT_GT(tail, erlangTail(40, rates.front()));
  EXPECT_LT(tail, erlangTail(40, rates.back()));
  EXPECT_GT(tail, 0);
  EXPECT_EQ(hypoexponentialTail(rates.data(), 0), 0);
  // Every prefix's tail in one pass, as each alone.
  std::vector<double> all(40);
  hypoexponentialTails(rates.data(), 40, all.data());
  for (int i = 1; i <= 40; ++i)
    EXPECT_NEAR(all[i - 1] / hypoexponentialTail(rates.data(), i), 1, 1e-12) << i;
}

TEST(Kernel, NormalQuantile) {
  EXPECT_NEAR(normalQuantile(0.975), 1.959963984540054, 1e-13);
  EXPECT_NEAR(normalQuantile(0.5), 0, 1e-15);
  EXPECT_NEAR(normalQuantile(1e-6), -4.753424308822899, 1e-11);
}

}  // namespace
