// The sweep over ranks (threads standing in for MPI processes) gives the
// one-process answer to the bit on every rank, and stops cleanly on every
// rank at once.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <mutex>
#include <random>
#include <set>

#include "frontier/frontier.hpp"
#include "frontier/sweep.hpp"
#include "tests/frontier/brute_force.hpp"
#include "tests/frontier/loopback.hpp"
#include "tests/support/rounds.hpp"

namespace {

using frontier::DoubleResult;
using frontier::Options;
using frontier::Problem;
using frontier::Status;
using frontier_test::Loopback;

std::uint64_t bits(double x) {
  return std::bit_cast<std::uint64_t>(x);
}

// solveDouble on `ranks` ranks: every rank's result.
std::vector<DoubleResult> onRanks(int ranks, const Problem& pr, const std::vector<double>& p,
                                  Options o = {}) {
  std::vector<DoubleResult> out(ranks);
  Loopback::run(ranks, [&](frontier::Exchange& ex) {
    Options mine = o;
    mine.exchange = &ex;
    out[ex.rank()] = frontier::solveDouble(pr, p, mine);
  });
  return out;
}

TEST(FrontierRanks, SameBitsOnEveryRankForEveryRankCount) {
  frontier::detail::rankSliceParents = 16;  // many slices a level
  std::mt19937 rng(20261211);
  std::set<frontier::StateKind> kinds;
  for (int round = 0; round < test_support::rounds(30); ++round) {
    const Problem pr = frontier_test::mixedProblem(rng, round);
    std::vector<double> p;
    for (std::size_t e = 0; e < pr.edges.size(); ++e)
      p.push_back((1 + static_cast<int>(rng() % 9)) / 10.0);
    const DoubleResult one = frontier::solveDouble(pr, p);
    kinds.insert(one.stats.kind);
    const int ranks = 2 + round % 3;  // 2, 3 and 4 in turn
    SCOPED_TRACE(frontier_test::describe(pr) + ", ranks " + std::to_string(ranks));
    for (const DoubleResult& r : onRanks(ranks, pr, p)) {
      ASSERT_EQ(r.status, one.status);
      EXPECT_EQ(bits(r.reliability), bits(one.reliability));
      EXPECT_EQ(bits(r.reliabilityError), bits(one.reliabilityError));
      EXPECT_EQ(bits(r.unreliability), bits(one.unreliability));
      EXPECT_EQ(bits(r.lower), bits(one.lower));
      EXPECT_EQ(bits(r.upper), bits(one.upper));
      EXPECT_EQ(r.stats.levelStates, one.stats.levelStates);
      EXPECT_EQ(r.stats.order, one.stats.order);
    }
    // Exact masses cross as integers of any length.
    std::vector<mpq_class> px;
    for (double x : p)
      px.push_back(mpq_class(static_cast<int>(x * 10 + 0.5), 10));
    const frontier::ExactResult exact = frontier::solveExact(pr, px);
    Loopback::run(ranks, [&](frontier::Exchange& ex) {
      Options o;
      o.exchange = &ex;
      const frontier::ExactResult r = frontier::solveExact(pr, px, o);
      EXPECT_EQ(r.status, exact.status);
      EXPECT_EQ(r.reliability, exact.reliability);
      EXPECT_EQ(r.unreliability, exact.unreliability);
    });
  }
  EXPECT_EQ(kinds.size(), 3u);  // connectivity, distance and profile states all ran
  frontier::detail::rankSliceParents = std::size_t{1} << 14;
}

// Stopped by the clock, a decision or the memory bound, every rank stops
// with the same status and the same bounds around the true value; what
// runs only in one process says so.
TEST(FrontierRanks, StopsAgreeOnEveryRank) {
  frontier::detail::rankSliceParents = 16;
  const Problem pr = frontier_test::grid(5, 10);
  const std::vector<double> p(pr.edges.size(), 0.9);
  const double R = frontier::solveDouble(pr, p).reliability;
  Options now, decide, tight;
  now.timeLimit = 0;
  decide.decide = 0.5;
  tight.memoryBytes = 2048;
  const std::pair<Options, Status> stops[] = {
      {now, Status::kTimeLimit}, {decide, Status::kDecided}, {tight, Status::kMemoryLimit}};
  for (const auto& [o, want] : stops) {
    const auto rs = onRanks(3, pr, p, o);
    for (const DoubleResult& r : rs) {
      EXPECT_EQ(r.status, want);
      EXPECT_EQ(bits(r.lower), bits(rs[0].lower));
      EXPECT_EQ(bits(r.upper), bits(rs[0].upper));
      EXPECT_LE(r.lower, R);
      EXPECT_GE(r.upper, R);
    }
  }
  const std::vector<mpq_class> px(p.size(), mpq_class(9, 10));
  std::vector<frontier::ExactResult> xs(3);
  Loopback::run(3, [&](frontier::Exchange& ex) {
    Options o = now;
    o.exchange = &ex;
    xs[ex.rank()] = frontier::solveExact(pr, px, o);
    o.timeLimit = -1;
    const auto poly = frontier::reliabilityPolynomial(pr, o);
    EXPECT_EQ(poly.status, Status::kUnsupported);
    EXPECT_FALSE(poly.message.empty());
  });
  for (const auto& x : xs) {
    EXPECT_EQ(x.status, Status::kTimeLimit);
    EXPECT_EQ(x.lower, xs[0].lower);
    EXPECT_EQ(x.upper, xs[0].upper);
    EXPECT_LE(x.lower, x.upper);
  }
  frontier::detail::rankSliceParents = std::size_t{1} << 14;
}

}  // namespace
