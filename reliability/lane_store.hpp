// Memory for the leaves that wait below a doubling (search::laneStore).
// Plain code only: the 256-bit unit sees the store, never its owner.
#pragma once

#include <cstddef>

#include "graph/large_pages.hpp"
#include "reliability/factor_skeleton.hpp"

namespace search {

class laneMemory {
 public:
  // For a search over `live` positions. Left untouched, so that only the
  // pages a search reaches take memory; a full-size store is one block on
  // 2 MiB pages, as a search that doubles at all touches tens of 4 KiB
  // pages of it, each dearer than a 2 MiB page's fill on the machines we
  // measure on.
  explicit laneMemory(long long live)
      : room_(laneStore::roomFor(live)), block_(2 * kMaxLevel * room_ + (room_ + 1) / 2) {}

  laneStore store() const {
    laneStore s;
    // The leaf words first, then the levels' rows, the most used first.
    s.meta = reinterpret_cast<unsigned*>(block_.get());
    double* rows = block_.get() + (room_ + 1) / 2;
    for (int l = 1; l <= kMaxLevel; ++l) {
      s.works[l] = rows + (2 * l - 2) * room_;
      s.fails[l] = rows + (2 * l - 1) * room_;
    }
    s.room = room_;
    return s;
  }

 private:
  std::size_t room_;
  largePages::block<double> block_;
};

}  // namespace search
