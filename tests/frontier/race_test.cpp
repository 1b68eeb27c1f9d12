// Racing edge orders: the winner is the lane with the fewest states whatever
// the timing, losers stop early, and a solve that races gives the same bits
// on every run.
#include "frontier/race.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "frontier/frontier.hpp"
#include "frontier/record.hpp"
#include "frontier/screen.hpp"
#include "tests/frontier/brute_force.hpp"

namespace {

using frontier::LostTest;
using frontier::Options;
using frontier::Stats;
using frontier::Status;

// A lane that "makes" states ten at a time up to its total, asking `lost`
// as a sweep does, and records how far it got.
struct FakeLanes {
  std::vector<std::uint64_t> totals;
  std::vector<std::atomic<std::uint64_t>> reached;
  std::vector<std::atomic<bool>> stopped;
  explicit FakeLanes(std::vector<std::uint64_t> t)
      : totals(std::move(t)), reached(totals.size()), stopped(totals.size()) {}
  frontier::Lane lane() {
    return [this](std::size_t i, const Options&, Stats& st, const LostTest& lost) {
      for (std::uint64_t made = 0;; made += 10) {
        reached[i] = made;
        if (made >= totals[i]) break;
        if (lost && lost(made)) return stopped[i] = true, Status::kCancelled;
        std::this_thread::sleep_for(std::chrono::microseconds(20));  // let lanes overlap
      }
      st.statesCreated = totals[i];
      return Status::kComplete;
    };
  }
};

TEST(FrontierRace, FewestStatesWinsWhateverTheTiming) {
  const std::vector<std::vector<std::uint64_t>> cases = {
      {5000, 300}, {300, 5000}, {700, 700}, {20000, 20000, 150}, {90, 20000, 20000}};
  for (const auto& totals : cases)
    for (int run = 0; run < 20; ++run) {
      FakeLanes lanes(totals);
      Stats stats;
      std::size_t winner = 99;
      Options o;
      o.threads = run % 2 == 0 ? 1 : 4;  // lanes one after another, or side by side
      ASSERT_EQ(frontier::race(totals.size(), lanes.lane(), o, stats, winner), Status::kComplete);
      std::size_t want = 0;
      for (std::size_t i = 1; i < totals.size(); ++i)
        if (totals[i] < totals[want]) want = i;
      EXPECT_EQ(winner, want);
      EXPECT_EQ(stats.statesCreated, totals[want]);
      // A lane stops only once it cannot win: at or past the winner's total.
      for (std::size_t i = 0; i < totals.size(); ++i) {
        EXPECT_FALSE(lanes.stopped[i] && i == want);
        if (lanes.stopped[i]) {
          EXPECT_GE(lanes.reached[i].load(), totals[want]) << i;
        }
      }
    }
}

TEST(FrontierRace, DecidingLanesWinByTheirStates) {
  // Lane 1 decides at once, having made 5 states; lane 0 decides after 3
  // (it wins whichever thread was quicker) or would after 9 (it stops once
  // it has made more than 5, since it could not win).
  for (std::uint64_t decidesAt : {3u, 9u}) {
    const frontier::Lane lane = [decidesAt](std::size_t i, const Options&, Stats& st,
                                            const LostTest& lost) {
      if (i == 1) return st.statesCreated = 5, Status::kDecided;
      for (std::uint64_t made = 0;; ++made) {
        if (lost && lost(made)) return Status::kCancelled;
        if (made == decidesAt) return st.statesCreated = made, Status::kDecided;
      }
    };
    Options two;
    two.threads = 2;  // the lanes side by side
    Stats stats;
    std::size_t winner = 9;
    EXPECT_EQ(frontier::race(2, lane, two, stats, winner), Status::kDecided);
    EXPECT_EQ(winner, decidesAt < 5 ? 0u : 1u);
    EXPECT_EQ(stats.statesCreated, std::min<std::uint64_t>(decidesAt, 5));
  }
}

TEST(FrontierRace, LanesShareTheMemoryBoundAndRetryAloneWhenAllRunOut) {
  Options whole;
  whole.memoryBytes = 1000;
  std::vector<std::size_t> bounds;
  std::atomic<int> calls{0};
  const frontier::Lane lane = [&](std::size_t i, const Options& o, Stats&, const LostTest&) {
    ++calls;
    if (i == 0 && o.memoryBytes == 1000) return Status::kComplete;
    EXPECT_EQ(o.memoryBytes, 500u);
    return Status::kMemoryLimit;
  };
  Stats stats;
  std::size_t winner = 9;
  EXPECT_EQ(frontier::race(2, lane, whole, stats, winner), Status::kComplete);
  EXPECT_EQ(winner, 0u);
  EXPECT_EQ(calls.load(), 3);
}

// The dodecahedron with four terminals races two orders; the answer and the
// state count must not depend on which thread was quicker.
TEST(FrontierRace, RacedSolvesRepeatBitForBit) {
  const frontier::Problem pr = frontier_test::dodecahedron({0, 7, 12, 18}, 6);
  ASSERT_EQ(pr.edges.size(), 30u);
  const std::vector<double> p(pr.edges.size(), 0.9);
  Options sideBySide;
  sideBySide.threads = 2;  // the two orders race on two threads
  const auto first = frontier::solveDouble(pr, p, sideBySide);
  ASSERT_EQ(first.status, Status::kComplete);
  EXPECT_EQ(first.stats.orders, 2);
  const auto exact = frontier::solveExact(pr, std::vector<mpq_class>(30, mpq_class(9, 10)));
  ASSERT_EQ(exact.status, Status::kComplete);
  EXPECT_LE(std::abs(first.reliability - exact.reliability.get_d()),
            first.reliabilityError + 1e-16);
  for (int run = 0; run < 8; ++run) {
    const auto again = frontier::solveDouble(pr, p, sideBySide);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(again.reliability),
              std::bit_cast<std::uint64_t>(first.reliability));
    EXPECT_EQ(again.stats.statesCreated, first.stats.statesCreated);
  }
}

// The screen of a profile order: the state count itself while no level
// outgrows the sample, and an estimate of the right size once levels are
// sampled. A sweep this small is raced without the screen; screened, it
// still gives the same value.
TEST(FrontierScreen, CountsWithinTheSampleAndEstimatesBeyondIt) {
  const frontier::Problem pr = frontier_test::dodecahedron({0, 3, 7, 9, 12, 16, 19}, 5);
  std::vector<frontier::Plan> plans;
  std::string message;
  ASSERT_EQ(frontier::makePlans(pr, frontier::StateKind::kProfile, plans, message),
            Status::kComplete);
  ASSERT_EQ(plans.size(), 2u);
  for (const frontier::Plan& plan : plans) {
    frontier::RecordSink sink;
    Stats st;
    ASSERT_EQ(frontier::runSweep(plan, sink, Options{}, st, LostTest{}), Status::kComplete);
    const double states = static_cast<double>(st.statesCreated);
    EXPECT_EQ(frontier::screenStates(plan, std::size_t{1} << 30), states);
    const double sampled = frontier::screenStates(plan, 300);
    EXPECT_GT(sampled, states / 2);
    EXPECT_LT(sampled, states * 2);
  }
  Options o;
  o.kind = frontier::StateKind::kProfile;
  const auto r = frontier::solveDouble(pr, std::vector<double>(pr.edges.size(), 0.9), o);
  ASSERT_EQ(r.status, Status::kComplete);
  EXPECT_EQ(r.stats.order.find("screened"), std::string::npos) << r.stats.order;
  EXPECT_EQ(r.stats.orders, 2);
  // Screened as if large: close pilots go on to the full screen; a clear
  // one (about 4x here) picks the order alone. Either way the same value.
  const frontier::Problem clear = frontier_test::dodecahedron({0, 5, 10, 15, 19, 2, 8}, 5);
  for (const auto& [problem, how] :
       {std::pair{pr, "screened at"}, std::pair{clear, "piloted at"}}) {
    const std::vector<double> p(problem.edges.size(), 0.9);
    const auto raced = frontier::solveDouble(problem, p, o);
    frontier::detail::smallSweep = 0;
    const auto screened = frontier::solveDouble(problem, p, o);
    frontier::detail::smallSweep = 250000;
    ASSERT_EQ(screened.status, Status::kComplete);
    EXPECT_NE(screened.stats.order.find(how), std::string::npos) << screened.stats.order;
    EXPECT_EQ(screened.stats.orders, 1);  // screened orders are never raced
    EXPECT_LE(std::abs(screened.reliability - raced.reliability),
              screened.reliabilityError + raced.reliabilityError);
  }
  // Screened as if very large: every greedy order is piloted and the best
  // pilots screened. Each order maps its edges back to the input's, so
  // edges of different probabilities still give the raced value.
  std::vector<double> p;
  for (std::size_t e = 0; e < pr.edges.size(); ++e)
    p.push_back(0.75 + 0.02 * static_cast<double>(e % 11));
  const auto raced = frontier::solveDouble(pr, p, o);
  frontier::detail::smallSweep = frontier::detail::wideSweep = 0;
  const auto widened = frontier::solveDouble(pr, p, o);
  // Pilots and screens that stop once they have lost leave the same order
  // on any thread count.
  Options one = o;
  one.threads = 1;
  const auto widenedOne = frontier::solveDouble(pr, p, one);
  // Widened, and the best pilot of all is smaller than the planned orders'
  // (25.7k against 29.2k here) and small: the two best are raced.
  frontier::detail::smallSweep = std::min(frontier::screenStates(plans[0], frontier::kPilotSample),
                                          frontier::screenStates(plans[1], frontier::kPilotSample));
  const auto small = frontier::solveDouble(pr, p, o);
  frontier::detail::smallSweep = 250000, frontier::detail::wideSweep = 2e6;
  ASSERT_EQ(widened.status, Status::kComplete);
  EXPECT_NE(widened.stats.order.find("the best pilot of"), std::string::npos)
      << widened.stats.order;
  EXPECT_EQ(widened.stats.orders, 1);
  EXPECT_EQ(widenedOne.stats.order, widened.stats.order);
  EXPECT_EQ(widenedOne.reliability, widened.reliability);
  EXPECT_NE(small.stats.order.find("orders, raced"), std::string::npos) << small.stats.order;
  EXPECT_EQ(small.stats.orders, 2);
  for (const auto& r : {widened, small})
    EXPECT_LE(std::abs(r.reliability - raced.reliability),
              r.reliabilityError + raced.reliabilityError);
}

}  // namespace
