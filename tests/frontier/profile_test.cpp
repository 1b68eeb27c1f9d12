// The profile state against the brute-force oracle, the distance state and
// closed forms: K from 2 to every node, hop limits around the terminals'
// diameter, where merging by profile and dominance does its work.
#include <gtest/gtest.h>

#include <random>

#include "frontier/frontier.hpp"
#include "tests/frontier/brute_force.hpp"
#include "tests/support/rounds.hpp"

namespace {

using frontier::Problem;
using frontier::StateKind;
using frontier::Status;
using frontier_test::bruteReliability;
using frontier_test::describe;
using frontier_test::randomProblem;

frontier::Options kindOption(StateKind kind) {
  frontier::Options o;
  o.kind = kind;
  return o;
}

// The largest hop distance between two terminals over all edges, or -1 if
// some pair is not joined at all.
int terminalDiameter(const Problem& pr) {
  const int n = pr.nodes;
  std::vector<std::vector<int>> dist(n, std::vector<int>(n, 1 << 20));
  for (int v = 0; v < n; ++v)
    dist[v][v] = 0;
  for (auto [u, v] : pr.edges)
    if (u != v) dist[u][v] = dist[v][u] = 1;
  for (int k = 0; k < n; ++k)
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j)
        dist[i][j] = std::min(dist[i][j], dist[i][k] + dist[k][j]);
  int worst = 0;
  for (int a : pr.terminals)
    for (int b : pr.terminals)
      worst = std::max(worst, dist[a][b]);
  return worst >= (1 << 20) ? -1 : worst;
}

// Exact values on random graphs, per-edge probabilities, parallel edges and
// loops in some; D from the terminals' diameter - 1 to + 2, so that the
// limit binds and both rejection and acceptance happen.
TEST(FrontierProfile, AgreesWithBruteForceOnRandomGraphs) {
  std::mt19937 rng(20261210);
  int binding = 0;
  for (int round = 0; round < test_support::rounds(600); ++round) {
    const int n = 3 + static_cast<int>(rng() % 10);
    const int maxM = std::min(n * (n - 1) / 2, 16);
    const int m = std::min(maxM, n - 1 + static_cast<int>(rng() % (maxM - n + 3)));
    const int K = round % 3 == 0 ? n : 2 + static_cast<int>(rng() % (n - 1));
    Problem pr = randomProblem(rng, n, m, K, 0, round % 7 == 0);
    const int diameter = terminalDiameter(pr);
    pr.maxHops = diameter < 0 ? static_cast<int>(rng() % n)
                              : std::max(0, diameter - 1 + static_cast<int>(rng() % 4));
    std::vector<int> num, den;
    std::vector<mpq_class> p;
    for (std::size_t e = 0; e < pr.edges.size(); ++e) {
      den.push_back(static_cast<int>(2 + rng() % 9));
      num.push_back(static_cast<int>(rng() % (den.back() + 1)));
      p.emplace_back(num.back(), den.back());
    }
    const auto r = frontier::solveExact(pr, p, kindOption(StateKind::kProfile));
    ASSERT_EQ(r.status, Status::kComplete) << describe(pr) << r.message;
    EXPECT_EQ(r.stats.kind, StateKind::kProfile);
    const mpq_class want = bruteReliability(pr, num, den);
    ASSERT_EQ(r.reliability, want) << describe(pr);
    ASSERT_EQ(r.unreliability, 1 - want) << describe(pr);
    binding += want > 0 && want < 1 && pr.maxHops < n - 1;
  }
  EXPECT_GT(binding, test_support::rounds(600) / 4);  // the cases above are not all trivial
}

// On graphs too large for the oracle, the profile and distance states give
// the same fraction: the dodecahedron with all terminals and with eight,
// and random graphs of 14 to 18 nodes.
TEST(FrontierProfile, AgreesWithTheDistanceState) {
  std::vector<Problem> problems;
  problems.push_back(frontier_test::dodecahedron({}, 5));
  for (int v = 0; v < 20; ++v)
    problems.back().terminals.push_back(v);
  problems.push_back(frontier_test::dodecahedron({0, 3, 6, 9, 12, 15, 17, 19}, 6));
  std::mt19937 rng(5);
  for (int round = 0; round < 8; ++round) {
    const int n = 14 + static_cast<int>(rng() % 5);
    Problem pr = randomProblem(rng, n, n + 6, 4 + static_cast<int>(rng() % (n - 4)), 0);
    pr.maxHops = std::max(1, terminalDiameter(pr)) + static_cast<int>(rng() % 2);
    problems.push_back(pr);
  }
  for (const Problem& pr : problems) {
    const std::vector<mpq_class> p(pr.edges.size(), mpq_class(9, 10));
    const auto a = frontier::solveExact(pr, p, kindOption(StateKind::kProfile));
    const auto b = frontier::solveExact(pr, p, kindOption(StateKind::kDistance));
    ASSERT_EQ(a.status, Status::kComplete) << describe(pr);
    ASSERT_EQ(b.status, Status::kComplete) << describe(pr);
    ASSERT_EQ(a.reliability, b.reliability) << describe(pr);
  }
}

// Closed forms with every node a terminal. A cycle of n nodes has diameter
// n / 2 (rounded down): with all links up it meets any D >= that; with one
// link down it is a path of diameter n - 1. So R = p^n for D below n - 1
// (and not below n / 2), R = p^n + n p^(n-1) q from n - 1 on, and 0 below
// n / 2. A complete graph at D = 1 needs every link: p^(n(n-1)/2).
TEST(FrontierProfile, ClosedFormsWithEveryNodeATerminal) {
  const mpq_class p(9, 10), q = 1 - p;
  auto power = [](mpq_class x, int k) {
    mpq_class r = 1;
    for (int i = 0; i < k; ++i)
      r *= x;
    return r;
  };
  // Up to 14 every D; 30 and 33 at D around 14 / 15, where the states'
  // entries stop fitting two a byte.
  for (int n : {3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 30, 33}) {
    Problem cycle;
    cycle.nodes = n;
    for (int v = 0; v < n; ++v) {
      cycle.edges.push_back({v, (v + 1) % n});
      cycle.terminals.push_back(v);
    }
    for (int D = 1; D <= n - 2; ++D) {
      if (n > 14 && (D < 13 || D > 17) && D != n - 2) continue;
      cycle.maxHops = D;
      const mpq_class want = D < n / 2 ? mpq_class(0) : power(p, n);
      const auto r = frontier::solveExact(cycle, std::vector<mpq_class>(n, p),
                                          kindOption(StateKind::kProfile));
      ASSERT_EQ(r.status, Status::kComplete);
      EXPECT_EQ(r.reliability, want) << "cycle n=" << n << " D=" << D;
    }
  }
  for (int n = 2; n <= 20; ++n) {  // from 10 on, frontiers pass 8 nodes; from 16 on, 16
    Problem complete;
    complete.nodes = n;
    complete.maxHops = 1;
    for (int u = 0; u < n; ++u) {
      complete.terminals.push_back(u);
      for (int v = u + 1; v < n; ++v)
        complete.edges.push_back({u, v});
    }
    const int m = n * (n - 1) / 2;
    const auto r = frontier::solveExact(complete, std::vector<mpq_class>(m, p),
                                        kindOption(StateKind::kProfile));
    ASSERT_EQ(r.status, Status::kComplete);
    EXPECT_EQ(r.reliability, power(p, m)) << "complete n=" << n;
  }
}

}  // namespace
