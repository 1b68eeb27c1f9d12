#include "graph/my_graph.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

std::size_t memoryAvailable() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGE_SIZE);
  std::size_t available = std::size_t{1} << 32;
  if (pages > 0 && pageSize > 0)
    available = static_cast<std::size_t>(pages) * static_cast<std::size_t>(pageSize);
  for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    struct rlimit limit {};
    if (getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
      available = std::min(available, static_cast<std::size_t>(limit.rlim_cur));
  }
  return available;
}

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
