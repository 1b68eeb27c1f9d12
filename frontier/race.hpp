// Racing edge orders. The states a hop-limited sweep needs depend on the
// edge order by factors of ten, and no cheap measure of an order predicts
// them on every kind of graph. So when the plan offers a second order, both
// are swept at once, one thread each, and the one that completes with fewer
// states wins (ties: the first). A lane stops as soon as its count passes a
// finished lane's total, so it could not have won. The winner depends on the
// state counts only, never on timing: the same input gives the same answer
// on every run, with one core or many.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "frontier/frontier.hpp"

namespace frontier {

// Tells a sweep, from its states so far, that it has lost and may stop.
using LostTest = std::function<bool(std::uint64_t statesSoFar)>;

// Sweeps lane i (plan i into the caller's i-th sink, which the lane builds
// afresh on each call) under the options it is given.
using Lane = std::function<Status(std::size_t i, const Options&, Stats&, const LostTest&)>;

// Runs `lanes` lanes (1 or more) and sets `winner` to the lane whose sink
// holds the answer, `stats` to its statistics. Each lane gets an equal share
// of Options::memoryBytes; if every lane runs out, lane 0 runs again alone
// with the whole bound (a lane is alone exactly when its LostTest is empty,
// so it may free what the others held). Stopped by the clock or the caller, the winner is
// the lane that got furthest. With Options::decide, a lane that decides
// finishes like one that completes, counted by the states it made: the
// fewest states of all finished lanes win.
// Options::progress and Options::cancelled are called from the lanes'
// threads, but never two at a time.
Status race(std::size_t lanes, const Lane& lane, const Options& options, Stats& stats,
            std::size_t& winner);

}  // namespace frontier
