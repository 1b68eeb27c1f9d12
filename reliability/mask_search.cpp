// The factoring search on bit sets of alive paths, for at most 64 pairs.
//
// A pair's alive paths are a bit set (64 paths a word), and its path-state
// counters are replaced by what they decide:
//
//   - A path's edges-left counter reaches 0 exactly when the last of its
//     records works with none failed. Records are decided in linkOrder, so
//     the works branch at position q completes exactly the alive paths whose
//     last record stands at q (doneBy); any other complete alive path would
//     have joined its pair before. A pair joins exactly when one of those is
//     alive.
//   - The fails branch kills the record's alive paths of each unjoined pair
//     it touches; the pair is lost when its last alive path dies.
//
// Within one step the order in which pairs are visited does not change
// whether the branch ends, nor the state the next step sees, so the steps,
// the leaves, their probabilities and their order are those of the table
// search. Three forms, chosen per problem:
//
//   searchOnePair     one pair of at most 64 paths: the alive word lives in
//                     each frame;
//   searchSnapshots   at most 64 alive words: each step's alive words are
//                     a slot of the search's words, and a fails branch writes
//                     its cut copy into a fresh slot (reliability/
//                     snapshot_search.hpp), with 256-bit word operations
//                     where the CPU has them;
//   searchTrailed     anything else: one working set of words with an undo
//                     trail.
#include "reliability/mask_search.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <memory>

#include "graph/my_graph.hpp"
#include "reliability/snapshot_search.hpp"

// Returns false, doing nothing, when the problem does not qualify: more than
// 64 pairs, or a record the search would skip.
bool myGraph::factorByMasks() {
  using masks::bits;
  const int n = numLinks;
  masks::problem mp;
  mp.pairs = terminalPairs.size();
  if (mp.pairs > 64) return false;
  for (int q = 0; q < n; ++q) {
    const int e = linkOrder[q];
    if (linkRecord(e)[0] == -1) break;
    if (linkProb[e] == -1.0) return false;
    ++mp.live;
  }
  for (int q = mp.live; q < n; ++q)
    if (linkRecord(linkOrder[q])[0] != -1) return false;
  const int live = mp.live;
  const std::size_t pairs = mp.pairs;

  mp.wordStart.assign(pairs + 1, 0);
  for (std::size_t i = 0; i < pairs; ++i) {
    const std::size_t a = terminalPairs[i].paths.size();
    mp.wordStart[i + 1] = mp.wordStart[i] + (a + 63) / 64;
    if (a == 0) mp.pathless = true;
  }
  const std::size_t words = mp.wordStart[pairs];
  mp.alive.assign(words, 0);
  for (std::size_t i = 0; i < pairs; ++i)
    for (std::size_t j = 0; j < terminalPairs[i].paths.size(); ++j)
      mp.alive[mp.wordStart[i] + j / 64] |= bits{1} << (j % 64);

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
  mp.groupStart.assign(live + 1, 0);
  std::vector<int> groupOfWord(words, -1);
  for (int q = 0; q < live; ++q) {
    mp.groupStart[q] = mp.groups.size();
    const int* rec = linkRecord(linkOrder[q]);
    for (int k = 0; k < rec[0]; ++k) {
      const int pair = rec[3 + 2 * k], path = rec[4 + 2 * k];
      const int word = static_cast<int>(mp.wordStart[pair]) + path / 64;
      if (groupOfWord[word] < 0) {
        groupOfWord[word] = static_cast<int>(mp.groups.size());
        bits done = 0;
        const std::size_t first = static_cast<std::size_t>(path / 64) * 64;
        const std::size_t last = std::min(first + 64, lastPos[pair].size());
        for (std::size_t j = first; j < last; ++j)
          if (lastPos[pair][j] == q) done |= bits{1} << (j - first);
        mp.groups.push_back({pair, word, 0, done});
      }
      mp.groups[groupOfWord[word]].onRecord |= bits{1} << (path % 64);
    }
    for (std::size_t g = mp.groupStart[q]; g < mp.groups.size(); ++g)
      groupOfWord[mp.groups[g].word] = -1;
  }
  mp.groupStart[live] = mp.groups.size();
  mp.probAt.resize(live);
  for (int q = 0; q < live; ++q)
    mp.probAt[q] = linkProb[linkOrder[q]];

  masks::totals t{reliability, upperBound};
  // The snapshot form's tables take about three words per position and
  // alive word: kept within a few tens of megabytes.
  const bool snapshots = live > 0 && !mp.pathless && words <= 64 &&
                         (static_cast<std::size_t>(live) + 1) * words <= std::size_t{1} << 21;
  if (search == searchForm::trailedMasks || !snapshots)
    masks::searchTrailed(mp, threshold, t);
  else if (pairs == 1 && words == 1 && search == searchForm::chosen)
    masks::searchOnePair(mp, threshold, t);
  else
    masks::searchSnapshots(mp, threshold, t, search != searchForm::plainSnapshotMasks);
  reliability = t.sum;
  upperBound = t.bound;
  searchSteps = t.steps;
  belowThreshold = t.below;
  return true;
}

namespace masks {

// One pair: joining it is success, so the state is its alive word alone and
// each frame keeps a copy of it instead of a trail.
void searchOnePair(const problem& mp, double cutOff, totals& t) {
  // One row per position: the paths that survive the record failing, the
  // paths whose last record it is, and the record's probability.
  struct row {
    bits keep;
    bits doneBy;
    double prob;
  };
  struct frame {
    const row* at;
    double prob;
    bits alive;
  };
  const int live = mp.live;
  std::vector<row> rows(live);
  for (int q = 0; q < live; ++q) {
    const group& g = mp.groups[mp.groupStart[q]];
    rows[q] = {~g.onRecord, g.doneBy, mp.probAt[q]};
  }
  std::vector<frame> frames(static_cast<std::size_t>(live) + 1);
  frame* const F = frames.data();

  frame* top = F;  // one past the innermost pending step
  const row* at = rows.data();
  double prob = 1.0;
  bits a = mp.alive[0];
  long long steps = 0;
  double sum = t.sum;
  double bound = t.bound;
  for (;;) {
    ++steps;
    if (cutOff > bound) {
      t.below = true;
      break;
    }
    // The alive word is never empty on entry to a step (that is a failure
    // leaf), so some path completes at or before the last position.
    *top++ = {at, prob, a};
    const double works = prob * at->prob;
    if ((a & at->doneBy) == 0) {
      ++at;
      prob = works;
      continue;
    }
    sum += works * 1.0;
    for (;;) {
      if (top == F) goto done;
      const frame& f = *--top;
      const double fails = (1.0 - f.at->prob) * f.prob;
      a = f.alive & f.at->keep;
      if (a == 0) {
        bound -= fails;
        continue;
      }
      at = f.at + 1;
      prob = fails;
      break;
    }
  }
done:
  t.sum = sum;
  t.bound = bound;
  t.steps = steps;
}

namespace {

// Word operations one word at a time, for any CPU.
struct plainKit {
  static constexpr std::size_t lanes = 4;
  static bits joins(const bits* s, const bits* d, std::size_t W) {
    bits some = 0;
    for (std::size_t i = 0; i < W; ++i)
      some |= static_cast<bits>((s[i] & d[i]) != 0) << i;
    return some;
  }
  static bits cut(const bits* from, const bits* keep, bits* to, std::size_t W) {
    bits empty = 0;
    for (std::size_t i = 0; i < W; ++i) {
      to[i] = from[i] & keep[i];
      empty |= static_cast<bits>(to[i] == 0) << i;
    }
    return empty;
  }
};

}  // namespace

void searchSnapshots(const problem& mp, double cutOff, totals& t, bool wide) {
#if DCR_AVX2_SEARCH
  if (wide && __builtin_cpu_supports("avx2")) return searchSnapshotsAvx2(mp, cutOff, t);
#endif
  (void)wide;
  snapshotSearchSized<plainKit>(mp, cutOff, t);
}

// Any number of words, one step at a time: one working set of alive words
// with an undo trail, and the joined pairs as a mask kept in each frame, so
// a join needs no trail entry. A joined pair's alive words are never read
// again; the works branch may test them, which changes nothing.
void searchTrailed(const problem& mp, double cutOff, totals& t) {
  struct frame {
    int pos;
    double prob;
    bits joined;       // bit i: pair i joined
    std::size_t mark;  // trail height when the step began
  };
  // Undo trail: (word, old value), or (-1 - pair, 0) for a word of the pair
  // that emptied. Along one branch every entry kills at least one path.
  struct change {
    int what;
    bits old;
  };
  const int live = mp.live;
  const std::size_t pairs = mp.pairs;
  std::vector<bits> alive = mp.alive;
  std::vector<int> nonEmpty(pairs);
  for (std::size_t i = 0; i < pairs; ++i)
    nonEmpty[i] = static_cast<int>(mp.wordStart[i + 1] - mp.wordStart[i]);
  // The works branch needs only the words where some path completes.
  std::vector<group> joins;
  std::vector<std::size_t> joinStart(live + 1, 0);
  for (int q = 0; q < live; ++q) {
    joinStart[q] = joins.size();
    for (std::size_t g = mp.groupStart[q]; g < mp.groupStart[q + 1]; ++g)
      if (mp.groups[g].doneBy != 0) joins.push_back(mp.groups[g]);
  }
  joinStart[live] = joins.size();
  // Per position, the pairs its join groups and its groups touch: a step
  // whose pairs are all joined has nothing to walk.
  std::vector<bits> joinPairs(live, 0), failPairs(live, 0);
  for (int q = 0; q < live; ++q) {
    for (std::size_t k = joinStart[q]; k < joinStart[q + 1]; ++k)
      joinPairs[q] |= bits{1} << joins[k].pair;
    for (std::size_t k = mp.groupStart[q]; k < mp.groupStart[q + 1]; ++k)
      failPairs[q] |= bits{1} << mp.groups[k].pair;
  }
  std::size_t paths = 0;
  for (bits a : alive)
    paths += static_cast<std::size_t>(std::popcount(a));
  const auto trailStore = std::make_unique_for_overwrite<change[]>(2 * paths + 1);
  std::vector<frame> frames(static_cast<std::size_t>(live) + 1);

  change* const trail = trailStore.get();
  frame* const F = frames.data();
  const group* const G = mp.groups.data();
  const std::size_t* const GS = mp.groupStart.data();
  const bits* const JP = joinPairs.data();
  const bits* const FP = failPairs.data();
  const group* const JG = joins.data();
  const std::size_t* const JS = joinStart.data();
  const double* const P = mp.probAt.data();
  bits* const A = alive.data();
  int* const NE = nonEmpty.data();
  const bits everyPair = mp.everyPair();

  std::size_t trailTop = 0;
  int top = 0;
  int pos = 0;
  double prob = 1.0;
  bits joined = 0;
  long long steps = 0;
  double sum = t.sum;
  double bound = t.bound;
  for (;;) {
    ++steps;
    if (cutOff > bound) {
      t.below = true;
      break;
    }
    if (pos != live) {
      F[top++] = {pos, prob, joined, trailTop};
      const double works = prob * P[pos];
      if ((JP[pos] & ~joined) != 0) {
        for (std::size_t k = JS[pos]; k < JS[pos + 1]; ++k) {
          const group& g = JG[k];
          joined |= static_cast<bits>((A[g.word] & g.doneBy) != 0) << g.pair;
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
      const frame& f = F[--top];
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
        const group& g = G[k];
        const bits a = A[g.word];
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
  t.sum = sum;
  t.bound = bound;
  t.steps = steps;
}

}  // namespace masks
