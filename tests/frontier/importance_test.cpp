// Birnbaum importance: against solves with one edge made perfect or broken,
// the double bounds against the exact values, a closed form, and the stops.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "frontier/frontier.hpp"
#include "tests/frontier/brute_force.hpp"
#include "tests/support/rounds.hpp"

namespace {

using frontier::Options;
using frontier::Problem;
using frontier::Status;
using frontier_test::brackets;
using frontier_test::decimal;
using frontier_test::describe;

// One edge order, no threads: many small solves, an exact answer either way.
mpq_class reliability(const Problem& pr, const std::vector<mpq_class>& p) {
  Options one;
  one.race = false;
  const auto r = frontier::solveExact(pr, p, one);
  EXPECT_EQ(r.status, Status::kComplete) << r.message;
  return r.reliability;
}

// Every edge, parallel ones, loops and those the plan drops included: exact
// I_e = R(p_e = 1) - R(p_e = 0), and the double values within their bounds.
TEST(FrontierImportance, AgreesWithConditionedSolves) {
  std::mt19937 rng(777);
  const long denominators[] = {2, 3, 10, 100, 1000000};
  for (int round = 0; round < test_support::rounds(300); ++round) {
    const int n = 2 + static_cast<int>(rng() % 7);
    const int m = 1 + static_cast<int>(rng() % std::min(n * (n - 1) / 2, 12));
    const int K = 2 + static_cast<int>(rng() % (n - 1));
    const int D = static_cast<int>(rng() % (n + 2)) - 1;
    const Problem pr = frontier_test::randomProblem(rng, n, m, K, D, round % 3 == 0);
    std::vector<mpq_class> p;
    std::vector<double> pd, qd;
    for (std::size_t e = 0; e < pr.edges.size(); ++e) {
      const long den = denominators[rng() % std::size(denominators)];
      const auto d = decimal(static_cast<long>(rng() % (den + 1)), den);
      p.push_back(d.exact), pd.push_back(d.p), qd.push_back(d.q);
    }
    const auto ex = frontier::importanceExact(pr, p);
    ASSERT_EQ(ex.status, Status::kComplete) << describe(pr) << ex.message;
    ASSERT_EQ(ex.birnbaum.size(), pr.edges.size());
    EXPECT_EQ(ex.reliability, reliability(pr, p)) << describe(pr);
    const auto db = frontier::importanceDouble(pr, pd, qd);
    ASSERT_EQ(db.status, Status::kComplete) << describe(pr) << db.message;
    EXPECT_TRUE(brackets(db.reliability, db.reliabilityError, ex.reliability)) << describe(pr);
    EXPECT_LT(db.birnbaumError, 1e-12);
    for (std::size_t e = 0; e < pr.edges.size(); ++e) {
      std::vector<mpq_class> x = p;
      x[e] = 1;
      const mpq_class up = reliability(pr, x);
      x[e] = 0;
      const mpq_class want = up - reliability(pr, x);
      ASSERT_EQ(ex.birnbaum[e], want) << describe(pr) << " edge " << e;
      ASSERT_EQ(ex.potential[e], (1 - p[e]) * want);
      ASSERT_TRUE(brackets(db.birnbaum[e], db.birnbaumError, want)) << describe(pr) << e;
      ASSERT_TRUE(brackets(db.potential[e], db.potentialError, ex.potential[e]));
    }
  }
}

// A path of n links between the terminals, with a pendant edge and a loop
// that no path uses: I_e is the product of the other links' p. Two links
// in parallel near p = 1: I_e = q of the other, tiny, and still accurate.
// Tiny p: the bound holds where the values underflow.
TEST(FrontierImportance, ClosedForms) {
  for (int D : {-1, 6, 5}) {
    Problem path{8, {}, {0, 6}, D};
    std::vector<mpq_class> p;
    for (int i = 0; i < 6; ++i)
      path.edges.push_back({i, i + 1}), p.emplace_back(i + 1, 10);
    path.edges.push_back({3, 7}), p.emplace_back(1, 2);
    path.edges.push_back({2, 2}), p.emplace_back(1, 2);
    const auto r = frontier::importanceExact(path, p);
    ASSERT_EQ(r.status, Status::kComplete);
    for (int e = 0; e < 8; ++e) {
      mpq_class want = e < 6 && D != 5 ? 1 : 0;
      for (int f = 0; f < 6 && e < 6; ++f)
        if (f != e) want *= p[f];
      EXPECT_EQ(r.birnbaum[e], want) << D << " " << e;
    }
  }
  const Problem twin{2, {{0, 1}, {1, 0}}, {0, 1}, 1};
  const auto d = decimal(999999999, 1000000000);
  const auto r = frontier::importanceDouble(twin, {d.p, d.p}, {d.q, d.q});
  ASSERT_EQ(r.status, Status::kComplete);
  for (int e : {0, 1})
    EXPECT_TRUE(brackets(r.birnbaum[e], r.birnbaumError, 1 - d.exact));
  EXPECT_LT(r.birnbaumError, 1e-9 * 0x1p-40);
  const Problem grid = frontier_test::grid(3, 4);
  for (double x : {1e-200, 4.9e-324, 7.1e-79}) {
    const std::vector<double> p(grid.edges.size(), x), q(grid.edges.size(), 1 - x);
    const auto d = frontier::importanceDouble(grid, p, q);
    const auto e = frontier::importanceExact(grid, std::vector<mpq_class>(p.size(), x));
    for (std::size_t i = 0; i < p.size(); ++i)
      EXPECT_TRUE(brackets(d.birnbaum[i], d.birnbaumError, e.birnbaum[i])) << x << " " << i;
  }
}

// Stopped or refused: a status that says why, and no values.
TEST(FrontierImportance, StopsCarryNoValues) {
  const Problem pr = frontier_test::grid(6, 14);
  const std::vector<double> p(pr.edges.size(), 0.9), q(pr.edges.size(), 0.1);
  Options now, cancel, tight;
  now.timeLimit = 0;
  cancel.cancelled = [] { return true; };
  tight.memoryBytes = 64 * 1024;
  const std::pair<Options, Status> stops[] = {
      {now, Status::kTimeLimit}, {cancel, Status::kCancelled}, {tight, Status::kMemoryLimit}};
  for (const auto& [options, status] : stops) {
    const auto d = frontier::importanceDouble(pr, p, q, options);
    EXPECT_EQ(d.status, status);
    EXPECT_TRUE(d.birnbaum.empty() && d.potential.empty());
    const auto e = frontier::importanceExact(
        pr, std::vector<mpq_class>(pr.edges.size(), mpq_class(9, 10)), options);
    EXPECT_EQ(e.status, status);
    EXPECT_TRUE(e.birnbaum.empty() && e.potential.empty());
  }
  EXPECT_EQ(frontier::importanceDouble({3, {{0, 1}}, {1, 1}, -1}, {0.5}, {0.5}).status,
            Status::kTooFewTerminals);
  EXPECT_EQ(frontier::importanceDouble(pr, {0.5}, {0.5}).status, Status::kInvalidInput);
  EXPECT_EQ(frontier::importanceExact(pr, std::vector<mpq_class>(pr.edges.size(), 2)).status,
            Status::kInvalidInput);
}

}  // namespace
