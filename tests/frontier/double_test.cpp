// Double precision: the error bounds hold against exact values, the value
// agrees with dcr's own engine, and the diagram evaluates like a solve.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "frontier/frontier.hpp"
#include "reliability/my_graph.hpp"
#include "tests/frontier/brute_force.hpp"
#include "tests/support/rounds.hpp"

namespace {

using frontier::Problem;
using frontier::Status;
using frontier_test::brackets;
using frontier_test::Decimal;
using frontier_test::decimal;
using frontier_test::randomProblem;

// Bounds of the double solve bracket the exact fraction, also for p near 1
// where the unreliability is tiny and must keep its relative accuracy.
TEST(FrontierDouble, ErrorBoundsBracketExactValue) {
  std::mt19937 rng(4242);
  const std::pair<long, long> ps[] = {
      {9, 10}, {9999, 10000}, {999999, 1000000}, {1, 3}, {123456789, 1000000000}, {1, 1}, {0, 1}};
  for (int round = 0; round < test_support::rounds(300); ++round) {
    const int n = 3 + static_cast<int>(rng() % 10);
    const int m = 2 + static_cast<int>(rng() % std::min(n * (n - 1) / 2 - 1, 22));
    const int K = 2 + static_cast<int>(rng() % std::min(n - 1, 4));
    const int D = static_cast<int>(rng() % (n + 1)) - 1;
    const Problem pr = randomProblem(rng, n, m, K, D);
    std::vector<Decimal> dec;
    std::vector<double> p, q;
    std::vector<mpq_class> exactP;
    for (std::size_t e = 0; e < pr.edges.size(); ++e) {
      const auto [num, den] = round % 3 == 0 ? ps[rng() % std::size(ps)] : ps[round % 3];
      dec.push_back(decimal(num, den));
      p.push_back(dec.back().p);
      q.push_back(dec.back().q);
      exactP.push_back(dec.back().exact);
    }
    const auto exact = frontier::solveExact(pr, exactP);
    const auto approx = frontier::solveDouble(pr, p, q);
    ASSERT_EQ(exact.status, Status::kComplete);
    ASSERT_EQ(approx.status, Status::kComplete);
    const mpq_class R = exact.reliability, U = 1 - R;
    ASSERT_TRUE(brackets(approx.reliability, approx.reliabilityError, R)) << round;
    ASSERT_TRUE(brackets(approx.unreliability, approx.unreliabilityError, U)) << round;
    ASSERT_LE(mpq_class(approx.lower), R);
    ASSERT_GE(mpq_class(approx.upper), R);
    // The unreliability keeps relative accuracy: its bound grows with the
    // roundings along the way (one step per operation), not with 1 - U's
    // last place as 1 - R computed in double would.
    if (U > 0) {
      ASSERT_LE(mpq_class(approx.unreliabilityError), U * mpq_class(1, 1UL << 30)) << round;
    }
  }
}

// dcr's path-factoring engine and the frontier engine agree on thousands of
// random simple graphs (uniform p, as dcr takes it).
TEST(FrontierDouble, AgreesWithDcrEngine) {
  std::mt19937 rng(31337);
  for (int round = 0; round < test_support::rounds(2500); ++round) {
    const int n = 2 + static_cast<int>(rng() % 8);
    const int m = 1 + static_cast<int>(rng() % std::min(n * (n - 1) / 2, 13));
    // Up to every node a terminal: from five on, auto keeps profiles.
    const int K = 2 + static_cast<int>(rng() % (n - 1));
    const int D = static_cast<int>(rng() % (n + 1)) - 1;
    const Problem pr = randomProblem(rng, n, m, K, D);
    const double p = 0.05 + 0.9 * (rng() % 1000) / 1000.0;
    std::vector<std::vector<int>> adj(n);
    for (auto [u, v] : pr.edges)
      adj[u].push_back(v), adj[v].push_back(u);
    std::vector<int> offsets{0}, neighbours, flags(n, 0);
    for (int v = 0; v < n; ++v) {
      for (int w : adj[v])
        neighbours.push_back(w + 1);
      offsets.push_back(static_cast<int>(neighbours.size()));
    }
    for (int t : pr.terminals)
      flags[t] = 1;
    myGraph g(offsets.data(), neighbours.data(), flags.data(), n, static_cast<int>(pr.edges.size()),
              D, p, 0.0);
    const double want = g.computeReliability();
    const auto got = frontier::solveDouble(pr, std::vector<double>(pr.edges.size(), p));
    ASSERT_EQ(got.status, Status::kComplete);
    ASSERT_NEAR(got.reliability, want, 1e-12) << "round " << round;
  }
}

// One diagram, many p: each evaluation matches a solve at that p within
// both error bounds, and brackets the polynomial's exact value.
TEST(FrontierDiagram, EvaluatesLikeSolves) {
  std::mt19937 rng(5);
  for (int round = 0; round < test_support::rounds(40); ++round) {
    const int n = 4 + static_cast<int>(rng() % 8);
    const int m = 3 + static_cast<int>(rng() % std::min(n * (n - 1) / 2 - 2, 20));
    const int K = 2 + static_cast<int>(rng() % (n - 1));
    const int D = static_cast<int>(rng() % (n + 1)) - 1;
    const Problem pr = randomProblem(rng, n, m, K, D);
    const auto dg = frontier::Diagram::build(pr);
    ASSERT_EQ(dg.status(), Status::kComplete);
    const auto poly = frontier::reliabilityPolynomial(pr);
    for (int k = 0; k <= 10; ++k) {
      const Decimal d = decimal(k, 10);
      const auto v = dg.evaluate(d.p, d.q);
      const auto s = frontier::solveDouble(pr, std::vector<double>(pr.edges.size(), d.p),
                                           std::vector<double>(pr.edges.size(), d.q));
      ASSERT_LE(std::abs(v.reliability - s.reliability), v.error + s.reliabilityError);
      ASSERT_TRUE(brackets(v.reliability, v.error, poly.evaluate(d.exact)));
    }
  }
}

// Values are the round-to-nearest sums, not the middle of the bounds: where
// R and 1 - R are exact in double (a single edge, a path, a triangle at
// quarter steps of p) they come out exact, from solves and from diagrams.
TEST(FrontierDouble, RepresentableValuesComeOutExact) {
  const Problem edge{2, {{0, 1}}, {0, 1}, -1};
  const Problem path{4, {{0, 1}, {1, 2}, {2, 3}}, {0, 3}, 3};
  const Problem triangle{3, {{0, 1}, {1, 2}, {0, 2}}, {1, 2}, 2};  // R = p + q p^2
  for (const Problem& pr : {edge, path, triangle}) {
    const auto dg = frontier::Diagram::build(pr);
    ASSERT_EQ(dg.status(), Status::kComplete);
    std::vector<std::pair<double, double>> points;
    for (double p : {0.0, 0.25, 0.5, 1.0})
      points.push_back({p, 1 - p});
    const auto many = dg.evaluate(points);
    for (std::size_t i = 0; i < points.size(); ++i) {
      const auto [p, q] = points[i];
      const mpq_class R =
          frontier::solveExact(pr, std::vector<mpq_class>(pr.edges.size(), mpq_class(p)))
              .reliability;
      ASSERT_EQ(mpq_class(R.get_d()), R);  // the premise: R is a double
      const auto s = frontier::solveDouble(pr, std::vector<double>(pr.edges.size(), p));
      EXPECT_EQ(mpq_class(s.reliability), R) << p;
      EXPECT_EQ(mpq_class(s.unreliability), 1 - R) << p;
      EXPECT_TRUE(brackets(s.reliability, s.reliabilityError, R)) << p;
      EXPECT_EQ(mpq_class(dg.evaluate(p, q).reliability), R) << p;
      EXPECT_EQ(mpq_class(many[i].reliability), R) << p;
      EXPECT_TRUE(brackets(many[i].reliability, many[i].error, R)) << p;
      EXPECT_LE(mpq_class(many[i].lower), R);
      EXPECT_GE(mpq_class(many[i].upper), R);
    }
  }
}

// Masses far below the normal range (p = 1e-200: a path of four edges has
// R = 1e-800) still keep exact values inside both kinds of bound.
TEST(FrontierDiagram, BoundsHoldBelowTheNormalRange) {
  Problem path{5, {{0, 1}, {1, 2}, {2, 3}, {3, 4}}, {0, 4}, -1};
  for (const Problem& pr : {path, frontier_test::grid(3, 4), frontier_test::grid(3, -1)}) {
    const auto dg = frontier::Diagram::build(pr);
    const auto poly = frontier::reliabilityPolynomial(pr);
    for (double p : {1e-200, 1e-300, 4.9e-324, 1e-78, 3.3e-78, 7.1e-79, 0.5}) {
      const double q = 1.0 - p;  // 1 - p rounds to 1 for the tiny ones
      const mpq_class R = poly.evaluate(mpq_class(p));
      const auto v = dg.evaluate(p, q);
      EXPECT_TRUE(brackets(v.reliability, v.error, R)) << p;
      const auto s = frontier::solveDouble(pr, std::vector<double>(pr.edges.size(), p),
                                           std::vector<double>(pr.edges.size(), q));
      EXPECT_TRUE(brackets(s.reliability, s.reliabilityError, R)) << p;
      EXPECT_TRUE(brackets(s.unreliability, s.unreliabilityError, 1 - R)) << p;
    }
  }
}

}  // namespace
