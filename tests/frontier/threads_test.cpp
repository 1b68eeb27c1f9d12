// The sweep on several threads gives the one-thread sweep's answer to the
// bit, for every state kind and every kind of mass, and stops cleanly.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <set>

#include "frontier/frontier.hpp"
#include "frontier/sweep.hpp"
#include "tests/frontier/brute_force.hpp"
#include "tests/support/rounds.hpp"

namespace {

using frontier::Options;
using frontier::Problem;
using frontier::Status;

std::uint64_t bits(double x) {
  return std::bit_cast<std::uint64_t>(x);
}

Options withThreads(int threads) {
  Options o;
  o.threads = threads;
  return o;
}

// Slices, chunks and number blocks of a few states each, so that the
// workers' shares interleave within small levels; the sizes come back
// when the test ends.
struct SmallShares {
  explicit SmallShares(std::size_t slice, std::size_t shareFrom) {
    frontier::detail::sliceParents = slice;
    frontier::detail::shareFrom = shareFrom;
    frontier::detail::chunkParents = 3;
    frontier::detail::blockBits = 1;
  }
  ~SmallShares() {
    frontier::detail::sliceParents = saved.slice;
    frontier::detail::shareFrom = saved.shareFrom;
    frontier::detail::chunkParents = saved.chunk;
    frontier::detail::blockBits = saved.blockBits;
  }
  struct {
    std::size_t slice = frontier::detail::sliceParents, shareFrom = frontier::detail::shareFrom,
                chunk = frontier::detail::chunkParents;
    int blockBits = frontier::detail::blockBits;
  } saved;
};

// Random problems of every kind (no limit: connectivity; few terminals:
// distances; many: profiles), slices of a few parents so that a level
// spans many; doubles, exact values, the diagram, importance and the
// polynomial all agree with one thread.
TEST(FrontierThreads, SameBitsForEveryThreadCount) {
  const SmallShares shares(32, 8);
  std::mt19937 rng(20261210);
  std::set<frontier::StateKind> kinds;
  for (int round = 0; round < test_support::rounds(30); ++round) {
    const Problem pr = frontier_test::mixedProblem(rng, round);
    std::vector<double> p, q;
    std::vector<mpq_class> exactP;
    for (std::size_t e = 0; e < pr.edges.size(); ++e) {
      const int num = 1 + static_cast<int>(rng() % 9);
      p.push_back(num / 10.0);
      q.push_back(1 - num / 10.0);
      exactP.emplace_back(num, 10);
    }
    const auto one = frontier::solveDouble(pr, p, withThreads(1));
    kinds.insert(one.stats.kind);
    const auto oneExact = frontier::solveExact(pr, exactP, withThreads(1));
    const auto oneImportance = frontier::importanceDouble(pr, p, q, withThreads(1));
    const auto onePoly = frontier::reliabilityPolynomial(pr, withThreads(1));
    {
      const int threads = 2 + round % 3;  // 2, 3 and 4 in turn
      SCOPED_TRACE(frontier_test::describe(pr) + ", threads " + std::to_string(threads));
      const auto r = frontier::solveDouble(pr, p, withThreads(threads));
      ASSERT_EQ(r.status, one.status);
      EXPECT_EQ(bits(r.reliability), bits(one.reliability));
      EXPECT_EQ(bits(r.reliabilityError), bits(one.reliabilityError));
      EXPECT_EQ(bits(r.lower), bits(one.lower));
      EXPECT_EQ(r.stats.levelStates, one.stats.levelStates);
      // A threshold decided on the way stops where one thread stops.
      Options d1 = withThreads(1), dn = withThreads(threads);
      d1.decide = dn.decide = 0.9 * one.reliability;
      const auto a = frontier::solveDouble(pr, p, d1), b = frontier::solveDouble(pr, p, dn);
      EXPECT_EQ(b.status, a.status);
      EXPECT_EQ(bits(b.lower), bits(a.lower));
      EXPECT_EQ(bits(b.upper), bits(a.upper));
      EXPECT_EQ(b.stats.levelStates, a.stats.levelStates);
      const auto x = frontier::solveExact(pr, exactP, withThreads(threads));
      EXPECT_EQ(x.reliability, oneExact.reliability);
      const auto imp = frontier::importanceDouble(pr, p, q, withThreads(threads));
      ASSERT_EQ(imp.birnbaum.size(), oneImportance.birnbaum.size());
      for (std::size_t e = 0; e < imp.birnbaum.size(); ++e)
        EXPECT_EQ(bits(imp.birnbaum[e]), bits(oneImportance.birnbaum[e]));
      EXPECT_EQ(frontier::reliabilityPolynomial(pr, withThreads(threads)).counts, onePoly.counts);
      const auto dg = frontier::Diagram::build(pr, withThreads(threads));
      const auto dgOne = frontier::Diagram::build(pr, withThreads(1));
      if (dg.status() == Status::kComplete) {
        EXPECT_EQ(bits(dg.evaluate(0.7, 0.3).reliability),
                  bits(dgOne.evaluate(0.7, 0.3).reliability));
      }
    }
  }
  EXPECT_EQ(kinds.size(), 3u);
}

// A memory bound that cuts a level short, and a time limit, stop the
// threaded sweep with bounds that still hold.
TEST(FrontierThreads, LimitsStopCleanlyWithBounds) {
  const SmallShares shares(64, 0);
  const Problem pr = frontier_test::grid(8, -1);
  const std::vector<double> p(pr.edges.size(), 0.9);
  const auto full = frontier::solveDouble(pr, p, withThreads(1));
  ASSERT_EQ(full.status, Status::kComplete);
  Options small = withThreads(3);
  small.memoryBytes = 100000;
  const auto cut = frontier::solveDouble(pr, p, small);
  EXPECT_EQ(cut.status, Status::kMemoryLimit);
  EXPECT_LE(cut.lower, full.reliability + full.reliabilityError);
  EXPECT_GE(cut.upper, full.reliability - full.reliabilityError);
  Options now = withThreads(2);
  now.timeLimit = 0;
  EXPECT_EQ(frontier::solveDouble(pr, p, now).status, Status::kTimeLimit);
}

}  // namespace
