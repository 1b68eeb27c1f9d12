// Factoring search with threshold cut-off.
//
// The search decides the live link records one at a time in linkOrder,
// works branch before fails branch, depth first. Success leaves (the last
// pair joined) add their probability to `reliability`, failure leaves (a
// pair's last path dead) subtract theirs from `upperBound`; every step first
// tests `threshold > upperBound` and the search stops once it holds.
//
// The general form below works on the path-state table; for at most 64
// pairs factorByMasks (reliability/mask_search.cpp) runs the same search on
// bit sets of alive paths, taking exactly the same steps and leaves.
//
// General state: one working table (a copy of pathState) and an undo trail of
// (table index, old value) couples. A step pushes a frame holding its
// position, connected-pair count, probability and trail height, runs its
// works branch on the table, and descends. When a branch ends, the innermost
// pending frame is popped, the trail unwound to its height (the table is
// then as the step found it), and its fails branch runs; the fails branch
// has nothing left to come back to, so its changes stay on the trail until
// an enclosing step unwinds. Nothing is allocated per step, and memory is
// bounded by the table, one frame per live record and the trail, which
// never holds more entries than the table's counters can change along one
// branch.
//
// Once the threshold test fires the answer is "NO" whatever else the
// search would do, so it stops at once instead of unwinding.
#include <algorithm>
#include <cstdint>
#include <memory>

#include "graph/my_graph.hpp"

namespace {

struct frame {
  int pos;           // branching position in linkOrder
  int connected;     // pairs joined when the step began
  double prob;       // probability of the decisions above the step
  std::size_t mark;  // trail height when the step began
};

}  // namespace

double myGraph::computeReliability() {
  findAllPaths();
  buildPathState();
  buildLinkInfo();
  prepareLinks(true, true);
  reliability = 0.0;
  upperBound = 1.0;
  belowThreshold = false;
  // The root step's threshold test, made before the search's tables are
  // built: a threshold above 1 needs none of them.
  if (threshold > upperBound) {
    belowThreshold = true;
    searchSteps = 1;
    return -1.0;
  }
  if (search != searchForm::table && factorByMasks()) return belowThreshold ? -1.0 : reliability;
  std::vector<int> table = copyPathState(pathState);
  factor(table);
  return belowThreshold ? -1.0 : reliability;
}

void myGraph::factor(std::vector<int>& table) {
  const int n = numLinks;

  // Per branching position: the next position at or after it that holds a
  // live record (n for none), its probability, and its memberships as
  // (pair head, path entry) indices into the table.
  std::vector<int> nextLive(n + 1, n);
  for (int q = n - 1; q >= 0; --q) {
    const int e = linkOrder[q];
    const bool live = linkRecord(e)[0] != -1 && linkProb[e] != -1.0;
    nextLive[q] = live ? q : nextLive[q + 1];
  }
  std::vector<double> probAt(n);
  std::vector<std::size_t> slotStart(n + 1, 0);
  std::size_t slotCount = 0;
  for (int q = 0; q < n; ++q) {
    const int e = linkOrder[q];
    probAt[q] = linkProb[e];
    slotStart[q] = slotCount;
    if (nextLive[q] == q) slotCount += 2 * static_cast<std::size_t>(linkRecord(e)[0]);
  }
  slotStart[n] = slotCount;
  std::vector<int> slots(slotCount);
  int liveCount = 0;
  for (int q = 0; q < n; ++q) {
    if (nextLive[q] != q) continue;
    ++liveCount;
    const int* rec = linkRecord(linkOrder[q]);
    int* out = slots.data() + slotStart[q];
    for (int k = 0; k < rec[0]; ++k) {
      const int head = static_cast<int>(pathStateStart[rec[3 + 2 * k]]);
      out[2 * k] = head;
      out[2 * k + 1] = head + 2 * (rec[4 + 2 * k] + 1);
    }
  }

  // Trail bound: along one branch each edges-left counter only falls, each
  // alive flag and joined flag flips once, each alive-path count falls at
  // most once per path.
  std::size_t changes = terminalPairs.size();
  for (std::size_t i = 0; i < terminalPairs.size(); ++i) {
    const int* row = pathRow(static_cast<int>(i));
    for (int j = 1; j <= row[1]; ++j)
      changes += 2 + static_cast<std::size_t>(row[2 * j + 1]);
  }
  // Left uninitialised: only the part one branch reaches is ever touched.
  const auto trailStore = std::make_unique_for_overwrite<int[]>(2 * changes + 2);
  std::vector<frame> frames(static_cast<std::size_t>(liveCount) + 1);

  int* const T = table.data();
  int* const trail = trailStore.get();
  const int* const S = slots.data();
  const std::size_t* const SS = slotStart.data();
  const int* const next = nextLive.data();
  const double* const P = probAt.data();
  frame* const F = frames.data();
  const int targetPairs = target();
  const double cutOff = threshold;

  std::size_t trailTop = 0;
  int top = 0;
  int pos = 0, connected = 0;
  double prob = 1.0;
  long long steps = 0;
  double sum = reliability;
  double bound = upperBound;

  for (;;) {
    // A factoring step at pos.
    ++steps;
    if (cutOff > bound) {
      belowThreshold = true;
      break;
    }
    pos = next[pos];
    if (pos != n) {
      // linkWorks: the record's edges all work.
      F[top++] = {pos, connected, prob, trailTop};
      const double works = prob * P[pos];
      bool joinedAll = false;
      for (std::size_t k = SS[pos]; k < SS[pos + 1]; k += 2) {
        const int head = S[k], entry = S[k + 1];
        if (T[head] != 0 || T[entry] != 1) continue;
        trail[trailTop++] = entry + 1;
        trail[trailTop++] = T[entry + 1];
        if (--T[entry + 1] != 0) continue;
        trail[trailTop++] = head;
        trail[trailTop++] = 0;
        T[head] = 1;
        if (++connected == targetPairs) {
          joinedAll = true;
          break;
        }
      }
      if (!joinedAll) {
        pos = pos + 1;
        prob = works;
        continue;
      }
      sum += works * 1.0;
    }
    // The branch has ended: run the fails branch of the innermost pending
    // step, or finish when there is none.
    for (;;) {
      if (top == 0) goto done;
      const frame& f = F[--top];
      while (trailTop > f.mark) {
        trailTop -= 2;
        T[trail[trailTop]] = trail[trailTop + 1];
      }
      // linkFails: the record's edges fail together.
      const double fails = (1.0 - P[f.pos]) * f.prob;
      bool lostPair = false;
      for (std::size_t k = SS[f.pos]; k < SS[f.pos + 1]; k += 2) {
        const int head = S[k], entry = S[k + 1];
        if (T[head] != 0 || T[entry] != 1) continue;
        trail[trailTop++] = entry;
        trail[trailTop++] = 1;
        T[entry] = 0;
        trail[trailTop++] = head + 1;
        trail[trailTop++] = T[head + 1];
        if (--T[head + 1] == 0) {
          lostPair = true;
          break;
        }
      }
      if (lostPair) {
        bound -= fails;
        continue;
      }
      pos = f.pos + 1;
      connected = f.connected;
      prob = fails;
      break;
    }
  }
done:
  reliability = sum;
  upperBound = bound;
  searchSteps = steps;
}
