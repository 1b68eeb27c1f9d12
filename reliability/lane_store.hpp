// Memory for the leaves that wait below a doubling (search::laneStore).
// Plain code only: the 256-bit unit sees the store, never its owner.
#pragma once

#include <cstddef>
#include <memory>

#include "reliability/factor_skeleton.hpp"

namespace search {

class laneMemory {
 public:
  // For a search over `live` positions. Left uninitialised, so that only
  // the pages a search reaches take memory.
  explicit laneMemory(long long live)
      : room_(laneStore::roomFor(live)),
        rows_(new double[2 * kMaxLevel * room_]),
        meta_(new unsigned[room_]) {}

  laneStore store() const {
    laneStore s;
    for (int l = 1; l <= kMaxLevel; ++l) {
      s.works[l] = rows_.get() + (2 * l - 2) * room_;
      s.fails[l] = rows_.get() + (2 * l - 1) * room_;
    }
    s.meta = meta_.get();
    s.room = room_;
    return s;
  }

 private:
  std::size_t room_;
  std::unique_ptr<double[]> rows_;
  std::unique_ptr<unsigned[]> meta_;
};

}  // namespace search
