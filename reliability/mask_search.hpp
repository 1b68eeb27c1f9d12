// Tables and entry points of the factoring search on bit sets of alive
// paths. Internal to the engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "graph/large_pages.hpp"
#include "reliability/factor_skeleton.hpp"

namespace masks {

using bits = std::uint64_t;
using search::totals;

// The paths of one pair as seen by one branching position.
struct group {
  int pair;
  int word;       // index of the alive word
  bits onRecord;  // the pair's paths that use the record
  bits doneBy;    // the pair's paths whose last record stands at this position
};

// The search's tables, built once from the link records. Pair i's alive
// paths are words [wordStart[i], wordStart[i + 1]), path j in bit j % 64 of
// word wordStart[i] + j / 64.
struct problem {
  int live = 0;  // branching positions, all live
  std::size_t pairs = 0;
  std::vector<double> probAt;  // linkProb at each position
  std::vector<std::size_t> wordStart;
  std::vector<bits> alive;  // the root's alive words
  // Per position, one group per word it touches; big ones on 2 MiB pages
  // (a fresh 4 KiB page costs more to touch than its groups to fill).
  std::vector<group, largePages::allocator<group>> groups;
  std::vector<std::size_t> groupStart;

  bits everyPair() const { return pairs == 64 ? ~bits{0} : (bits{1} << pairs) - 1; }
};

// One pair of at most 64 paths, with at least one live record; `wide` lets
// it double (reliability/one_pair_search.hpp) when the CPU has AVX2.
void searchOnePair(const problem& mp, double cutOff, totals& t, bool wide);
// At most 64 alive words, every pair with a path, at least one live
// record; `wide` lets it use 256-bit word operations when the CPU has them.
void searchSnapshots(const problem& mp, double cutOff, totals& t, bool wide);
// Any problem of at most 64 pairs, or of more with a path for every pair.
void searchTrailed(const problem& mp, double cutOff, totals& t);

}  // namespace masks
