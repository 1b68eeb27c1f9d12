// Step count of the factoring search, recounted outside the engine.
//
// A step is one entry into factor(). The engine keeps no counter, so this
// replays the search on the tables that reference::myGraph prepares
// (findAllPaths, buildPathState, buildLinkInfo, prepareLinks(true, true)):
// same branching order, same probabilities, same threshold test on entry,
// same floating-point operations in the same order. Instead of copying the
// path-state table for every fails branch it undoes the works branch's
// writes, which leaves the fails branch the very table a copy would hold.
#pragma once

#include <cstdint>

namespace reference {
class myGraph;
}

struct StepCount {
  std::uint64_t steps = 0;   // entries into factor(), the root included
  double result = 0.0;       // what computeReliability() would return
  double reliability = 0.0;  // the accumulators at the end of the search
  double upperBound = 1.0;
  bool belowThreshold = false;
};

// Runs the preparation stages on a freshly constructed graph (one whose
// computeReliability() was never called), then replays the search.
StepCount countSteps(reference::myGraph& graph);
