// Adjacency in offset-list form: node v's neighbours are
// neighbours[offsets[v] .. offsets[v + 1] - 1]. The path search and dcr's
// problem files keep a network this way, neighbours counted from 1.
#pragma once

#include <utility>
#include <vector>

struct adjacencyLists {
  std::vector<int> offsets;     // nodes + 1 entries, from 0 to 2 * edges
  std::vector<int> neighbours;  // 2 * edges entries, each edge from both ends
};

// The lists of `nodes` nodes joined by `edges` (0-based ends), each node's
// neighbours ascending and counted from `base`: one edge set always gives
// the same lists, whatever order its edges come in.
adjacencyLists adjacencyOf(int nodes, const std::vector<std::pair<int, int>>& edges, int base = 1);
