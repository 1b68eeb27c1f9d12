// The undirected edges of the graph, numbered like the link records: by
// lower end, then by the lower end's neighbour-list order; and the number
// of each step of a stored path. Internal to the engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "reliability/my_graph.hpp"

// Edge number of a directed node pair, by open addressing on the packed
// pair.
class edgeIndex {
 public:
  edgeIndex(const std::vector<int>& nodeStart, const std::vector<int>& adjacency) {
    const int n = static_cast<int>(nodeStart.size()) - 1;
    if (n > 0 && n <= kDenseUpTo) {
      nodes_ = static_cast<std::size_t>(n);
      dense_.assign(nodes_ * nodes_, -1);
    } else {
      std::size_t capacity = 16;
      shift_ = 60;
      while (capacity < 2 * adjacency.size()) {
        capacity *= 2;
        --shift_;
      }
      keys_.assign(capacity, kEmpty);
      values_.assign(capacity, -1);
      mask_ = capacity - 1;
    }
    for (int u = 0; u < n - 1; ++u) {
      for (int j = nodeStart[u]; j < nodeStart[u + 1]; ++j) {
        const int v = adjacency[j];
        if (!(u < v)) continue;
        const int edge = static_cast<int>(lowEnd.size());
        insert(u, v, edge);
        insert(v, u, edge);
        lowEnd.push_back(u);
        highEnd.push_back(v);
      }
    }
  }
  std::size_t size() const { return lowEnd.size(); }
  int find(int a, int b) const {
    if (nodes_ != 0)
      return dense_[static_cast<std::size_t>(a) * nodes_ + static_cast<std::size_t>(b)];
    const std::uint64_t key = pack(a, b);
    for (std::size_t h = slot(key);; h = (h + 1) & mask_) {
      if (keys_[h] == key) return values_[h];
      if (keys_[h] == kEmpty) return -1;
    }
  }

  bigTable<int> lowEnd, highEnd;  // per edge, its ends u < v

 private:
  void insert(int a, int b, int edge) {
    if (nodes_ != 0) {
      dense_[static_cast<std::size_t>(a) * nodes_ + static_cast<std::size_t>(b)] = edge;
      return;
    }
    std::size_t h = slot(pack(a, b));
    while (keys_[h] != kEmpty)
      h = (h + 1) & mask_;
    keys_[h] = pack(a, b);
    values_[h] = edge;
  }
  static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
  static std::uint64_t pack(int a, int b) {
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(a)) << 32) |
           static_cast<std::uint32_t>(b);
  }
  // The product's top bits: they depend on every bit of both nodes.
  std::size_t slot(std::uint64_t key) const {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
  }
  // Up to this many nodes a node-by-node matrix (at most 256 KiB) answers
  // with one load instead of a probe.
  static constexpr int kDenseUpTo = 256;
  std::size_t nodes_ = 0;  // matrix side, 0 when the hash table serves
  bigTable<int> dense_;
  bigTable<std::uint64_t> keys_;
  bigTable<int> values_;
  std::size_t mask_ = 0;
  int shift_ = 60;
};

// The edge numbers of a path's steps. Paths come in depth-first order, so
// a path mostly shares a long first part with the one before it: the steps
// within that shared part keep the numbers already found.
class stepEdges {
 public:
  explicit stepEdges(const edgeIndex& index) : index_(index) {}
  const int* of(const myGraph::pathList& paths, std::size_t j) {
    const std::span<const int> path = paths[j];
    if (edge_.size() < path.size()) edge_.resize(path.size());
    const std::size_t same = paths.shared(j);
    for (std::size_t k = same == 0 ? 0 : same - 1; k + 1 < path.size(); ++k)
      edge_[k] = index_.find(path[k], path[k + 1]);
    return edge_.data();
  }

 private:
  const edgeIndex& index_;
  std::vector<int> edge_;
};
