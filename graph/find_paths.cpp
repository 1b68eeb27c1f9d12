// Enumeration of every simple path of at most `diameter` edges between each
// pair of terminals: depth first, neighbours in neighbour-list order, with
// one path buffer and one neighbour cursor per path position instead of
// recursion (a path may run through all n nodes when there is no limit).
#include <climits>

#include "graph/my_graph.hpp"

namespace {

// Bytes the engine will hold for one stored path of `nodes` nodes, over all
// its stages: the stored nodes and offset, the path-state entry in the
// master table and in the search's working table, and per edge a
// membership in a link record, in the search's membership slots and at
// most two trail entries.
std::size_t footprint(std::size_t nodes) {
  return nodes * sizeof(int) + sizeof(std::size_t) + 4 * sizeof(int) + 2 * sizeof(int) +
         (nodes - 1) * (2 + 2 + 4) * sizeof(int);
}

// Bytes one terminal pair takes besides its paths: its record with the
// first offset of its path list, and its row head in both tables.
constexpr std::size_t kPairFootprint =
    sizeof(myGraph::pathsBetween2Terminals) + 4 * sizeof(std::size_t) + 4 * sizeof(int);

}  // namespace

void myGraph::findAllPaths() {
  const int n = static_cast<int>(nodeStart.size()) - 1;
  // A negative diameter converts to a huge unsigned bound: no limit.
  const std::size_t maxNodes = static_cast<std::size_t>(static_cast<unsigned>(diameter));
  std::vector<char> onPath(n > 0 ? n : 0, 0);
  std::vector<int> path;    // the nodes of the current partial path
  std::vector<int> cursor;  // cursor[d]: next neighbour position to try from path[d]
  std::size_t bytes = 0;

  for (int i = 0; i < numTerminals - 1; ++i) {
    for (int j = i + 1; j < numTerminals; ++j) {
      const int s = terminals[i], t = terminals[j];
      bytes += kPairFootprint;
      if (bytes > memoryLimit || terminalPairs.size() >= INT_MAX / 8)
        throw pathStoreFull(static_cast<int>(terminalPairs.size()), s, t, numPaths);
      terminalPairs.emplace_back(std::pair<int, int>(s, t));
      pathList& found = terminalPairs.back().paths;
      // A one-node path is extended only while it has fewer than D edges.
      if (!(1 <= maxNodes)) continue;
      path.assign(1, s);
      cursor.assign(1, nodeStart[s]);
      onPath[s] = 1;
      while (!path.empty()) {
        const std::size_t d = path.size() - 1;
        const int c = path[d];
        if (cursor[d] == nodeStart[c + 1]) {
          onPath[c] = 0;
          path.pop_back();
          cursor.pop_back();
          continue;
        }
        const int w = adjacency[cursor[d]++];
        if (onPath[w]) continue;
        if (w == t) {
          bytes += footprint(path.size() + 1);
          if (bytes > memoryLimit || numPaths == INT_MAX / 4)
            throw pathStoreFull(static_cast<int>(terminalPairs.size()) - 1, s, t, numPaths);
          path.push_back(t);
          found.append(path.data(), path.size());
          path.pop_back();
          ++numPaths;
        } else if (path.size() + 1 <= maxNodes) {
          onPath[w] = 1;
          path.push_back(w);
          cursor.push_back(nodeStart[w]);
        }
      }
    }
  }
}
