// Plan: the problem checked, cut to the edges that can matter and put in the
// order the sweep decides them. Everything here depends on the graph only,
// never on a state.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "frontier/frontier.hpp"

namespace frontier {

struct Plan {
  int nodes = 0;
  int maxHops = -1;                           // D; negative only for the connectivity kind
  StateKind kind = StateKind::kConnectivity;  // never kAuto
  int totalEdges = 0;                         // edges as given, useless ones included
  std::vector<int> terminals;                 // distinct, ascending
  std::vector<std::pair<int, int>> edges;     // the sweep's edges, in order
  std::vector<int> source;                    // edges[i] is the input's edge source[i]
  // Per node: position of its first and last edge in `edges`; -1 if none.
  std::vector<int> first, last;
  // frontier[i]: nodes with an edge before i and one at or after i, in the
  // order they entered (i = 0 .. edges.size()).
  std::vector<std::vector<int>> frontier;
  int maxPortals = 0;     // most frontier nodes plus passed terminals at a level
  std::string order;      // how the edge order was made, when a rule names it
  bool hopeless = false;  // some terminal has no useful edge: R = 0

  int levels() const { return static_cast<int>(edges.size()); }
  bool isTerminal(int v) const;
};

// Checks the problem and builds the plan; on failure returns the status
// (never kComplete) and sets `message`. Given `alternative`, may also fill
// it with the same plan in a second edge order worth racing against the
// first (its `edges` stay empty otherwise).
// The profile state's reach: work positions (frontier plus an edge's new
// ends) and hop limits for which bytes hold every sum it forms.
struct ProfileLimits {
  static constexpr int kMaxWork = 64;
  static constexpr int kMaxHops = 126;
};

// One Floyd-Warshall pivot on byte distances (rows `stride` apart, n rows):
// w(i, j) = min(w(i, j), w(i, k) + w(k, j)) for rows whose leg to k is
// within D. Entries stay at most D + 1 <= 127, so a sum fits a byte and
// the inner loop runs over whole vector lanes.
inline void pivotBytes(std::uint8_t* w, int n, int stride, int k, int D) {
  const std::uint8_t* rk = w + k * stride;
  for (int i = 0; i < n; ++i) {
    std::uint8_t* ri = w + i * stride;
    const std::uint8_t t = ri[k];
    if (t > D) continue;
    for (int j = 0; j < stride; ++j) {
      const std::uint8_t via = static_cast<std::uint8_t>(t + rk[j]);
      ri[j] = via < ri[j] ? via : ri[j];
    }
  }
}

// A fixed pseudo-random stream (splitmix64), so that plans never depend on
// the library or the run.
inline std::uint64_t mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Hop distances from `from` over the adjacency lists `adj`, capped at `inf`.
void cappedDistances(const std::vector<std::vector<int>>& adj, int from, int inf,
                     std::vector<int>& dist);

Status makePlan(const Problem& problem, StateKind kind, Plan& plan, std::string& message,
                Plan* alternative = nullptr);

// The greedy minimum-frontier orders of the profile state from every start
// the planner tries, distinct, each laid out over `base`'s edges: ties
// broken as the planner does (seed 0), then by seeds 1 .. seeds - 1; at
// most `most` plans.
// Orders of equal frontier width differ up to threefold in states by their
// ties alone (AttMpls, 8 terminals at D = 6).
std::vector<Plan> greedyPlans(const Plan& base, int seeds, std::size_t most);

}  // namespace frontier
