// Enumeration of every simple path of at most `diameter` edges between each
// pair of terminals: depth first, neighbours in neighbour-list order, with
// one path buffer and one neighbour cursor per path position instead of
// recursion (a path may run through all n nodes when there is no limit).
#include <algorithm>
#include <climits>

#include "graph/my_graph.hpp"
#include "reliability/checks.hpp"

namespace {

// Bytes the engine will hold for one stored path of `nodes` nodes, over all
// its stages: the stored nodes, offset and shared-prefix count, the
// path-state entry in the master table and in the search's working table,
// and per edge a membership in a link record, in the search's membership
// slots and at most two trail entries.
std::size_t footprint(std::size_t nodes) {
  return nodes * sizeof(int) + sizeof(std::size_t) + sizeof(int) + 4 * sizeof(int) +
         2 * sizeof(int) + (nodes - 1) * (2 + 2 + 4) * sizeof(int);
}

// Bytes one terminal pair takes besides its paths: its record with the
// first offset of its path list, and its row head in both tables.
constexpr std::size_t kPairFootprint =
    sizeof(myGraph::pathsBetween2Terminals) + 4 * sizeof(std::size_t) + 4 * sizeof(int);

#if DCR_CHECKS
// The link pass reuses the edges of the first `shared(j)` nodes of path
// j - 1 for path j: they must be the same nodes.
bool sharedPrefixHolds(const myGraph::pathList& paths) {
  const std::size_t j = paths.size() - 1;
  const std::size_t same = paths.shared(j);
  if (j == 0) return same == 0;
  const std::span<const int> a = paths[j - 1], b = paths[j];
  return same <= a.size() && same <= b.size() && std::equal(a.begin(), a.begin() + same, b.begin());
}
#endif

}  // namespace

void myGraph::findAllPaths() {
  enterStage(stage::constructed, stage::pathsFound);
  const int n = static_cast<int>(nodeStart.size()) - 1;
  // A negative diameter converts to a huge unsigned bound: no limit.
  const std::size_t maxNodes = static_cast<std::size_t>(static_cast<unsigned>(diameter));
  // A simple path has at most n nodes; the buffers hold one more for the
  // target.
  const std::size_t room = static_cast<std::size_t>(n > 0 ? n : 0) + 1;
  std::vector<char> onPath(room, 0);
  std::vector<int> pathStore(room);    // the nodes of the current partial path
  std::vector<int> cursorStore(room);  // cursor[d]: next neighbour position to try from path[d]
  int* const path = pathStore.data();
  int* const cursor = cursorStore.data();
  const int* const start = nodeStart.data();
  const int* const adj = adjacency.data();
  char* const on = onPath.data();
  std::size_t bytes = 0;
  // With a hop limit, hops[w] is the distance from w to the pair's target
  // when it is below D (else INT_MAX): a partial path whose last node
  // cannot reach the target within the hops left has no path below it, so
  // it is not extended. The paths found and their order stay the same.
  const bool limited = diameter >= 0;
  std::vector<int> hops(limited ? room : 0, INT_MAX);
  std::vector<int> reached;  // the nodes whose hops are set

  // Every pair gets a record, so make room for them at once, within what
  // the memory limit lets them take.
  const std::size_t pairCount =
      numTerminals < 2 ? 0 : static_cast<std::size_t>(numTerminals) * (numTerminals - 1) / 2;
  terminalPairs.reserve(std::min(pairCount, memoryLimit / kPairFootprint + 1));
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
      if (limited) {
        for (int v : reached)
          hops[v] = INT_MAX;
        reached.assign(1, t);
        hops[t] = 0;
        for (std::size_t k = 0; k < reached.size(); ++k) {
          const int v = reached[k];
          if (hops[v] + 1 >= diameter) break;
          for (int e = start[v]; e < start[v + 1]; ++e) {
            const int w = adj[e];
            if (hops[w] != INT_MAX) continue;
            hops[w] = hops[v] + 1;
            reached.push_back(w);
          }
        }
      }
      // path[0 .. d] is the partial path; it is extended while it has fewer
      // than maxNodes nodes.
      std::size_t d = 0;
      std::size_t kept = 0;  // first nodes unchanged since the last path found
      path[0] = s;
      cursor[0] = start[s];
      on[s] = 1;
      // Stores path[0 .. nodes - 1], which ends at t.
      auto store = [&](std::size_t nodes) {
        bytes += footprint(nodes);
        if (bytes > memoryLimit || numPaths == INT_MAX / 4)
          throw pathStoreFull(static_cast<int>(terminalPairs.size()) - 1, s, t, numPaths);
        found.append(path, nodes, std::min(kept, nodes - 1));
        DCR_CHECK(sharedPrefixHolds(found), "a path's shared-prefix length too long");
        kept = nodes - 1;
        ++numPaths;
      };
      for (;;) {
        const int c = path[d];
        if (cursor[d] == start[c + 1]) {
          on[c] = 0;
          if (d == 0) break;
          kept = std::min(kept, d);
          --d;
          continue;
        }
        const int w = adj[cursor[d]++];
        if (on[w]) continue;
        if (w == t) {
          path[d + 1] = t;
          store(d + 2);
        } else if (d + 2 <= maxNodes &&
                   (!limited || hops[w] <= diameter - static_cast<int>(d) - 1)) {
          path[d + 1] = w;
          if (limited && d + 3 > maxNodes) {
            // Only t can follow w, and the hops say it is w's neighbour: the
            // one path through w is stored here, as a step into w would
            // store it before leaving w, without scanning w's neighbours.
            DCR_CHECK(hops[w] == 1, "a last step that cannot reach the target");
            path[d + 2] = t;
            store(d + 3);
            kept = d + 1;
            continue;
          }
          on[w] = 1;
          cursor[++d] = start[w];
        }
      }
    }
  }
}
