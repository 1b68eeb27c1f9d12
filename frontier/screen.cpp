#include "frontier/screen.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <vector>

#include "frontier/profile.hpp"
#include "frontier/sweep.hpp"

namespace frontier {

double screenStates(const Plan& plan, std::size_t sample,
                    const std::function<double()>& stopAbove) {
  if (plan.hopeless) return 0;
  try {
    ProfileRules rules(plan);
    std::vector<std::uint64_t> buffer;
    if (rules.root(buffer) != Outcome::kState) return 0;
    VarLevelTable cur, next;
    bool fresh = false;
    cur.reset(1);
    cur.insert(buffer.data(), buffer.size(), fresh);
    std::unordered_set<std::uint64_t> halfChildren;
    double estimate = 1, total = 1;
    bool exact = true;  // the level holds every state of the full sweep's
    for (int level = 0; level < plan.levels() && cur.size() > 0; ++level) {
      const std::size_t n = cur.size();
      next.reset(std::min(n, sample) * 2);
      halfChildren.clear();
      std::size_t k = 0, k2 = 0;
      for (std::size_t s = 0; s < n; ++s) {
        // The sample and its half are picked by the state's number, mixed,
        // so that they spread over the level.
        const std::uint64_t h = mix(s);
        if (n > sample && (h >> 11) % n >= sample) continue;
        const bool inHalf = (mix(h) >> 63) == 0;
        ++k;
        k2 += inHalf ? 1 : 0;
        for (int works = 0; works < 2; ++works) {
          if (rules.child(level, cur.state(s), works != 0, buffer) != Outcome::kState) continue;
          next.insert(buffer.data(), buffer.size(), fresh);
          if (inHalf) halfChildren.insert(VarLevelTable::hashOf(buffer.data(), buffer.size()));
        }
      }
      const double c = static_cast<double>(next.size());
      if (exact && k == n) {
        estimate = c;
      } else {
        exact = false;
        const double h = static_cast<double>(halfChildren.size());
        double a = 1;
        if (h > 0 && c > h && k2 > 0 && k2 < k)
          a = std::log(c / h) / std::log(static_cast<double>(k) / static_cast<double>(k2));
        a = std::clamp(a, 0.3, 1.0);
        estimate = c * std::pow(estimate / static_cast<double>(k), a);
      }
      total += estimate;
      // The total only grows from here: past the bound, the order has lost.
      if (stopAbove && total > stopAbove()) return std::numeric_limits<double>::infinity();
      cur.swap(next);
    }
    return total;
  } catch (const std::bad_alloc&) {
    return std::numeric_limits<double>::infinity();
  }
}

namespace {

// Screens of `plans` at `sample`, over up to `threads` threads; each result
// lands in its plan's slot. Only the `kept` cheapest results are used: a
// screen stops (infinity) once its running total exceeds the kept-th
// cheapest of those finished, which every result that stops exceeds too.
// So the kept cheapest, their values and their order are those of screens
// run to the end, whatever the thread count and the timing.
std::vector<double> screenAll(const std::vector<const Plan*>& plans, std::size_t sample,
                              int threads, std::size_t kept) {
  std::vector<double> cost(plans.size(), 0);
  std::atomic<std::size_t> next{0};
  std::mutex lock;
  std::vector<double> finished;  // ascending, at most `kept`
  auto bound = [&] {
    std::lock_guard<std::mutex> hold(lock);
    return finished.size() < kept ? std::numeric_limits<double>::infinity() : finished.back();
  };
  std::function<double()> stopAbove;
  if (kept < plans.size()) stopAbove = bound;
  auto work = [&] {
    for (std::size_t i; (i = next++) < plans.size();) {
      cost[i] = screenStates(*plans[i], sample, stopAbove);
      std::lock_guard<std::mutex> hold(lock);
      finished.insert(std::upper_bound(finished.begin(), finished.end(), cost[i]), cost[i]);
      if (finished.size() > kept) finished.pop_back();
    }
  };
  std::vector<std::thread> others;
  for (int t = 1; t < threads && static_cast<std::size_t>(t) < plans.size(); ++t) {
    try {
      others.emplace_back(work);
    } catch (const std::system_error&) {
      break;
    }
  }
  work();
  for (std::thread& t : others)
    t.join();
  return cost;
}

std::string shown(double states) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2gM", states / 1e6);
  return text;
}

}  // namespace

void screenPlans(std::vector<Plan>& plans, int threads) {
  if (plans.size() < 2 || plans[1].edges.empty() || plans[0].kind != StateKind::kProfile) return;
  // A pilot tells when the cheaper order makes a small sweep, which the
  // screen would cost about as much as: both orders are raced as they are.
  std::vector<double> cost = screenAll({&plans[0], &plans[1]}, kPilotSample, threads, 2);
  if (std::min(cost[0], cost[1]) < detail::smallSweep) return;
  // A large sweep with terminals at most half the nodes: every greedy
  // order is piloted, and the cheapest pilots take the two planned orders'
  // place in the screen. With more terminals their profiles make most of
  // the states, which the planner's cost sum weighs, and the orders differ
  // little (the dodecahedron, all terminals at D = 9: 1 % fewer states for
  // 1.4 s of pilots); with fewer, the frontier's distances do, and the
  // greedy ties alone change the states up to threefold.
  std::string widened;
  const Plan& planned = plans[0];
  if (std::min(cost[0], cost[1]) >= detail::wideSweep &&
      2 * planned.terminals.size() <= static_cast<std::size_t>(planned.nodes)) {
    std::vector<Plan> more = greedyPlans(plans[0], kWideSeeds, kWideOrders);
    std::vector<const Plan*> all;
    for (const Plan& p : more)
      all.push_back(&p);
    const std::vector<double> pilot = screenAll(all, kPilotSample, threads, kWideScreens);
    std::vector<std::size_t> rank(more.size());
    for (std::size_t i = 0; i < rank.size(); ++i)
      rank[i] = i;
    std::stable_sort(rank.begin(), rank.end(),
                     [&](std::size_t a, std::size_t b) { return pilot[a] < pilot[b]; });
    if (rank.size() >= 2) {
      rank.resize(std::min(rank.size(), kWideScreens));
      std::vector<Plan> best;
      cost.clear();
      for (std::size_t i : rank)
        best.push_back(std::move(more[i])), cost.push_back(pilot[i]);
      plans.swap(best);
      widened = ", the best pilot of " + std::to_string(more.size()) + " orders";
      // A small sweep after all: the screens would cost about what it
      // does, so the two best pilots are raced as they are.
      if (cost[0] < detail::smallSweep) {
        plans.resize(2);
        for (Plan& p : plans)
          p.order += widened + ", raced";
        return;
      }
    }
  }
  // A pilot twice as cheap for one order as every other, on a sweep of a
  // few million states at most, has named the order the full screen names
  // (on every such case of the shared networks); the screen would add a
  // tenth to such a sweep.
  std::vector<std::size_t> byCost(plans.size());
  for (std::size_t i = 0; i < byCost.size(); ++i)
    byCost[i] = i;
  auto sortByCost = [&] {
    std::stable_sort(byCost.begin(), byCost.end(),
                     [&](std::size_t a, std::size_t b) { return cost[a] < cost[b]; });
  };
  sortByCost();
  const bool piloted =
      cost[byCost[0]] < kPilotTrusted && cost[byCost[1]] >= kPilotClearly * cost[byCost[0]];
  if (!piloted) {
    std::vector<const Plan*> all;
    for (const Plan& p : plans)
      all.push_back(&p);
    cost = screenAll(all, kScreenSample, threads, 2);
    sortByCost();
  }
  const std::size_t best = byCost[0], next = byCost[1];
  std::swap(plans[0], plans[best]);
  plans[0].order += widened + (piloted ? ", piloted" : ", screened") + " at " + shown(cost[best]) +
                    " states against " + shown(cost[next]);
  plans.resize(1);
}

}  // namespace frontier
