// Screening an edge order for the profile state: a sampled sweep that
// estimates how many states the full sweep in that order would make, at a
// small, bounded fraction of its cost.
//
// Level by level, the states are expanded whole while they are at most
// `sample`; past that, only the states whose mixed number falls in a
// fixed `sample`-sized part of the hash range. The k expanded states give
// c distinct children, a fixed half of them (k2 states) h. Children merge
// more as more parents are expanded, so distinct children grow like k^a
// with a = log(c / h) / log(k / k2), kept in [0.3, 1]; the level's
// estimate extrapolates from the k expanded to the E estimated parents:
//   E' = c (E / k)^a.
// The estimate of an order is the sum of its levels' estimates. A level
// that was expanded whole from an exact level is counted exactly, so a
// sweep that never outgrows the sample is counted to the state.
//
// Deterministic: a function of the plan and `sample` alone (never of the
// clock, the threads or the run), so the order it picks is always the same.
// On eon19 with all terminals (D = 7) the two orders auto weighs make 1.37M
// and 2.19M states; their screens at 4000 say 1.27M and 1.76M.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "frontier/plan.hpp"

namespace frontier {

// Estimated states of the profile sweep in `plan`'s order; infinity when
// the sampled sweep itself cannot run (a state too large to hold), or when
// its running total exceeds `stopAbove()` (asked once a level), since the
// total only grows.
double screenStates(const Plan& plan, std::size_t sample,
                    const std::function<double()>& stopAbove = {});

// The two orders of a profile plan (plans[0], plans[1]) weighed by their
// screens, side by side when `threads` allows; the cheaper is kept alone,
// to be swept with every thread. When the cheaper order's pilot screen
// (kPilotSample) stays below detail::smallSweep states, both are raced
// unscreened; when it stays below kPilotTrusted and the other order's pilot
// is kPilotClearly times larger, the pilot decides and the full screen is
// skipped (on larger sweeps the pilot has been wrong both ways, and the
// screen costs little beside them). When that pilot reaches
// detail::wideSweep and at most half the nodes are terminals, every greedy
// order (greedyPlans, kWideSeeds ties a start) is piloted, and the
// kWideScreens cheapest pilots are screened in the two orders' place, or
// the two cheapest raced unscreened when the best pilot is a small sweep.
// On AttMpls with 6 to 10 terminals at D = 6 that finds orders with a third
// of the states (30M to 11M); the 64 pilots and 6 screens cost about 0.8 s
// of two threads there, against a sweep of 5 to 15 s. A pilot or screen
// stops once it exceeds the ones that will be kept (see screenAll).
//
// Screens within a tenth of each other are not raced: on every such case of
// the shared networks the two orders' sweeps were within 4 % of each other,
// and a race gives each order one thread (orders one after another on one
// thread), where an order alone runs 1.3 to 1.4 times faster on two.
inline constexpr std::size_t kScreenSample = 4000, kPilotSample = 400;
inline constexpr double kPilotTrusted = 5e6, kPilotClearly = 2;
inline constexpr int kWideSeeds = 3;            // tie-breaks a greedy start
inline constexpr std::size_t kWideOrders = 64;  // orders piloted at most
inline constexpr std::size_t kWideScreens = 6;  // pilots that go on to the screen
namespace detail {
inline double smallSweep = 250000;  // tests screen small sweeps too
inline double wideSweep = 2e6;      // and widen them
}  // namespace detail
void screenPlans(std::vector<Plan>& plans, int threads);

}  // namespace frontier
