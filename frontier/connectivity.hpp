// Connectivity state (no hop limit): which frontier nodes are joined by
// working decided edges, and which of those groups hold a terminal.
//
// State of level i: one byte per frontier node, in the order of
// Plan::frontier[i]:
//
//   byte = group | 0x80 * marked      group: 0, 1, ... by first occurrence
//                                      marked: the group holds a terminal
//
// A group that leaves the frontier with a terminal ends the branch: accepted
// if every terminal has been reached and no other marked group exists,
// rejected otherwise. Once every terminal is reached and one marked group
// remains, the branch is accepted.
#pragma once

#include <cstdint>
#include <vector>

#include "frontier/plan.hpp"
#include "frontier/sweep.hpp"

namespace frontier {

class ConnectivityRules {
 public:
  explicit ConnectivityRules(const Plan& plan);
  int width(int level) const { return static_cast<int>(plan_.frontier[level].size()); }
  Outcome root(std::uint8_t*) const { return Outcome::kState; }
  Outcome child(int level, const std::uint8_t* parent, bool works, std::uint8_t* out);

 private:
  struct Level {
    int parentCount = 0;       // |frontier[i]|
    std::vector<char> fresh;   // new nodes of the edge: terminal flags
    int u = 0, v = 0;          // the edge's ends, as work positions
    std::vector<int> keep;     // work position of each next-frontier node
    std::vector<char> leaves;  // per work position: not in the next frontier
    bool allReached = false;   // every terminal touched after this edge
  };
  const Plan& plan_;
  std::vector<Level> levels_;
  std::vector<std::uint8_t> group_, mark_, relabel_, present_;
};

}  // namespace frontier
