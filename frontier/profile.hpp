// Profile state (hop limit D, many terminals): what the rest of the sweep
// needs to know about the terminals already met, kept as their profiles.
//
// Contract
// --------
// A node is touched once one of its edges is decided; the frontier F holds
// the touched nodes that still have an undecided edge; T is the set of
// terminals not yet touched. After a prefix of decisions the past graph is
// the working decided edges. A touched terminal t reaches the rest of the
// network only through F, so all the future needs of it is its profile
// P_t(x), x in F: its past-only hop distance to x, capped at D + 1 ("too
// far, or of no use"). A frontier terminal's profile is its row of `d`
// with 0 in its own column; a terminal that has left F keeps its profile.
//
// The state of level i, all byte-wise (f = |F_i|):
//
//   [ nR2 nPairs ] [ d(F0,F1) d(F0,F2) .. ] [ R2: nR2 profiles ] [ PAIRS: nPairs (P, Q) ]
//     2 x uint16     F x F, upper triangle    f entries each       2f entries each
//
// An entry is a byte; when D + 1 <= 15 (every entry fits 4 bits) the
// entries after the counts go two a byte, low nibble first, which takes a
// fifth to a quarter off a sweep's memory (eon19, all terminals, D = 7:
// 53 to 43 MB) for about 3 % more instructions.
//
//   d      past-only distances between frontier nodes (the shortcuts the
//          past offers a future route);
//   R2     profiles of touched terminals that must still reach every
//          terminal of T within D: only the pointwise-maximal ones, sorted;
//   PAIRS  profile pairs of touched terminals still more than D apart: each
//          needs min over x, y of P(x) + d*(x, y) + Q(y) <= D, with d* the
//          final distance between frontier nodes (past shortcuts and working
//          future edges). Each pair with P <= Q bytewise, only the maximal
//          pairs (in either orientation), sorted.
//
// Why merging is exact. Every requirement left is one of: two terminals of
// T within D (depends on d and the future only), a profile of R2 within D
// of each terminal of T, a pair of PAIRS within D. Each is monotone: a
// profile (pair) that is pointwise no larger is no harder to meet, now and
// after any further decisions (the updates below are monotone). So a
// dominated profile or pair adds no condition, and two prefixes whose
// states are equal have the same set of accepting completions.
//
// The transitions:
//   - touching a terminal z: every profile P of R2 becomes the pair
//     (P, unit z) (R2 holds "reach z"), then z's unit profile joins R2; once
//     T is empty R2 holds no condition and is dropped;
//   - a working edge (u, v) updates d and every profile from the old d:
//     P'(x) = min(P(x), P(u) + 1 + d(v, x), P(v) + 1 + d(u, x)). Complete,
//     because a new past path uses the edge, whose ends are at work. A pair
//     whose terminals are now within D (P'(u) + Q'(u) <= D: the new
//     shortest path passes u) is dropped;
//   - a node leaving F drops its column everywhere.
//
// Reductions, all against M: the shortest-path closure of min(d, the
// distances over undecided edges) on F and T, a lower bound on every final
// distance (only the closure is: the element-wise min is not). Best-case
// distances only grow as edges are decided.
//   - a pair (P, Q) is rejected when min P(x) + M(x, y) + Q(y) > D; P(x)
//     becomes D + 1 when P(x) + min_y (M(x, y) + Q(y)) > D (likewise Q);
//   - a profile of R2 is rejected when it cannot reach some terminal of T
//     within D in M; P(x) becomes D + 1 when P(x) + M(x, nearest of T) > D;
//   - two terminals of T more than D apart in M reject;
//   - d(a, b) becomes D + 1 when near(a) + d(a, b) + near(b) > D, with
//     near(x) the least best-case distance from x to an end of any
//     requirement (a terminal of T, a profile of R2 or of PAIRS).
// A capped entry lies only on routes longer than D, now and later, so no
// requirement loses a route within D. The state is accepted when T is
// empty and no pair is left.
//
// M and what is derived from it depend on d alone, and many states share
// their d (a few thousand distinct d among 200k states): they are cached per
// level by d.
#pragma once

#include <cstdint>
#include <vector>

#include "frontier/plan.hpp"
#include "frontier/sweep.hpp"

namespace frontier {

class ProfileRules {
 public:
  static constexpr bool kVariableWidth = true;
  explicit ProfileRules(const Plan& plan);
  // The widest fixed part of a state (header and d), for the plan's shape.
  int fixedWidth(int level) const;
  Outcome root(std::vector<std::uint64_t>& out);
  // The child of `parent` (a state of `level`) in `out`, zero-padded words.
  Outcome child(int level, const std::uint64_t* parent, bool works,
                std::vector<std::uint64_t>& out);
  // Bytes of the per-level cache of M, for the memory bound.
  std::size_t heldBytes() const { return cacheBytes_; }

 private:
  struct Level {
    int f = 0;     // parent frontier size
    int work = 0;  // work positions: F_i, then the edge's new ends
    int u = 0, v = 0;
    std::vector<int> touched;             // work positions of terminals first met here
    bool dropsR2 = false;                 // no terminal is untouched after this edge
    int f1 = 0;                           // child frontier size
    std::vector<int> keep;                // child frontier position -> work position
    std::vector<int> leaving;             // the work positions not kept, highest first
    int t1 = 0;                           // terminals untouched after this edge
    int n1 = 0, stride1 = 16;             // M nodes (child frontier, then T) and row stride
    std::vector<std::uint8_t> undecided;  // n1 x stride1, over edges after this one
  };
  struct CacheEntry {
    bool ok = false;  // the untouched terminals are pairwise within D in M
    std::uint32_t offset =
        0;                   // into cacheData_: MF rows (f1 x S), nearT, near2, who (S each), cols
    std::uint32_t cols = 0;  // maximal columns M(F, z), z in T
    // d's entries that capShortcuts must weigh (within D, and no pair of
    // untouched terminals has a best-case route through them):
    // cacheOpen_[open, open + opens), each k << 16 | a << 8 | b for d(a, b),
    // the k-th entry of d's upper triangle.
    std::uint32_t open = 0, opens = 0;
  };
  template <int S>
  Outcome childOf(int level, const std::uint64_t* parent, bool works,
                  std::vector<std::uint64_t>& out);
  template <int S, class ReachOf>
  void capShortcuts(std::uint8_t* out, int nR2, int nPairs, const CacheEntry& entry,
                    const std::uint8_t* nearT, const ReachOf& reachOf);
  template <int S>
  void decode(const Level& L, const std::uint8_t* state, int f);
  template <int S>
  const CacheEntry& lookup(int level, const std::uint8_t* key, int keyBytes, const Level& L);

  const Plan& plan_;
  int D_ = 0, inf_ = 0, S_ = 16;
  bool packed_ = false;            // entries two a byte (D + 1 <= 15)
  std::vector<std::uint8_t> raw_;  // a packed state's entries, a byte each
  // raw_ with room for `n` entries and 16 bytes more (rows are read 16
  // bytes at a time); it only grows, so a sweep seldom allocates.
  std::uint8_t* rawFor(std::size_t n) {
    if (raw_.size() < n + 16) raw_.resize(2 * n + 16);
    return raw_.data();
  }
  bool rootRejects_ = false;
  std::vector<Level> levels_;
  // The decoded parent (with touches applied), shared by its two branches.
  const std::uint64_t* decoded_ = nullptr;
  int decodedLevel_ = -1;
  std::vector<std::uint8_t> baseD_, baseR2_, basePairs_;
  int baseR2Count_ = 0, basePairCount_ = 0;
  // One branch's working copies.
  std::vector<std::uint8_t> d_, r2_, pairs_, childD_, key_, colU_, colV_, a_, b_;
  std::vector<std::uint8_t> pairReach_;  // per pair, each side's reach (capShortcuts)
  // The cache of M by child d, for level cacheLevel_.
  int cacheLevel_ = -1;
  LevelTable cacheIndex_;
  std::vector<CacheEntry> cache_;
  std::vector<std::uint8_t> cacheData_, closure_;
  std::vector<std::uint32_t> cacheOpen_;
  std::size_t cacheBytes_ = 0;
};

}  // namespace frontier
