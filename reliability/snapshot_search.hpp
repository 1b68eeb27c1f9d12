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
template <class Kit, int Vectors, bool MultiWord>
void snapshotSearch(const problem& mp, double cutOff, totals& t) {
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
  // One row per position: the bits that survive the record failing (W
  // words), the paths whose last record it is (W words), and the record's
  // probability (its bit pattern), padded to whole vectors.
  const std::size_t stride = 2 * W + lanes;
  std::vector<bits> rows(static_cast<std::size_t>(live) * stride, 0);
  for (int q = 0; q < live; ++q) {
    bits* const row = rows.data() + q * stride;
    std::fill(row, row + W, ~bits{0});
    for (std::size_t g = mp.groupStart[q]; g < mp.groupStart[q + 1]; ++g) {
      const std::size_t w = slotWord[mp.groups[g].word];
      row[w] = ~mp.groups[g].onRecord;
      row[W + w] = mp.groups[g].doneBy;
    }
    row[2 * W] = std::bit_cast<bits>(mp.probAt[q]);
  }
  std::vector<bits> slots((static_cast<std::size_t>(live) + 1) * W, ~bits{0});
  for (std::size_t w = 0; w < words; ++w)
    slots[slotWord[w]] = mp.alive[w];
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

  // A pending step: its row, the slot of alive words it saw, the
  // probability of the decisions above it and the pairs open when it began.
  struct frame {
    const bits* row;
    bits* slot;
    double prob;
    bits open;
  };
  std::vector<frame> frames(static_cast<std::size_t>(live) + 1);
  frame* const F = frames.data();
  const bits* const rowsEnd = rows.data() + static_cast<std::size_t>(live) * stride;
  auto probOf = [W](const bits* row) { return std::bit_cast<double>(row[2 * W]); };

  frame* top = F;                 // one past the innermost pending step
  const bits* row = rows.data();  // the step's position
  bits* s = slots.data();         // the step's alive words
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
    if (row != rowsEnd) {
      *top++ = {row, s, prob, open};
      const double works = prob * probOf(row);
      const bits joins = Kit::joins(s, row + W, W);
      open &= ~(MultiWord ? pairsTouching(joins) : joins);
      if (open != 0) {
        row += stride;
        prob = works;
        continue;
      }
      sum += works * 1.0;
    }
    // The branch has ended: the fails branch of the innermost pending step.
    for (;;) {
      if (top == F) goto done;
      const frame& f = *--top;
      const double fails = (1.0 - probOf(f.row)) * f.prob;
      bits emptied = Kit::cut(f.slot, f.row, f.slot + W, W);
      if (MultiWord) emptied = pairsWithin(emptied);
      if ((emptied & f.open) != 0) {
        bound -= fails;
        continue;
      }
      row = f.row + stride;
      s = f.slot + W;
      prob = fails;
      open = f.open;
      break;
    }
  }
done:
  t.sum = sum;
  t.bound = bound;
  t.steps = steps;
}

// Runs the instantiation whose W and word layout fit the problem.
template <class Kit, bool MultiWord>
void snapshotSearchSized(const problem& mp, double cutOff, totals& t) {
  switch ((mp.alive.size() + Kit::lanes - 1) / Kit::lanes) {
    case 1:
      return snapshotSearch<Kit, 1, MultiWord>(mp, cutOff, t);
    case 2:
      return snapshotSearch<Kit, 2, MultiWord>(mp, cutOff, t);
    case 3:
      return snapshotSearch<Kit, 3, MultiWord>(mp, cutOff, t);
    case 4:
      return snapshotSearch<Kit, 4, MultiWord>(mp, cutOff, t);
    default:
      return snapshotSearch<Kit, 0, MultiWord>(mp, cutOff, t);
  }
}

template <class Kit>
void snapshotSearchSized(const problem& mp, double cutOff, totals& t) {
  if (mp.alive.size() == mp.pairs)
    snapshotSearchSized<Kit, false>(mp, cutOff, t);
  else
    snapshotSearchSized<Kit, true>(mp, cutOff, t);
}

}  // namespace masks
