// Closed forms, a known grid value, early stops with their bounds, the
// memory bound and the statuses that compute nothing.
#include <gtest/gtest.h>

#include "frontier/frontier.hpp"
#include "tests/frontier/brute_force.hpp"

namespace {

using frontier::Options;
using frontier::Problem;
using frontier::Status;

mpq_class power(const mpq_class& x, int k) {
  mpq_class r = 1;
  for (int i = 0; i < k; ++i)
    r *= x;
  return r;
}

mpq_class exact(const Problem& pr, const mpq_class& p, const Options& o = {}) {
  const auto r = frontier::solveExact(pr, std::vector<mpq_class>(pr.edges.size(), p), o);
  EXPECT_EQ(r.status, Status::kComplete) << r.message;
  return r.reliability;
}

Problem path(int edges, int D) {
  Problem pr{edges + 1, {}, {0, edges}, D};
  for (int i = 0; i < edges; ++i)
    pr.edges.push_back({i, i + 1});
  return pr;
}

// Routes of the given lengths between nodes 0 and 1, sharing no edge.
Problem routes(const std::vector<int>& lengths, int D) {
  Problem pr{2, {}, {0, 1}, D};
  for (int len : lengths) {
    int prev = 0;
    for (int i = 1; i < len; ++i) {
      pr.edges.push_back({prev, pr.nodes});
      prev = pr.nodes++;
    }
    pr.edges.push_back({prev, 1});
  }
  return pr;
}

TEST(FrontierClosedForm, PathCycleBipartiteAndParallelRoutes) {
  const mpq_class p(7, 10);
  for (int len = 1; len <= 7; ++len) {
    EXPECT_EQ(exact(path(len, -1), p), power(p, len));
    EXPECT_EQ(exact(path(len, len), p), power(p, len));
    EXPECT_EQ(exact(path(len, len - 1), p), 0);
  }
  // A cycle of 9 edges, terminals 3 apart: routes of 3 and 6 edges.
  Problem cycle{9, {}, {0, 3}, -1};
  for (int i = 0; i < 9; ++i)
    cycle.edges.push_back({i, (i + 1) % 9});
  const mpq_class both = power(p, 3) + power(p, 6) - power(p, 9);
  EXPECT_EQ(exact(cycle, p), both);
  for (int D = 0; D <= 9; ++D) {
    cycle.maxHops = D;
    EXPECT_EQ(exact(cycle, p), D < 3 ? mpq_class(0) : D < 6 ? power(p, 3) : both) << D;
  }
  // K_{2,n} with D = 2 between the two hubs: 1 - (1 - p^2)^n.
  for (int n = 1; n <= 8; ++n) {
    Problem k2n{n + 2, {}, {0, 1}, 2};
    for (int i = 0; i < n; ++i)
      k2n.edges.push_back({0, 2 + i}), k2n.edges.push_back({1, 2 + i});
    EXPECT_EQ(exact(k2n, p), 1 - power(1 - p * p, n));
  }
  // Parallel routes: only those within D count.
  const std::vector<int> lengths{1, 2, 3, 5};
  for (int D = 0; D <= 6; ++D) {
    mpq_class fail = 1;
    for (int len : lengths)
      if (len <= D) fail *= 1 - power(p, len);
    EXPECT_EQ(exact(routes(lengths, D), p), 1 - fail) << D;
  }
}

TEST(FrontierClosedForm, FiveByFiveGridKnownValue) {
  const auto r = frontier::solveDouble(frontier_test::grid(5, -1), std::vector<double>(40, 0.9));
  ASSERT_EQ(r.status, Status::kComplete);
  EXPECT_NEAR(r.reliability, 0.975556589505, 1e-12);
  EXPECT_LT(r.reliabilityError, 1e-13);
}

// Every node of a k x k grid a terminal: the profile state's problems.
Problem everyNode(Problem pr) {
  pr.terminals.clear();
  for (int v = 0; v < pr.nodes; ++v)
    pr.terminals.push_back(v);
  return pr;
}

// Stops: whatever ends the sweep, the bounds bracket the exact value; also
// when two edge orders race (the dodecahedron with four terminals) and with
// profiles (every node of a grid a terminal).
TEST(FrontierStops, BoundsBracketTheExactValue) {
  for (const Problem& pr :
       {frontier_test::grid(5, 10), frontier_test::dodecahedron({0, 7, 12, 18}, 5),
        everyNode(frontier_test::grid(4, 7))}) {
    const std::vector<double> p(pr.edges.size(), 0.9);
    const mpq_class R = exact(pr, mpq_class(9, 10));

    Options now;
    now.timeLimit = 0;
    const auto d0 = frontier::solveDouble(pr, p, now);
    EXPECT_EQ(d0.status, Status::kTimeLimit);
    EXPECT_LE(mpq_class(d0.lower), R);
    EXPECT_GE(mpq_class(d0.upper), R);
    const auto e0 =
        frontier::solveExact(pr, std::vector<mpq_class>(p.size(), mpq_class(9, 10)), now);
    EXPECT_EQ(e0.status, Status::kTimeLimit);
    EXPECT_LE(e0.lower, R);
    EXPECT_GE(e0.upper, R);

    for (double threshold : {0.1, 0.5, 0.7, 0.8, 0.9, 0.99}) {
      Options decide;
      decide.decide = threshold;
      const auto d = frontier::solveDouble(pr, p, decide);
      ASSERT_TRUE(d.status == Status::kDecided || d.status == Status::kComplete);
      EXPECT_LE(mpq_class(d.lower), R);
      EXPECT_GE(mpq_class(d.upper), R);
      if (d.status == Status::kDecided) {
        EXPECT_TRUE(d.lower >= threshold || d.upper < threshold) << threshold;
      }
      // Exact arithmetic stops by the same test; an early and a late stop
      // are enough for it.
      if (threshold != 0.5 && threshold != 0.99) continue;
      const auto e =
          frontier::solveExact(pr, std::vector<mpq_class>(p.size(), mpq_class(9, 10)), decide);
      EXPECT_LE(e.lower, R);
      EXPECT_GE(e.upper, R);
      if (e.status == Status::kDecided) {
        EXPECT_TRUE(e.lower >= threshold || e.upper < threshold);
      }
    }

    // Cancelled from the progress callback partway: still valid bounds, and
    // the progress reports are consistent.
    int calls = 0;
    Options cancel;
    cancel.cancelled = [&] { return ++calls > 3; };
    cancel.progress = [&](const frontier::Progress& pg) {
      EXPECT_LE(pg.lower, pg.upper);
      EXPECT_LE(pg.edge, pg.edges);
    };
    const auto c = frontier::solveDouble(pr, p, cancel);
    EXPECT_EQ(c.status, Status::kCancelled);
    EXPECT_LE(mpq_class(c.lower), R);
    EXPECT_GE(mpq_class(c.upper), R);
  }
}

TEST(FrontierStops, MemoryBoundStopsCleanly) {
  for (const Problem& pr : {frontier_test::grid(6, 14), everyNode(frontier_test::grid(4, 8))}) {
    Options tight;
    tight.memoryBytes = 64 * 1024;
    const std::vector<double> p(pr.edges.size(), 0.9);
    const auto d = frontier::solveDouble(pr, p, tight);
    EXPECT_EQ(d.status, Status::kMemoryLimit);
    EXPECT_LE(d.lower, d.upper);
    const auto e =
        frontier::solveExact(pr, std::vector<mpq_class>(p.size(), mpq_class(9, 10)), tight);
    EXPECT_EQ(e.status, Status::kMemoryLimit);
    EXPECT_EQ(frontier::Diagram::build(pr, tight).status(), Status::kMemoryLimit);
    EXPECT_EQ(frontier::reliabilityPolynomial(pr, tight).status, Status::kMemoryLimit);
  }
}

// The shape screen reports what the sweep then meets.
TEST(FrontierStatus, ShapeMatchesTheSweep) {
  for (int D : {-1, 6, 10}) {
    const Problem pr = frontier_test::grid(5, D);
    const auto s = frontier::shape(pr);
    const auto r = frontier::solveDouble(pr, std::vector<double>(pr.edges.size(), 0.5));
    ASSERT_EQ(s.status, Status::kComplete);
    EXPECT_EQ(s.kind, r.stats.kind);
    EXPECT_EQ(s.edgesUsed, r.stats.edgesUsed);
    EXPECT_EQ(s.maxPortals, r.stats.maxFrontier);
    EXPECT_GE(s.stateBytes, r.stats.stateBytes);
  }
  EXPECT_EQ(frontier::shape(Problem{2, {{0, 1}}, {0}, 1}).status, Status::kTooFewTerminals);
}

TEST(FrontierStatus, InputsThatComputeNothing) {
  Problem one{3, {{0, 1}, {1, 2}}, {1}, 2};
  EXPECT_EQ(frontier::solveDouble(one, {0.5, 0.5}).status, Status::kTooFewTerminals);
  one.terminals = {2, 2};
  EXPECT_EQ(frontier::solveExact(one, {mpq_class(1, 2), mpq_class(1, 2)}).status,
            Status::kTooFewTerminals);
  Problem bad{3, {{0, 3}}, {0, 1}, 2};
  EXPECT_EQ(frontier::solveDouble(bad, {0.5}).status, Status::kInvalidInput);
  Problem ok{3, {{0, 1}, {1, 2}}, {0, 2}, 2};
  EXPECT_EQ(frontier::solveDouble(ok, {0.5}).status, Status::kInvalidInput);
  EXPECT_EQ(frontier::solveDouble(ok, {0.5, 1.5}).status, Status::kInvalidInput);
  Options forced;
  forced.kind = frontier::StateKind::kDistance;
  ok.maxHops = -1;
  EXPECT_EQ(frontier::solveDouble(ok, {0.5, 0.5}, forced).status, Status::kInvalidInput);
  // Terminals that no edge reaches, or farther apart than D: R = 0.
  Problem apart{4, {{0, 1}, {2, 3}}, {0, 3}, -1};
  EXPECT_EQ(exact(apart, mpq_class(1, 2)), 0);
  ok.maxHops = 1;
  EXPECT_EQ(exact(ok, mpq_class(1, 2)), 0);
}

}  // namespace
