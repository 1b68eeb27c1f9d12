// The paths of every terminal pair, stored for the search (the enumeration
// itself is graph/paths.hpp), within the memory limit.
#include <algorithm>
#include <climits>

#include "graph/paths.hpp"
#include "reliability/checks.hpp"
#include "reliability/factor_skeleton.hpp"
#include "reliability/my_graph.hpp"

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
  pathScratch scratch;
  std::size_t bytes = 0;

  // Every pair gets a record, so make room for them at once, within what
  // the memory limit lets them take.
  const std::size_t pairCount =
      numTerminals < 2 ? 0 : static_cast<std::size_t>(numTerminals) * (numTerminals - 1) / 2;
  terminalPairs.reserve(std::min(pairCount, memoryLimit / kPairFootprint + 1));
  // Locals, so that the pair loop (millions of pairs with thousands of
  // terminals) does not reload them after every record it adds.
  const int D = diameter;
  const std::size_t limit = memoryLimit;
  const int* const terminal = terminals.data();
  const int K = numTerminals;
  // The search's watch sees the enumeration too: without a hop limit a
  // walk can run long between two paths, or find none for ages.
  const search::watch* const watch = searchWatch;
  auto poll = [watch] {
    if (watch != nullptr && watch->poll(watch->context, 0.0, 1.0, 0)) throw pathsStopped();
  };
  for (int i = 0; i < K - 1; ++i) {
    const int s = terminal[i];
    for (int j = i + 1; j < K; ++j) {
      const int t = terminal[j];
      bytes += kPairFootprint;
      if (bytes > limit || terminalPairs.size() >= INT_MAX / 8)
        throw pathStoreFull(static_cast<int>(terminalPairs.size()), s, t, numPaths);
      terminalPairs.emplace_back(std::pair<int, int>(s, t));
      // Without a single hop allowed (D = 0) no pair has a path.
      if (D == 0) continue;
      pathList& found = terminalPairs.back().paths;
      forEachPath(
          nodeStart.data(), adjacency.data(), n, s, t, D, scratch,
          [&](const int* path, std::size_t nodes, std::size_t kept) {
            bytes += footprint(nodes);
            if (bytes > limit || numPaths == INT_MAX / 4)
              throw pathStoreFull(static_cast<int>(terminalPairs.size()) - 1, s, t, numPaths);
            found.append(path, nodes, kept);
            DCR_CHECK(sharedPrefixHolds(found), "a path's shared-prefix length too long");
            ++numPaths;
          },
          poll);
    }
  }
}
