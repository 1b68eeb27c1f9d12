// The estimates against the frontier engine's exact values: determinism
// across threads, interval coverage over seeds, rare events.
#include "estimate/estimate.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "frontier/frontier.hpp"
#include "tests/frontier/loopback.hpp"

namespace {

constexpr int kSeeds = 200;  // about a second, under the sanitizers too

estimate::Problem grid(int k, int D, double p) {
  estimate::Problem pr;
  pr.nodes = k * k;
  for (int r = 0; r < k; ++r)
    for (int c = 0; c < k; ++c) {
      if (c + 1 < k) pr.edges.push_back({r * k + c, r * k + c + 1});
      if (r + 1 < k) pr.edges.push_back({r * k + c, (r + 1) * k + c});
    }
  pr.p.assign(pr.edges.size(), p);
  pr.terminals = {0, k * k - 1};
  pr.maxHops = D;
  return pr;
}

// A wheel of 6 (hub 0), all terminals within 2 hops, mixed p, a self-loop
// and a parallel spoke.
estimate::Problem wheel() {
  estimate::Problem pr;
  pr.nodes = 7;
  for (int i = 1; i <= 6; ++i) {
    pr.edges.push_back({0, i});
    pr.edges.push_back({i, i % 6 + 1});
  }
  pr.edges.push_back({3, 3});
  pr.edges.push_back({0, 4});
  for (std::size_t e = 0; e < pr.edges.size(); ++e)
    pr.p.push_back(0.75 + 0.02 * (e % 7));
  for (int v = 0; v < 7; ++v)
    pr.terminals.push_back(v);
  pr.maxHops = 2;
  return pr;
}

// A 4-cycle with a chord, opposite corners within 2 hops, p per edge.
estimate::Problem chorded() {
  estimate::Problem pr;
  pr.nodes = 4;
  pr.edges = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {1, 3}};
  pr.p = {0.6, 0.7, 0.8, 0.5, 0.9};
  pr.terminals = {0, 2};
  pr.maxHops = 2;
  return pr;
}

double exactUnreliability(const estimate::Problem& pr) {
  frontier::Problem f;
  f.nodes = pr.nodes;
  f.edges = pr.edges;
  f.terminals = pr.terminals;
  f.maxHops = pr.maxHops;
  auto r = frontier::solveDouble(f, pr.p);
  EXPECT_EQ(r.status, frontier::Status::kComplete);
  return r.unreliability;
}

bool sameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// Ranks played by threads, each with its own thread count.
std::vector<estimate::Result> onRanks(int ranks, const estimate::Problem& pr,
                                      const estimate::Options& o) {
  std::vector<estimate::Result> out(ranks);
  frontier_test::Loopback::run(ranks, [&](frontier::Exchange& ex) {
    estimate::Options mine = o;
    mine.threads = 1 + ex.rank() % 2;
    mine.exchange = &ex;
    out[ex.rank()] = estimate::estimateReliability(pr, mine);
  });
  return out;
}

TEST(Estimate, SameSeedSameBitsWhateverTheThreadsAndRanks) {
  for (auto sampler : {estimate::Sampler::kCrude, estimate::Sampler::kPermutation}) {
    for (bool byRule : {false, true}) {
      estimate::Options o;
      o.sampler = sampler;
      o.seed = 42;
      o.samples = byRule ? 0 : 5001;  // the last block cut short
      o.relError = byRule ? 0.02 : 0;
      o.importance = byRule;
      std::vector<estimate::Result> runs;
      for (int threads : {1, 2, 3}) {
        o.threads = threads;
        runs.push_back(estimate::estimateReliability(grid(3, 5, 0.8), o));
      }
      for (int ranks : {2, 3}) {
        const auto r = onRanks(ranks, grid(3, 5, 0.8), o);
        runs.insert(runs.end(), r.begin(), r.end());
      }
      for (const auto& r : runs) {
        SCOPED_TRACE(r.sampler + (byRule ? " rule" : " cap"));
        EXPECT_EQ(r.status, estimate::Status::kComplete);
        EXPECT_EQ(r.samples, runs[0].samples);
        if (!byRule) {
          EXPECT_EQ(r.samples, 5001u);
        }
        EXPECT_TRUE(sameBits(r.estimate, runs[0].estimate));
        EXPECT_TRUE(sameBits(r.stdError, runs[0].stdError));
        EXPECT_TRUE(sameBits(r.ciLow, runs[0].ciLow));
        for (std::size_t e = 0; e < r.importance.size(); ++e)
          EXPECT_TRUE(sameBits(r.importanceStdError[e], runs[0].importanceStdError[e]));
      }
    }
  }
  // The curve too.
  estimate::Options o;
  o.samples = 3000;
  o.relError = 0;
  o.threads = 1;
  auto one = estimate::estimateCurve(grid(3, 5, 0), {0.3, 0.9}, o);
  o.threads = 3;
  auto three = estimate::estimateCurve(grid(3, 5, 0), {0.3, 0.9}, o);
  for (int i = 0; i < 2; ++i)
    EXPECT_TRUE(sameBits(one[i].estimate, three[i].estimate));
}

TEST(Estimate, IntervalsCoverTheExactValue) {
  const estimate::Problem problems[] = {chorded(), grid(3, 5, 0.8), wheel()};
  for (const auto& pr : problems) {
    const double exactR = 1 - exactUnreliability(pr);
    for (auto sampler : {estimate::Sampler::kCrude, estimate::Sampler::kPermutation}) {
      int covered = 0;
      for (int seed = 1; seed <= kSeeds; ++seed) {
        estimate::Options o;
        o.sampler = sampler;
        o.seed = seed;
        o.threads = 1;
        o.relError = 0;
        o.samples = sampler == estimate::Sampler::kCrude ? 1000 : 200;
        auto r = estimate::estimateReliability(pr, o);
        ASSERT_EQ(r.status, estimate::Status::kComplete);
        covered += r.ciLow <= exactR && exactR <= r.ciHigh;
        ASSERT_NEAR(r.estimate + r.unreliability, 1, 1e-15);
      }
      EXPECT_GE(covered, 0.88 * kSeeds) << pr.edges.size() << " edges, exact R " << exactR;
    }
  }
}

// Importance from the same samples against R(p_e = 1) - R(p_e = 0): equal
// and mixed rates (a self-loop, parallel spokes), and near p = 1 where the
// permutation sampler must keep its relative error.
TEST(Estimate, ImportanceMatchesExactDifferences) {
  const estimate::Problem problems[] = {wheel(), grid(3, 5, 0.8), grid(3, 6, 0.999)};
  for (const auto& pr : problems) {
    std::vector<double> exact;
    for (std::size_t e = 0; e < pr.edges.size(); ++e) {
      estimate::Problem up = pr, down = pr;
      up.p[e] = 1;
      down.p[e] = 0;
      exact.push_back(exactUnreliability(down) - exactUnreliability(up));
    }
    for (auto sampler : {estimate::Sampler::kCrude, estimate::Sampler::kPermutation}) {
      if (pr.p[0] > 0.99 && sampler == estimate::Sampler::kCrude) continue;  // sees no failures
      estimate::Options o;
      o.sampler = sampler;
      o.importance = true;
      o.relError = 0;
      o.samples = sampler == estimate::Sampler::kCrude ? 60000 : 6000;
      const auto r = estimate::estimateReliability(pr, o);
      ASSERT_EQ(r.importance.size(), pr.edges.size());
      for (std::size_t e = 0; e < pr.edges.size(); ++e) {
        SCOPED_TRACE(testing::Message() << pr.edges.size() << " edges, edge " << e << ", "
                                        << r.sampler << ", exact " << exact[e]);
        EXPECT_NEAR(r.importance[e], exact[e], 4.5 * r.importanceStdError[e] + 1e-12);
        if (pr.p[0] > 0.99) {
          EXPECT_LT(r.importanceStdError[e], 0.3 * exact[e] + 1e-12);
        }
      }
    }
  }
}

TEST(Estimate, PermutationKeepsItsRelativeErrorAsPGoesToOne) {
  double relativeHalfWidth[2];
  int i = 0;
  for (double p : {0.999, 0.99999}) {
    estimate::Problem pr = grid(3, 6, p);
    const double exact = exactUnreliability(pr);
    estimate::Options o;
    o.sampler = estimate::Sampler::kPermutation;
    o.samples = 16000;
    o.relError = 0;
    auto r = estimate::estimateReliability(pr, o);
    ASSERT_EQ(r.status, estimate::Status::kComplete);
    const double halfWidth = (r.ciHigh - r.ciLow) / 2;
    EXPECT_LE(std::abs(r.unreliability - exact), halfWidth) << p;
    relativeHalfWidth[i++] = halfWidth / exact;
  }
  EXPECT_LT(relativeHalfWidth[0], 0.1) << relativeHalfWidth[1];
  EXPECT_LT(relativeHalfWidth[1], 2 * relativeHalfWidth[0]);
  // kAuto sees no failures in the pilot there and switches.
  estimate::Options o;
  o.samples = 20000;
  o.relError = 0;
  EXPECT_EQ(estimate::estimateReliability(grid(3, 6, 0.99999), o).sampler, "permutation");
}

TEST(Estimate, ExactCasesAndBadInput) {
  estimate::Options o;
  o.samples = 100;
  auto pr = chorded();
  pr.p = {1, 1, 0, 0, 0};
  EXPECT_EQ(estimate::estimateReliability(pr, o).estimate, 1);  // the sure path 0-1-2
  pr.p = {0, 1, 0.5, 0, 0.5};
  EXPECT_EQ(estimate::estimateReliability(pr, o).estimate, 0);  // 0 isolated
  pr.p = {0.5, 0.5, 0.5, 0.5, 1.5};
  EXPECT_EQ(estimate::estimateReliability(pr, o).status, estimate::Status::kInvalidInput);
  o.samples = 0;
  o.relError = 0;
  EXPECT_EQ(estimate::estimateReliability(chorded(), o).status, estimate::Status::kInvalidInput);
  o.timeLimit = 0;
  EXPECT_EQ(estimate::estimateReliability(chorded(), o).status, estimate::Status::kTimeLimit);
  o = {};
  o.samples = 500;
  auto curve = estimate::estimateCurve(chorded(), {0, 0.5, 1}, o);
  EXPECT_EQ(curve[0].estimate, 0);
  EXPECT_EQ(curve[2].estimate, 1);
  EXPECT_EQ(curve[1].sampler, "permutation");
}

TEST(Estimate, CurveMatchesExactAndIsMonotone) {
  const std::vector<double> ps = {0.5, 0.6, 0.7, 0.8, 0.9, 0.95};
  for (auto sampler : {estimate::Sampler::kCrude, estimate::Sampler::kPermutation}) {
    estimate::Options o;
    o.sampler = sampler;
    o.samples = 20000;
    o.relError = 0;
    auto curve = estimate::estimateCurve(grid(3, 5, 0), ps, o);
    for (std::size_t i = 0; i < ps.size(); ++i) {
      const double exactR = 1 - exactUnreliability(grid(3, 5, ps[i]));
      EXPECT_NEAR(curve[i].estimate, exactR, 4 * curve[i].stdError + 1e-12) << ps[i];
      if (i > 0) {
        EXPECT_GE(curve[i].estimate, curve[i - 1].estimate);  // common random numbers
      }
    }
  }
}

}  // namespace
