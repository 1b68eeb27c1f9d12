// Factoring search with threshold cut-off.
//
// The search decides the live link records one at a time in linkOrder,
// works branch before fails branch, depth first. Success leaves (the last
// pair joined) add their probability to `reliability`, failure leaves (a
// pair's last path dead) subtract theirs from `upperBound`; every step first
// tests `threshold > upperBound` and the search stops once it holds.
//
// Three forms of the search take exactly the same steps and leaves: the
// general one below on the path-state table, and, for at most 64 pairs,
// factorByMasks with bit sets of alive paths (searchFewPairs, and
// searchOnePair for two terminals with at most 64 paths).
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

// A step of the search over at most 64 pairs.
struct pairsFrame {
  int pos;
  double prob;
  std::uint64_t joined;  // bit i: pair i joined
  std::size_t mark;      // trail height when the step began
};

// A step of the one-pair search: the pair's alive mask is the whole state.
struct maskFrame {
  int pos;
  double prob;
  std::uint64_t alive;
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
  if (allowMaskSearch && factorByMasks()) return belowThreshold ? -1.0 : reliability;
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
      const frame f = F[--top];
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

// The same search when there are at most 64 pairs and every record is
// branched on: a pair's alive paths are a bit set (64 paths a word), and its
// path-state counters are replaced by what they decide.
//
//   - A path's edges-left counter reaches 0 exactly when the last of its
//     records works with none failed. Records are decided in linkOrder, so
//     the works branch at position q completes exactly the alive paths whose
//     last record stands at q (doneBy); any other complete alive path would
//     have joined its pair before. A pair joins exactly when
//     (alive & doneBy) != 0 in one of its words.
//   - The fails branch kills the record's alive paths of each unjoined pair
//     it touches: alive &= ~onRecord; the pair is lost when its last
//     non-empty word empties.
//
// Within one step the order in which pairs are visited does not change
// whether the branch ends, nor the state the next step sees, so the leaves,
// their probabilities and their order are those of the table search.
// Returns false, doing nothing, when the problem does not qualify.
bool myGraph::factorByMasks() {
  const int n = numLinks;
  const std::size_t pairs = terminalPairs.size();
  if (pairs > 64) return false;
  int live = 0;
  for (int q = 0; q < n; ++q) {
    const int e = linkOrder[q];
    if (linkRecord(e)[0] == -1) break;
    if (linkProb[e] == -1.0) return false;
    ++live;
  }
  for (int q = live; q < n; ++q)
    if (linkRecord(linkOrder[q])[0] != -1) return false;

  // The alive words of pair i are alive[wordStart[i] ..].
  std::vector<std::size_t> wordStart(pairs + 1, 0);
  for (std::size_t i = 0; i < pairs; ++i)
    wordStart[i + 1] = wordStart[i] + (terminalPairs[i].paths.size() + 63) / 64;
  std::vector<std::uint64_t> alive(wordStart[pairs], 0);
  std::vector<int> nonEmpty(pairs, 0);
  for (std::size_t i = 0; i < pairs; ++i) {
    const std::size_t a = terminalPairs[i].paths.size();
    for (std::size_t j = 0; j < a; ++j)
      alive[wordStart[i] + j / 64] |= std::uint64_t{1} << (j % 64);
    nonEmpty[i] = static_cast<int>(wordStart[i + 1] - wordStart[i]);
  }

  // lastPos[pair][path]: the last branching position among the path's records.
  std::vector<std::vector<int>> lastPos(pairs);
  for (std::size_t i = 0; i < pairs; ++i)
    lastPos[i].assign(terminalPairs[i].paths.size(), -1);
  for (int q = 0; q < live; ++q) {
    const int* rec = linkRecord(linkOrder[q]);
    for (int k = 0; k < rec[0]; ++k)
      lastPos[rec[3 + 2 * k]][rec[4 + 2 * k]] = q;
  }

  // Per position, one group per alive word the record has paths in.
  std::vector<maskGroup> groups;
  std::vector<std::size_t> groupStart(live + 1, 0);
  std::vector<int> groupOfWord(alive.size(), -1);
  for (int q = 0; q < live; ++q) {
    groupStart[q] = groups.size();
    const int* rec = linkRecord(linkOrder[q]);
    for (int k = 0; k < rec[0]; ++k) {
      const int pair = rec[3 + 2 * k], path = rec[4 + 2 * k];
      const int word = static_cast<int>(wordStart[pair]) + path / 64;
      if (groupOfWord[word] < 0) {
        groupOfWord[word] = static_cast<int>(groups.size());
        std::uint64_t done = 0;
        const std::size_t first = static_cast<std::size_t>(path / 64) * 64;
        const std::size_t last = std::min(first + 64, lastPos[pair].size());
        for (std::size_t j = first; j < last; ++j)
          if (lastPos[pair][j] == q) done |= std::uint64_t{1} << (j - first);
        groups.push_back({pair, word, 0, done});
      }
      groups[groupOfWord[word]].onRecord |= std::uint64_t{1} << (path % 64);
    }
    for (std::size_t g = groupStart[q]; g < groups.size(); ++g)
      groupOfWord[groups[g].word] = -1;
  }
  groupStart[live] = groups.size();

  if (pairs == 1 && alive.size() == 1 && live > 0) {
    searchOnePair(alive[0], groups, live);
    return true;
  }
  // The works branch needs only the words where some path completes.
  std::vector<maskGroup> joins;
  std::vector<std::size_t> joinStart(live + 1, 0);
  for (int q = 0; q < live; ++q) {
    joinStart[q] = joins.size();
    for (std::size_t g = groupStart[q]; g < groupStart[q + 1]; ++g)
      if (groups[g].doneBy != 0) joins.push_back(groups[g]);
  }
  joinStart[live] = joins.size();
  searchFewPairs(alive, nonEmpty, groups, groupStart, joins, joinStart, live);
  return true;
}

// Two terminals: joining the one pair is success, so the state is the alive
// mask alone and each frame keeps a copy of it instead of a trail.
void myGraph::searchOnePair(std::uint64_t alive, const std::vector<maskGroup>& groups, int live) {
  std::vector<maskFrame> frames(static_cast<std::size_t>(live) + 1);
  std::vector<double> probAt(live);
  for (int q = 0; q < live; ++q)
    probAt[q] = linkProb[linkOrder[q]];
  const double* const P = probAt.data();
  const maskGroup* const G = groups.data();
  maskFrame* const F = frames.data();
  const double cutOff = threshold;

  int top = 0;
  int pos = 0;
  double prob = 1.0;
  std::uint64_t a = alive;
  long long steps = 0;
  double sum = reliability;
  double bound = upperBound;
  for (;;) {
    ++steps;
    if (cutOff > bound) {
      belowThreshold = true;
      break;
    }
    if (pos != live) {
      F[top++] = {pos, prob, a};
      const double works = prob * P[pos];
      if ((a & G[pos].doneBy) == 0) {
        pos = pos + 1;
        prob = works;
        continue;
      }
      sum += works * 1.0;
    }
    for (;;) {
      if (top == 0) goto done;
      const maskFrame f = F[--top];
      const double fails = (1.0 - P[f.pos]) * f.prob;
      // The mask is never empty on entry to a step: that is a failure leaf.
      a = f.alive & ~G[f.pos].onRecord;
      if (a == 0) {
        bound -= fails;
        continue;
      }
      pos = f.pos + 1;
      prob = fails;
      break;
    }
  }
done:
  reliability = sum;
  upperBound = bound;
  searchSteps = steps;
}

// At most 64 pairs: the joined pairs are one mask kept in each frame, so a
// join needs no trail entry. A joined pair's alive words are never read
// again; the works branch may test them, which changes nothing.
void myGraph::searchFewPairs(std::vector<std::uint64_t>& alive, std::vector<int>& nonEmpty,
                             const std::vector<maskGroup>& groups,
                             const std::vector<std::size_t>& groupStart,
                             const std::vector<maskGroup>& joins,
                             const std::vector<std::size_t>& joinStart, int live) {
  const std::size_t pairs = terminalPairs.size();
  const std::uint64_t everyPair = pairs == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << pairs) - 1;

  // Undo trail: (word, old value), or (-1 - pair, 0) for a word of the pair
  // that emptied. Along one branch every entry kills at least one path.
  struct change {
    int what;
    std::uint64_t old;
  };
  const auto trailStore =
      std::make_unique_for_overwrite<change[]>(2 * static_cast<std::size_t>(numPaths) + 1);
  std::vector<pairsFrame> frames(static_cast<std::size_t>(live) + 1);
  std::vector<double> probAt(live);
  for (int q = 0; q < live; ++q)
    probAt[q] = linkProb[linkOrder[q]];
  change* const trail = trailStore.get();
  pairsFrame* const F = frames.data();
  const maskGroup* const G = groups.data();
  const std::size_t* const GS = groupStart.data();
  // Per position, the pairs its join groups and its groups touch: a step
  // whose pairs are all joined has nothing to walk.
  std::vector<std::uint64_t> joinPairs(live, 0), failPairs(live, 0);
  for (int q = 0; q < live; ++q) {
    for (std::size_t k = joinStart[q]; k < joinStart[q + 1]; ++k)
      joinPairs[q] |= std::uint64_t{1} << joins[k].pair;
    for (std::size_t k = groupStart[q]; k < groupStart[q + 1]; ++k)
      failPairs[q] |= std::uint64_t{1} << groups[k].pair;
  }
  const std::uint64_t* const JP = joinPairs.data();
  const std::uint64_t* const FP = failPairs.data();
  const maskGroup* const JG = joins.data();
  const std::size_t* const JS = joinStart.data();
  const double* const P = probAt.data();
  std::uint64_t* const A = alive.data();
  int* const NE = nonEmpty.data();
  const double cutOff = threshold;

  std::size_t trailTop = 0;
  int top = 0;
  int pos = 0;
  double prob = 1.0;
  std::uint64_t joined = 0;
  long long steps = 0;
  double sum = reliability;
  double bound = upperBound;
  for (;;) {
    ++steps;
    if (cutOff > bound) {
      belowThreshold = true;
      break;
    }
    if (pos != live) {
      F[top++] = {pos, prob, joined, trailTop};
      const double works = prob * P[pos];
      if ((JP[pos] & ~joined) != 0) {
        for (std::size_t k = JS[pos]; k < JS[pos + 1]; ++k) {
          const maskGroup& g = JG[k];
          joined |= static_cast<std::uint64_t>((A[g.word] & g.doneBy) != 0) << g.pair;
        }
      }
      if (joined != everyPair) {
        pos = pos + 1;
        prob = works;
        continue;
      }
      sum += works * 1.0;
    }
    for (;;) {
      if (top == 0) goto done;
      const pairsFrame f = F[--top];
      while (trailTop > f.mark) {
        const change& c = trail[--trailTop];
        if (c.what >= 0)
          A[c.what] = c.old;
        else
          ++NE[-1 - c.what];
      }
      joined = f.joined;
      const double fails = (1.0 - P[f.pos]) * f.prob;
      bool lostPair = false;
      const std::size_t end = (FP[f.pos] & ~joined) != 0 ? GS[f.pos + 1] : GS[f.pos];
      for (std::size_t k = GS[f.pos]; k < end; ++k) {
        const maskGroup& g = G[k];
        const std::uint64_t a = A[g.word];
        if ((joined >> g.pair & 1) != 0 || (a & g.onRecord) == 0) continue;
        trail[trailTop++] = {g.word, a};
        A[g.word] = a & ~g.onRecord;
        if (A[g.word] != 0) continue;
        // The pair's last non-empty word: the branch ends here, so the
        // count need not change.
        if (NE[g.pair] == 1) {
          lostPair = true;
          break;
        }
        trail[trailTop++] = {-1 - g.pair, 0};
        --NE[g.pair];
      }
      if (lostPair) {
        bound -= fails;
        continue;
      }
      pos = f.pos + 1;
      prob = fails;
      break;
    }
  }
done:
  reliability = sum;
  upperBound = bound;
  searchSteps = steps;
}
