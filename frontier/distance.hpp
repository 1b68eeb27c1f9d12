// Distance state (hop limit D): capped hop distances over the working
// decided edges between portals, and the terminal pairs already within D.
//
// Portals of level i: the frontier F (Plan::frontier[i]) and the passed
// terminals T (terminals whose edges are all decided, in terminal order).
// State of level i, one byte per distance, D + 1 meaning "too far / of no
// use":
//
//   [ d(F0,F1) d(F0,F2) .. d(F1,F2) .. ]  [ d(T0,F0) .. d(T0,Ff-1) d(T1,F0) .. ]  [ pair bits ]
//     F x F, upper triangle                 T x F                                 K(K-1)/2 bits
//
// Two passed terminals need no entry: their distance is final, so it went
// into the pair bits when the second one passed.
//
// Each branch also works out, for every terminal x in a pair not yet within
// D, best(x, .): its distance to every node when all undecided edges are
// taken to work (one byte-wise Floyd-Warshall over the state's distances
// and the undecided-edge distances). A pair with best > D rejects the
// branch. A stored entry d(a, b) is kept only if some open pair (x, y) can
// use it: reach(x,a) + d(a,b) + reach(y,b) <= D either way round, where
// reach(x, a) is the shortest best-case walk from x that arrives at a by an
// undecided edge (0 at x itself): a walk that reached a by a decided edge
// is covered by the entry from the end of its last undecided edge. A passed
// terminal is only ever an end of a walk, so its entries count only for its
// own pairs. Entries that can no longer matter read D + 1, so branches that
// differ only in them merge.
#pragma once

#include <cstdint>
#include <vector>

#include "frontier/plan.hpp"
#include "frontier/sweep.hpp"

namespace frontier {

class DistanceRules {
 public:
  explicit DistanceRules(const Plan& plan);
  int width(int level) const { return widths_[level]; }
  Outcome root(std::uint8_t* out) const;
  Outcome child(int level, const std::uint8_t* parent, bool works, std::uint8_t* out);

 private:
  struct Entry {
    std::uint16_t a, b;  // work positions
  };
  struct Level {
    int work = 0;      // work positions: F_i, then T_i, then the edge's new ends
    int nodes = 0;     // best() nodes: the work positions, then untouched terminals
    int u = 0, v = 0;  // the edge's ends
    int passedBegin = 0, passedEnd = 0;  // work positions of the passed terminals
    std::vector<Entry> in;               // parent bytes -> work positions
    std::vector<Entry> out;              // child bytes <- work positions
    int outPassed = 0;              // entries of `out` from here on start at a passed terminal,
    std::vector<int> outTerminal;   // whose terminal index is this
    std::vector<int> terminalNode;  // per terminal: its best() node
    std::vector<int> workPairs;     // pairs with both terminals at work positions
    int stride = 16;                // row length of the node matrices: nodes rounded up to 16
    std::vector<std::uint8_t> undecided;  // nodes x stride: distances over undecided edges
    std::vector<int> live;                // nodes with an undecided edge
    std::vector<std::uint8_t> step;       // `undecided` with D + 1 on the diagonal: a step
  };
  const Plan& plan_;
  int K_ = 0, D_ = 0, inf_ = 0, pairBytes_ = 0;
  std::vector<int> widths_;
  std::vector<Level> levels_;
  bool rootRejects_ = false;
  // Scratch, sized for the widest level.
  std::vector<std::uint8_t> dist_, colU_, colV_, best_, weight_, finished_, nearest_, needed_,
      reach_;
  std::vector<std::uint8_t> rowChanged_;         // closure rows the work edge shortened
  std::vector<std::uint64_t> partner_, within_;  // see the end of child()
  std::vector<int> needList_;
  std::vector<int> open_;                  // the pairs not yet within D
  const std::uint8_t* decoded_ = nullptr;  // parent whose matrix is in dist_, untouched
  int decodedLevel_ = -1;
  bool closed_ = false;  // weight_ holds the closure of decoded_'s fail branch
  std::vector<std::uint8_t> pairs_;
  std::vector<int> pairA_, pairB_;  // terminal indices of pair p
};

}  // namespace frontier
