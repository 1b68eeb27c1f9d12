#include "graph/adjacency.hpp"

#include <algorithm>
#include <cstddef>

adjacencyLists adjacencyOf(int nodes, const std::vector<std::pair<int, int>>& edges, int base) {
  adjacencyLists a;
  const std::size_t n = nodes > 0 ? static_cast<std::size_t>(nodes) : 0;
  a.offsets.assign(n + 1, 0);
  for (auto [u, v] : edges)
    ++a.offsets[u + 1], ++a.offsets[v + 1];
  for (std::size_t i = 0; i < n; ++i)
    a.offsets[i + 1] += a.offsets[i];
  a.neighbours.assign(2 * edges.size(), 0);
  std::vector<int> fill(a.offsets.begin(), a.offsets.end() - 1);
  for (auto [u, v] : edges) {
    a.neighbours[fill[u]++] = v + base;
    a.neighbours[fill[v]++] = u + base;
  }
  for (std::size_t i = 0; i < n; ++i)
    std::sort(a.neighbours.begin() + a.offsets[i], a.neighbours.begin() + a.offsets[i + 1]);
  return a;
}
