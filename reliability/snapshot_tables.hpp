// The snapshot form's tables, built from the mask problem (plain code only;
// the search itself is in reliability/snapshot_search.hpp).
#pragma once

#include <algorithm>
#include <bit>
#include <vector>

#include "reliability/lane_store.hpp"
#include "reliability/mask_search.hpp"
#include "reliability/snapshot_search.hpp"

namespace masks {

class snapshotTables {
 public:
  explicit snapshotTables(const problem& mp)
      : lanes_(mp.alive.size() <= 4 * snapshotLanes ? mp.live : 0) {
    const int live = mp.live;
    const std::size_t pairs = mp.pairs;
    const std::size_t words = mp.alive.size();
    const std::size_t W = (words + snapshotLanes - 1) / snapshotLanes * snapshotLanes;
    // Slot word of each alive word, and the pair of each slot word.
    std::vector<std::size_t> slotWord(words);
    std::vector<int> pairOf(W, -1);
    bits multiWord = 0;
    for (std::size_t i = 0, extra = pairs; i < pairs; ++i) {
      for (std::size_t w = mp.wordStart[i]; w < mp.wordStart[i + 1]; ++w) {
        slotWord[w] = w == mp.wordStart[i] ? i : extra++;
        pairOf[slotWord[w]] = static_cast<int>(i);
      }
      if (mp.wordStart[i + 1] - mp.wordStart[i] > 1) multiWord |= bits{1} << i;
    }
    const std::size_t stride = snapshotRow::stride(W);
    rows_.assign(static_cast<std::size_t>(live) * stride, 0);
    for (int q = 0; q < live; ++q) {
      bits* const row = rows_.data() + q * stride;
      std::fill(row, row + W, ~bits{0});
      for (std::size_t g = mp.groupStart[q]; g < mp.groupStart[q + 1]; ++g) {
        const std::size_t w = slotWord[mp.groups[g].word];
        row[w] = ~mp.groups[g].onRecord;
        row[W + w] = mp.groups[g].doneBy;
      }
      row[2 * W] = std::bit_cast<bits>(mp.probAt[q]);
    }
    slots_.assign((static_cast<std::size_t>(live) + 1) * W, ~bits{0});
    for (std::size_t w = 0; w < words; ++w)
      slots_[slotWord[w]] = mp.alive[w];
    frames_.resize(static_cast<std::size_t>(live) + 1);
    // Up to four packs of four words a frame, with the probabilities of
    // eight lanes, row and open pairs: within 256 bytes.
    held_.resize(W <= 4 * snapshotLanes ? static_cast<std::size_t>(live) + 1 : 0);
    pairsOfWords_.assign((W + 7) / 8 * 256, 0);
    for (std::size_t k = 0; 8 * k < W; ++k)
      for (std::size_t b = 0; b < 256; ++b)
        for (std::size_t j = 0; j < 8 && 8 * k + j < W; ++j)
          if ((b >> j & 1) != 0 && pairOf[8 * k + j] >= 0)
            pairsOfWords_[256 * k + b] |= bits{1} << pairOf[8 * k + j];
    const bits firstWords = mp.everyPair();
    view = {rows_.data(),
            W,
            live,
            slots_.data(),
            mp.everyPair(),
            firstWords,
            words == 64 ? ~bits{0} : (bits{1} << words) - 1,
            multiWord,
            pairsOfWords_.data(),
            frames_.data(),
            held_.data(),
            held_.size() * sizeof(heldFrame),
            lanes_.store()};
  }
  snapshotTables(const snapshotTables&) = delete;
  snapshotTables& operator=(const snapshotTables&) = delete;

  snapshotView view;

 private:
  std::vector<bits> pairsOfWords_;
  std::vector<bits> rows_;
  std::vector<bits> slots_;
  std::vector<search::frame<snapshotMark>> frames_;
  struct alignas(64) heldFrame {
    unsigned char bytes[256];
  };
  std::vector<heldFrame> held_;
  search::laneMemory lanes_;  // the held state's doublings
};

}  // namespace masks
