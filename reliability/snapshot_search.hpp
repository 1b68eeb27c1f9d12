// The snapshot form of the mask search, written once for any word-operation
// kit. Included by the translation units that instantiate it (plain, and
// 256-bit where the CPU has it); a kit is a type local to its unit, so each
// instantiation is that unit's own.
//
// A state is one slot of W words, W the number of alive words rounded up to
// a multiple of the kit's `lanes`, the padding words all ones. Word i holds pair
// i's first 64 paths; a pair's further words come after all pairs' first
// words. A kit provides, over W words:
//
//   joins(s, d)             bit w set when s[w] & d[w] != 0 (bits from W up: any)
//   cut(from, keep, to)     to[w] = from[w] & keep[w]; bit w set when to[w] == 0
#pragma once

#include <algorithm>
#include <bit>
#include <vector>

#include "reliability/mask_search.hpp"

namespace masks {

// The state of a step is one slot of W words plus, in its frame, the mask
// of pairs not yet joined. A works branch changes no alive word, so the next
// step keeps the slot; a fails branch writes its cut state into the slot
// above its own. Slots never decrease up the frame stack, and frames above
// one that is popped are gone, so when a fails branch writes the slot above
// its own no pending step uses it, and nothing has written its own since
// the step saw it: no trail, no undo. A slot index is at most the step's
// position, so memory is live + 1 slots and two masks per position, W words
// each.
//
// A fails branch cuts joined pairs' words too: those are never read again,
// and a joined pair emptying is no failure.
//
// `Vectors` fixes W at lanes * Vectors words at compile time (the search is
// chosen so that it matches), so the word loops unroll; 0 leaves W to the
// problem.
template <class Kit, int Vectors>
void snapshotSearch(const problem& mp, double cutOff, totals& t) {
  struct frame {
    int pos;
    int slot;     // the alive words the step saw
    double prob;  // probability of the decisions above the step
    bits open;    // bit i: pair i not joined when the step began
  };
  const int live = mp.live;
  const std::size_t pairs = mp.pairs;
  const std::size_t words = mp.alive.size();
  constexpr std::size_t lanes = Kit::lanes;
  const std::size_t W = Vectors != 0 ? lanes * static_cast<std::size_t>(Vectors)
                                     : (words + lanes - 1) / lanes * lanes;
  // Slot word of each alive word, and the pair of each slot word.
  std::vector<std::size_t> slotWord(words);
  std::vector<int> pairOf(W, -1);
  bits multiWord = 0;  // pairs with more than one word
  for (std::size_t i = 0, extra = pairs; i < pairs; ++i) {
    for (std::size_t w = mp.wordStart[i]; w < mp.wordStart[i + 1]; ++w) {
      slotWord[w] = w == mp.wordStart[i] ? i : extra++;
      pairOf[slotWord[w]] = static_cast<int>(i);
    }
    if (mp.wordStart[i + 1] - mp.wordStart[i] > 1) multiWord |= bits{1} << i;
  }
  // Per position: the bits that survive the record failing, and the paths
  // whose last record it is.
  std::vector<bits> keep(static_cast<std::size_t>(live) * W, ~bits{0});
  std::vector<bits> done(static_cast<std::size_t>(live) * W, 0);
  for (int q = 0; q < live; ++q) {
    for (std::size_t g = mp.groupStart[q]; g < mp.groupStart[q + 1]; ++g) {
      const std::size_t w = slotWord[mp.groups[g].word];
      keep[q * W + w] = ~mp.groups[g].onRecord;
      done[q * W + w] = mp.groups[g].doneBy;
    }
  }
  std::vector<bits> slots((static_cast<std::size_t>(live) + 1) * W, ~bits{0});
  for (std::size_t w = 0; w < words; ++w)
    slots[slotWord[w]] = mp.alive[w];
  std::vector<frame> frames(static_cast<std::size_t>(live) + 1);
  const bits firstWords = mp.everyPair();
  // The pairs with a word in `mask`, and the pairs with every word in it.
  const bits extraWords = (words == 64 ? ~bits{0} : (bits{1} << words) - 1) & ~firstWords;
  auto pairsTouching = [&](bits mask) {
    bits found = mask & firstWords;
    for (bits u = mask & extraWords; u != 0; u &= u - 1)
      found |= bits{1} << pairOf[std::countr_zero(u)];
    return found;
  };
  auto pairsWithin = [&](bits mask) {
    bits found = mask & firstWords;
    for (bits u = found & multiWord; u != 0; u &= u - 1) {
      const int i = std::countr_zero(u);
      for (std::size_t w = mp.wordStart[i] + 1; w < mp.wordStart[i + 1]; ++w)
        if ((mask >> slotWord[w] & 1) == 0) found &= ~(bits{1} << i);
    }
    return found;
  };

  const double* const P = mp.probAt.data();
  const bits* const K = keep.data();
  const bits* const D = done.data();
  bits* const S = slots.data();
  frame* const F = frames.data();

  int top = 0;
  int pos = 0;
  int slot = 0;
  double prob = 1.0;
  bits open = mp.everyPair();  // the pairs not joined yet
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
      F[top++] = {pos, slot, prob, open};
      const double works = prob * P[pos];
      const bits joins = Kit::joins(S + slot * W, D + pos * W, W);
      open &= ~(multiWord == 0 ? joins : pairsTouching(joins));
      if (open != 0) {
        pos = pos + 1;
        prob = works;
        continue;
      }
      sum += works * 1.0;
    }
    // The branch has ended: the fails branch of the innermost pending step.
    for (;;) {
      if (top == 0) goto done;
      const frame f = F[--top];
      const double fails = (1.0 - P[f.pos]) * f.prob;
      bits emptied = Kit::cut(S + f.slot * W, K + f.pos * W, S + (f.slot + 1) * W, W);
      if (multiWord != 0) emptied = pairsWithin(emptied);
      if ((emptied & f.open) != 0) {
        bound -= fails;
        continue;
      }
      pos = f.pos + 1;
      prob = fails;
      open = f.open;
      slot = f.slot + 1;
      break;
    }
  }
done:
  t.sum = sum;
  t.bound = bound;
  t.steps = steps;
}

// Runs the instantiation whose W fits the problem.
template <class Kit>
void snapshotSearchSized(const problem& mp, double cutOff, totals& t) {
  switch ((mp.alive.size() + Kit::lanes - 1) / Kit::lanes) {
    case 1:
      return snapshotSearch<Kit, 1>(mp, cutOff, t);
    case 2:
      return snapshotSearch<Kit, 2>(mp, cutOff, t);
    case 3:
      return snapshotSearch<Kit, 3>(mp, cutOff, t);
    case 4:
      return snapshotSearch<Kit, 4>(mp, cutOff, t);
    default:
      return snapshotSearch<Kit, 0>(mp, cutOff, t);
  }
}

}  // namespace masks
