#include "frontier/screen.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <vector>

#include "frontier/profile.hpp"
#include "frontier/sweep.hpp"

namespace frontier {

double screenStates(const Plan& plan, std::size_t sample) {
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
      cur.swap(next);
    }
    return total;
  } catch (const std::bad_alloc&) {
    return std::numeric_limits<double>::infinity();
  }
}

void screenPlans(std::vector<Plan>& plans, int threads) {
  if (plans.size() < 2 || plans[1].edges.empty() || plans[0].kind != StateKind::kProfile) return;
  // Both orders' screens at `sample`, side by side when a thread is free.
  double cost[2] = {0, 0};
  auto screenBoth = [&](std::size_t sample) {
    std::thread other;
    if (threads >= 2) {
      try {
        other = std::thread([&] { cost[1] = screenStates(plans[1], sample); });
      } catch (const std::system_error&) {
      }
    }
    cost[0] = screenStates(plans[0], sample);
    if (other.joinable())
      other.join();
    else
      cost[1] = screenStates(plans[1], sample);
  };
  // A pilot tells when the cheaper order makes a small sweep, which the
  // screen would cost about as much as: both orders are raced as they are.
  screenBoth(kPilotSample);
  if (std::min(cost[0], cost[1]) < detail::smallSweep) return;
  // A pilot twice as cheap for one order on a sweep of a few million states
  // at most has named the order the full screen names (on every such case
  // of the shared networks); the screen would add a tenth to such a sweep.
  const bool piloted = std::min(cost[0], cost[1]) < kPilotTrusted &&
                       std::max(cost[0], cost[1]) >= kPilotClearly * std::min(cost[0], cost[1]);
  if (!piloted) screenBoth(kScreenSample);
  const std::size_t best = cost[1] < cost[0] ? 1 : 0;
  auto shown = [](double states) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2gM", states / 1e6);
    return std::string(text);
  };
  for (std::size_t i = 0; i < 2; ++i)
    plans[i].order += std::string(piloted ? ", piloted" : ", screened") + " at " + shown(cost[i]) +
                      " states against " + shown(cost[1 - i]);
  if (best == 1) std::swap(plans[0], plans[1]);
  plans.resize(1);
}

}  // namespace frontier
