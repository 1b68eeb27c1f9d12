#include "reliability/my_graph.hpp"

#include <algorithm>

pathStoreFull::pathStoreFull(int pairIndex_, int source_, int target_, long long pathsStored_)
    : std::runtime_error("the paths do not fit in memory"),
      pairIndex(pairIndex_),
      source(source_),
      target(target_),
      pathsStored(pathsStored_) {}

myGraph::myGraph(const int* offsets, const int* neighbours, const int* flags, int n, int m, int D,
                 double p, double threshold_)
    : diameter(D),
      linkProbability(p),
      threshold(threshold_),
      memoryLimit(memoryAvailable() / 4 * 3) {
  if (n >= 0) nodeStart.assign(offsets, offsets + n + 1);
  if (m > 0) adjacency.assign(neighbours, neighbours + 2 * static_cast<std::size_t>(m));
  for (int& w : adjacency)
    w -= 1;
  for (int i = 0; i < n; ++i)
    if (flags[i] == 1) terminals.push_back(i);
  numTerminals = static_cast<int>(terminals.size());
}
