// Internal to the engine: what solve.cpp and importance.cpp share. Plans
// and their race, the sink that records every level's transitions, and the
// outward rounding steps the rigorous bounds are made of.
#pragma once

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "frontier/connectivity.hpp"
#include "frontier/distance.hpp"
#include "frontier/exchange.hpp"
#include "frontier/frontier.hpp"
#include "frontier/plan.hpp"
#include "frontier/profile.hpp"
#include "frontier/race.hpp"
#include "frontier/screen.hpp"
#include "frontier/sweep.hpp"

namespace frontier {

// Outward steps for nonnegative doubles: a round-to-nearest result moved one
// step down (up) is below (above) the exact value, including across a power
// of two and in the subnormal range.
inline double down(double x) {
  if (!(x > 0)) return 0.0;
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(x) - 1);
}
inline double up(double x) {
  if (std::isinf(x)) return x;
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(x) + 1);
}

// gamma(k) = k u / (1 - k u), u = 2^-53, rounded up: the relative error of
// a result k roundings away from exact nonnegative inputs.
inline double gamma(std::uint64_t k) {
  const double g = static_cast<double>(k) * 0x1p-53;  // exact for k < 2^53
  return up(g / down(1.0 - g));
}

inline bool probability(double x) {
  return x >= 0 && x <= 1;
}

// One exact p per edge, each in [0, 1]; otherwise false, with why.
inline bool validProbabilities(const Problem& problem, const std::vector<mpq_class>& p,
                               std::string& message) {
  if (p.size() != problem.edges.size()) {
    message = "one probability per edge is needed";
    return false;
  }
  for (const auto& x : p)
    if (x < 0 || x > 1) {
      message = "probabilities must lie in [0, 1]";
      return false;
    }
  return true;
}

// One p and one q per edge, each in [0, 1]; otherwise false, with why.
inline bool validProbabilities(const Problem& problem, const std::vector<double>& p,
                               const std::vector<double>& q, std::string& message) {
  if (p.size() != problem.edges.size() || q.size() != problem.edges.size()) {
    message = "one probability per edge is needed";
    return false;
  }
  for (std::size_t e = 0; e < p.size(); ++e)
    if (!probability(p[e]) || !probability(q[e])) {
      message = "probabilities must lie in [0, 1]";
      return false;
    }
  return true;
}

template <class Sink>
Status runSweep(const Plan& plan, Sink& sink, const Options& options, Stats& stats,
                const LostTest& lost = {}) {
  try {
    if (plan.kind == StateKind::kDistance) {
      DistanceRules rules(plan);
      return sweep(plan, rules, sink, options, stats, lost);
    }
    if (plan.kind == StateKind::kProfile) {
      ProfileRules rules(plan);
      return sweep(plan, rules, sink, options, stats, lost);
    }
    ConnectivityRules rules(plan);
    return sweep(plan, rules, sink, options, stats, lost);
  } catch (const std::bad_alloc&) {
    return Status::kMemoryLimit;
  }
}

// The plan, and a second edge order to race against it when there is one.
// With `screenThreads` > 0 two profile orders are screened first (see
// screen.hpp), which may leave one.
inline Status makePlans(const Problem& problem, StateKind kind, std::vector<Plan>& plans,
                        std::string& message, bool race = true, int screenThreads = 0) {
  plans.assign(2, Plan{});
  Status s = makePlan(problem, kind, plans[0], message, &plans[1]);
  // The profile state's frontier is bounded tighter than the distance
  // state's: beyond it, auto takes distances.
  if (s == Status::kUnsupported && kind == StateKind::kAuto && problem.maxHops >= 0) {
    plans.assign(2, Plan{});
    s = makePlan(problem, StateKind::kDistance, plans[0], message, &plans[1]);
  }
  if (s == Status::kComplete && screenThreads > 0) screenPlans(plans, screenThreads);
  if (s != Status::kComplete || plans.size() < 2 || plans[1].edges.empty() || !race)
    plans.resize(1);
  return s;
}

// The plans a sweep with `options` runs: its state kind, its race, and its
// threads for the screen. The time the plans take (the screen can take
// seconds on a large sweep) comes off the time limit the sweep gets.
inline Status makePlans(const Problem& problem, Options& options, std::vector<Plan>& plans,
                        std::string& message) {
  const auto start = std::chrono::steady_clock::now();
  const Status s =
      makePlans(problem, options.kind, plans, message, options.race, std::max(1, options.threads));
  if (options.timeLimit > 0)
    options.timeLimit = std::max(
        0.0, options.timeLimit -
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return s;
}

// Over ranks only the solve runs (its masses, double or exact, cross
// between ranks); the recorded diagram's users say so.
inline bool singleProcessOnly(const Options& options, Status& status, std::string& message) {
  if (options.exchange == nullptr || options.exchange->size() <= 1) return false;
  status = Status::kUnsupported;
  message = "over several ranks only the solve runs (double or exact), not the diagram";
  return true;
}

// Races the plans (see race.hpp): lane i builds sinks[i] with make(plan i)
// and sweeps it. The winner's sink is left in sinks[winner].
template <class Sink, class Make>
Status racePlans(const std::vector<Plan>& plans, const Make& make,
                 std::vector<std::unique_ptr<Sink>>& sinks, const Options& options, Stats& stats,
                 std::size_t& winner) {
  sinks.clear();
  sinks.resize(plans.size());
  const Lane lane = [&](std::size_t i, const Options& o, Stats& st, const LostTest& lost) {
    try {
      sinks[i].reset();
      if (!lost)  // lane i alone (see race.hpp): the others' levels go first
        for (auto& other : sinks)
          other.reset();
      sinks[i] = make(plans[i]);
    } catch (const std::bad_alloc&) {
      return Status::kMemoryLimit;
    }
    return runSweep(plans[i], *sinks[i], o, st, lost);
  };
  return race(plans.size(), lane, options, stats, winner);
}

// A solve's race (solveDouble, solveExact): `make` builds a plan's sink; the
// winner's sink writes its values into `r`, and a race that failed says why.
template <class Result, class Make>
void raceSolve(const std::vector<Plan>& plans, const Make& make, const Options& options,
               Result& r) {
  using Sink = typename std::invoke_result_t<const Make&, const Plan&>::element_type;
  std::vector<std::unique_ptr<Sink>> sinks;
  std::size_t winner = 0;
  r.status = racePlans(plans, make, sinks, options, r.stats, winner);
  if (r.status == Status::kInvalidInput) r.message = "internal: states left after the last edge";
  if (r.status == Status::kMemoryLimit) r.message = "the levels exceed the memory bound";
  if (sinks[winner]) sinks[winner]->result(r.status, r);
}

// Records every transition; the masses come later (Diagram::evaluate, the
// polynomial, the importance passes). `keptBytes` per state of a kept
// level count against the memory bound: the 8 of its two child codes, and
// whatever a later pass will keep per state beside them.
class RecordSink {
 public:
  explicit RecordSink(std::size_t keptBytes = 8) : keptBytes_(keptBytes) {}
  void root(std::int32_t code) { rootCode = code; }
  void beginLevel(int, std::size_t parents) {
    children.emplace_back(2 * parents, kReject);
    held_ += keptBytes_ * parents;
  }
  void add(std::size_t parent, bool works, std::int32_t code) {
    children.back()[2 * parent + (works ? 1 : 0)] = code;
  }
  // The threaded sweep's: every branch has its own entry already.
  void reserveNext(std::size_t) {}
  void arrive(std::size_t parent, bool works, std::int32_t code, bool) { add(parent, works, code); }
  void endLevel(int, std::size_t) {}
  std::size_t bytesPerState() const { return 0; }
  std::size_t heldBytes() const { return held_; }
  void bounds(double& lower, double& upper) const { lower = 0, upper = 1; }
  bool decided(double) const { return false; }
  std::int32_t rootCode = kReject;
  std::vector<std::vector<std::int32_t>> children;  // children[level][2 * s + works]

 private:
  std::size_t keptBytes_, held_ = 0;
};
// Made once, in diagram.cpp: the diagram, the polynomial and the importance
// all record, and a sweep of every kind is much code to build again.
extern template Status runSweep<RecordSink>(const Plan&, RecordSink&, const Options&, Stats&,
                                            const LostTest&);

}  // namespace frontier
