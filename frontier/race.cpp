#include "frontier/race.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace frontier {

namespace {

constexpr std::uint64_t kNone = std::numeric_limits<std::uint64_t>::max();

// A lane's finishing key: total states, then the lane number, so that the
// smallest key is the winner. Lanes are few (< 256).
std::uint64_t key(std::uint64_t states, std::size_t lane) {
  return (states << 8) | lane;
}

// The race proper, for two lanes or more.
Status raceLanes(std::size_t lanes, const Lane& lane, const Options& options, Stats& stats,
                 std::size_t& winner) {
  std::atomic<std::uint64_t> best{kNone};  // smallest finishing key so far
  std::mutex progressLock, callbackLock;
  std::vector<Progress> seen(lanes);
  std::vector<Status> status(lanes, Status::kCancelled);
  std::vector<Stats> laneStats(lanes);

  // Enough threads: the lanes side by side, sharing them out; else one
  // after another, each with all of them (the same winner either way).
  // Ranks of a distributed sweep call their collectives in one order, so
  // their lanes always run one after another.
  const bool together =
      options.exchange == nullptr && static_cast<std::size_t>(options.threads) >= lanes;
  auto runLane = [&](std::size_t i) {
    Options o = options;
    o.memoryBytes = options.memoryBytes / lanes;
    o.threads = together ? std::max<int>(1, options.threads / static_cast<int>(lanes))
                         : std::max(1, options.threads);
    o.cancelled = [&] {
      if (!options.cancelled) return false;
      std::lock_guard<std::mutex> hold(callbackLock);  // one caller at a time
      return options.cancelled();
    };
    if (options.progress)
      o.progress = [&, i](const Progress& p) {
        // One line for the race: the furthest lane, the best bounds of all.
        std::lock_guard<std::mutex> hold(progressLock);
        seen[i] = p;
        Progress shown = p;
        for (const Progress& s : seen) {
          if (s.edge > shown.edge) shown.edge = s.edge, shown.states = s.states;
          shown.lower = std::max(shown.lower, s.lower);
          shown.upper = std::min(shown.upper, s.upper);
        }
        options.progress(shown);
      };
    const LostTest lost = [&best, i](std::uint64_t states) {
      const std::uint64_t b = best.load();
      return b != kNone && key(states, i) > b;
    };
    const Status s = lane(i, o, laneStats[i], lost);
    status[i] = s;
    // A lane that decides the threshold finishes too, with the states it
    // made before the level start where it decided: the same count on
    // every run, so the winner is again a matter of counts alone.
    if (s == Status::kComplete || s == Status::kDecided) {
      const std::uint64_t k = key(laneStats[i].statesCreated, i);
      std::uint64_t b = best.load();
      while (k < b && !best.compare_exchange_weak(b, k)) {
      }
    }
  };

  // Lane 0 here, the others on threads; without threads they run one after
  // another, which gives the same winner.
  std::vector<std::thread> threads;
  std::vector<std::size_t> later;
  for (std::size_t i = 1; i < lanes; ++i) {
    if (!together) {
      later.push_back(i);
      continue;
    }
    try {
      threads.emplace_back(runLane, i);
    } catch (const std::system_error&) {
      later.push_back(i);
    }
  }
  runLane(0);
  for (auto& t : threads)
    t.join();
  for (std::size_t i : later)
    runLane(i);

  if (best.load() != kNone) {
    winner = static_cast<std::size_t>(best.load() & 0xFF);
    stats = laneStats[winner];
    return status[winner];
  }
  bool allMemory = true;
  for (std::size_t i = 0; i < lanes; ++i) {
    if (status[i] == Status::kInvalidInput) {
      winner = i;
      stats = laneStats[i];
      return status[i];
    }
    allMemory = allMemory && status[i] == Status::kMemoryLimit;
  }
  if (allMemory) return lane(0, options, stats, LostTest{});
  // Stopped by the clock or the caller (or the memory share in some lanes):
  // the lane that got furthest carries the best bounds one can name.
  std::size_t far = 0;
  for (std::size_t i = 0; i < lanes; ++i) {
    const bool stopped = status[i] != Status::kMemoryLimit;
    const bool farStopped = status[far] != Status::kMemoryLimit;
    if (stopped &&
        (!farStopped || laneStats[i].levelStates.size() > laneStats[far].levelStates.size()))
      far = i;
  }
  winner = far;
  stats = laneStats[far];
  return status[far];
}

}  // namespace

Status race(std::size_t lanes, const Lane& lane, const Options& options, Stats& stats,
            std::size_t& winner) {
  winner = 0;
  const Status s = lanes <= 1 ? lane(0, options, stats, LostTest{})
                              : raceLanes(lanes, lane, options, stats, winner);
  stats.orders = static_cast<int>(std::max<std::size_t>(lanes, 1));
  return s;
}

}  // namespace frontier
