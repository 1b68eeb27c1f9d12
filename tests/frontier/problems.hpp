// Graphs the frontier tests and its bench share: grids between opposite
// corners and the dodecahedron.
#pragma once

#include <utility>
#include <vector>

#include "frontier/frontier.hpp"

namespace frontier_test {

// The k x k grid, 4-neighbour edges, row by row.
inline frontier::Problem grid(int k, int D) {
  frontier::Problem pr;
  pr.nodes = k * k;
  pr.maxHops = D;
  for (int r = 0; r < k; ++r)
    for (int c = 0; c < k; ++c) {
      if (c + 1 < k) pr.edges.push_back({r * k + c, r * k + c + 1});
      if (r + 1 < k) pr.edges.push_back({r * k + c, (r + 1) * k + c});
    }
  pr.terminals = {0, k * k - 1};
  return pr;
}

// The dodecahedron: two pentagons, each joined by spokes to a ring of ten.
inline frontier::Problem dodecahedron(std::vector<int> terminals, int D) {
  frontier::Problem pr;
  pr.nodes = 20;
  for (int i = 0; i < 5; ++i) {
    pr.edges.push_back({i, (i + 1) % 5});                // inner pentagon
    pr.edges.push_back({i, 5 + 2 * i});                  // spokes out
    pr.edges.push_back({15 + i, 15 + (i + 1) % 5});      // outer pentagon
    pr.edges.push_back({15 + i, 5 + (2 * i + 1) % 10});  // spokes in
  }
  for (int i = 0; i < 10; ++i)
    pr.edges.push_back({5 + i, 5 + (i + 1) % 10});  // the middle ring
  pr.terminals = std::move(terminals);
  pr.maxHops = D;
  return pr;
}

}  // namespace frontier_test
