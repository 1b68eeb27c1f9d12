#include "graph/my_graph.hpp"

myGraph::myGraph(const int* offsets, const int* neighbours, const int* flags, int n, int m, int D,
                 double p, double threshold_)
    : diameter(D), linkProbability(p), threshold(threshold_) {
  if (n >= 0) nodeStart.assign(offsets, offsets + n + 1);
  if (m > 0) adjacency.assign(neighbours, neighbours + 2 * static_cast<std::size_t>(m));
  for (int& w : adjacency) w -= 1;
  for (int i = 0; i < n; ++i)
    if (flags[i] == 1) terminals.push_back(i);
  numTerminals = static_cast<int>(terminals.size());
}

myGraph::~myGraph() {
  if (pathState) releasePathState(pathState);
  if (linkInfo) {
    for (int r = 0; r < numLinks; ++r) delete[] linkInfo[r];
    delete[] linkInfo;
  }
  delete[] linkOrder;
  delete[] linkProb;
}
