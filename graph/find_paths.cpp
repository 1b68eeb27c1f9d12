// Depth-first enumeration of every simple path of at most `diameter` edges
// between each pair of terminals, neighbours taken in neighbour-list order.
#include "graph/my_graph.hpp"

void myGraph::findAllPaths() {
  std::vector<int> path(1);
  for (int i = 0; i < numTerminals - 1; ++i) {
    for (int j = i + 1; j < numTerminals; ++j) {
      path[0] = terminals[i];
      std::pair<int, int> st(terminals[i], terminals[j]);
      terminalPairs.emplace_back(st);
      findPaths(st, path);
    }
  }
}

void myGraph::findPaths(std::pair<int, int> pair, std::vector<int> path) {
  const int c = path.back();
  if (c == pair.second) {
    terminalPairs.back().paths.push_back(path);
    ++numPaths;
    return;
  }
  // Unsigned comparison: a negative diameter bounds nothing.
  if (path.size() <= static_cast<std::size_t>(static_cast<unsigned>(diameter))) {
    path.push_back(0);
    const std::size_t last = path.size() - 1;
    for (int i = nodeStart[c]; i < nodeStart[c + 1]; ++i) {
      const int w = adjacency[i];
      bool onPath = false;
      for (std::size_t k = 0; k < last; ++k) onPath = onPath || path[k] == w;
      if (!onPath) {
        path[last] = w;
        findPaths(pair, path);
      }
    }
  }
}
