// The exact engine, the polynomial and both state kinds against the
// brute-force oracle on random small graphs.
#include <gtest/gtest.h>

#include <random>

#include "frontier/frontier.hpp"
#include "tests/frontier/brute_force.hpp"

namespace {

using frontier::Problem;
using frontier::Status;
using frontier_test::bruteReliability;
using frontier_test::describe;
using frontier_test::randomProblem;

const int kDenominators[] = {2, 3, 4, 5, 7, 10, 100};

struct Probabilities {
  std::vector<int> num, den;
  std::vector<mpq_class> rational;
};

Probabilities randomProbabilities(std::mt19937& rng, std::size_t m) {
  Probabilities p;
  for (std::size_t e = 0; e < m; ++e) {
    const int den = kDenominators[rng() % std::size(kDenominators)];
    const int num = static_cast<int>(rng() % (den + 1));
    p.num.push_back(num);
    p.den.push_back(den);
    p.rational.emplace_back(num, den);
  }
  return p;
}

// Exact values, per-edge probabilities, K from 2 to n, D from -1 to n,
// parallel edges and loops in some.
TEST(FrontierExact, AgreesWithBruteForceOnRandomGraphs) {
  std::mt19937 rng(20261209);
  for (int round = 0; round < 400; ++round) {
    const int n = 2 + static_cast<int>(rng() % 8);
    const int maxM = std::min(n * (n - 1) / 2, 14);
    const int m = 1 + static_cast<int>(rng() % maxM);
    const int K = 2 + static_cast<int>(rng() % (n - 1));
    const int D = static_cast<int>(rng() % (n + 2)) - 1;
    const Problem pr = randomProblem(rng, n, m, K, D, round % 5 == 0);
    const Probabilities p = randomProbabilities(rng, pr.edges.size());
    const auto r = frontier::solveExact(pr, p.rational);
    ASSERT_EQ(r.status, Status::kComplete) << describe(pr) << r.message;
    const mpq_class want = bruteReliability(pr, p.num, p.den);
    ASSERT_EQ(r.reliability, want) << describe(pr);
    ASSERT_EQ(r.unreliability, 1 - want) << describe(pr);
  }
}

// Nearly every node a terminal and a hop limit that binds: many passed
// terminals, many open pairs, longer sweeps of denser graphs (the paths of
// the distance state that share work between a parent's two branches).
TEST(FrontierExact, ManyTerminalsAtBindingHopLimits) {
  std::mt19937 rng(99);
  for (int round = 0; round < 30; ++round) {
    const int n = 7 + static_cast<int>(rng() % 3);
    const int m = 12 + static_cast<int>(rng() % 4);
    const int K = n - static_cast<int>(rng() % 2);
    const int D = 2 + static_cast<int>(rng() % (n - 3));
    const Problem pr = randomProblem(rng, n, m, K, D);
    const Probabilities p = randomProbabilities(rng, pr.edges.size());
    const auto r = frontier::solveExact(pr, p.rational);
    ASSERT_EQ(r.status, Status::kComplete) << describe(pr) << r.message;
    ASSERT_EQ(r.reliability, bruteReliability(pr, p.num, p.den)) << describe(pr);
  }
}

// Where both kinds apply (no hop limit vs a limit of n - 1 or more) the
// distance state gives the same fraction as the connectivity state.
TEST(FrontierExact, DistanceKindMatchesConnectivityKind) {
  std::mt19937 rng(7);
  for (int round = 0; round < 150; ++round) {
    const int n = 3 + static_cast<int>(rng() % 7);
    const int m = 2 + static_cast<int>(rng() % std::min(n * (n - 1) / 2 - 1, 16));
    const int K = 2 + static_cast<int>(rng() % (n - 1));
    Problem pr = randomProblem(rng, n, m, K, -1);
    const Probabilities p = randomProbabilities(rng, pr.edges.size());
    const auto connectivity = frontier::solveExact(pr, p.rational);
    pr.maxHops = n - 1 + static_cast<int>(rng() % 2);
    frontier::Options forced;
    forced.kind = frontier::StateKind::kDistance;
    const auto distance = frontier::solveExact(pr, p.rational, forced);
    ASSERT_EQ(connectivity.status, Status::kComplete);
    ASSERT_EQ(distance.status, Status::kComplete);
    EXPECT_EQ(connectivity.stats.kind, frontier::StateKind::kConnectivity);
    EXPECT_EQ(distance.stats.kind, frontier::StateKind::kDistance);
    ASSERT_EQ(connectivity.reliability, distance.reliability) << describe(pr);
  }
}

// The counts N_k equal a brute-force table, and the polynomial gives the
// exact value at several p.
TEST(FrontierPolynomial, CountsMatchBruteForce) {
  std::mt19937 rng(99);
  for (int round = 0; round < 120; ++round) {
    const int n = 2 + static_cast<int>(rng() % 7);
    const int m = 1 + static_cast<int>(rng() % std::min(n * (n - 1) / 2, 13));
    const int K = 2 + static_cast<int>(rng() % (n - 1));
    const int D = static_cast<int>(rng() % (n + 1)) - 1;
    const Problem pr = randomProblem(rng, n, m, K, D, round % 4 == 0);
    const auto poly = frontier::reliabilityPolynomial(pr);
    ASSERT_EQ(poly.status, Status::kComplete) << describe(pr);
    ASSERT_EQ(poly.counts, frontier_test::bruteCounts(pr)) << describe(pr);
    for (int num : {1, 5, 9}) {
      const std::vector<int> nums(pr.edges.size(), num), dens(pr.edges.size(), 10);
      ASSERT_EQ(poly.evaluate(mpq_class(num, 10)), bruteReliability(pr, nums, dens));
    }
  }
}

}  // namespace
