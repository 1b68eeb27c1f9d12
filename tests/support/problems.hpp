// Example problems (grids, the dodecahedron, seeded random graphs) for the
// tests and the benchmark, in the input's own form (offsets, 1-based
// neighbour numbers, flags).
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "driver/problem_file.hpp"

namespace examples {

// Builds a problem from an edge list on nodes 0..n-1; each node's
// neighbours are listed in the order the edges name them.
inline Problem fromEdges(int n, const std::vector<std::pair<int, int>>& edges,
                         const std::vector<int>& terminals, int D, double p, double threshold) {
  std::vector<std::vector<int>> adj(static_cast<std::size_t>(n));
  for (auto [u, v] : edges) {
    adj[u].push_back(v);
    adj[v].push_back(u);
  }
  Problem pr;
  pr.N = n;
  pr.M = static_cast<int>(edges.size());
  pr.KAO.push_back(0);
  for (const auto& a : adj) {
    for (int w : a)
      pr.FO.push_back(w + 1);
    pr.KAO.push_back(static_cast<int>(pr.FO.size()));
  }
  pr.TERMINALS.assign(static_cast<std::size_t>(n), 0);
  for (int t : terminals)
    pr.TERMINALS[t] = 1;
  pr.D = D;
  pr.R = p;
  pr.R0 = threshold;
  return pr;
}

// rows x cols grid, nodes row by row; every node lists its neighbours
// up, left, right, down.
inline Problem grid(int rows, int cols, const std::vector<int>& terminals, int D, double p,
                    double threshold) {
  std::vector<std::pair<int, int>> edges;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) {
      const int u = r * cols + c;
      if (c + 1 < cols) edges.emplace_back(u, u + 1);
      if (r + 1 < rows) edges.emplace_back(u, u + cols);
    }
  // fromEdges would list them in edge order; sort each list instead so the
  // order is up, left, right, down (ascending node numbers).
  Problem pr = fromEdges(rows * cols, edges, terminals, D, p, threshold);
  for (int u = 0; u < pr.N; ++u)
    std::sort(pr.FO.begin() + pr.KAO[u], pr.FO.begin() + pr.KAO[u + 1]);
  return pr;
}

// The dodecahedron as the generalised Petersen graph GP(10, 2): outer
// 10-cycle 0..9, spokes i -- 10 + i, inner edges 10 + i -- 10 + (i + 2) % 10.
inline Problem dodecahedron(const std::vector<int>& terminals, int D, double p, double threshold) {
  std::vector<std::pair<int, int>> edges;
  for (int i = 0; i < 10; ++i) {
    edges.emplace_back(i, (i + 1) % 10);
    edges.emplace_back(i, 10 + i);
    edges.emplace_back(10 + i, 10 + (i + 2) % 10);
  }
  return fromEdges(20, edges, terminals, D, p, threshold);
}

// G(n, density) with a fixed seed; `k` terminals drawn among the nodes.
inline Problem randomGraph(std::uint32_t seed, int n, double density, int k, int D, double p,
                           double threshold) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> coin(0.0, 1.0);
  std::vector<std::pair<int, int>> edges;
  for (int u = 0; u < n; ++u)
    for (int v = u + 1; v < n; ++v)
      if (coin(rng) < density) edges.emplace_back(u, v);
  std::shuffle(edges.begin(), edges.end(), rng);
  std::vector<int> nodes(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i)
    nodes[i] = i;
  std::shuffle(nodes.begin(), nodes.end(), rng);
  nodes.resize(static_cast<std::size_t>(std::min(k, n)));
  return fromEdges(n, edges, nodes, D, p, threshold);
}

}  // namespace examples
