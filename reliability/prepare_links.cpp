// Working probabilities, folding of links that lie on the same paths, and
// the branching order (most memberships first).
#include <utility>

#include "graph/my_graph.hpp"

void myGraph::prepareLinks(bool merge, bool sort) {
  linkOrder = new int[numLinks];
  linkProb = new double[numLinks];
  for (int i = 0; i < numLinks; ++i) {
    linkOrder[i] = i;
    linkProb[i] = linkProbability;
  }
  int reducedLinksCount = 0;
  if (merge) reducedLinksCount = mergeEquivalentLinks();
  (void)reducedLinksCount;
  if (sort && numLinks >= 1) sortLinks(linkOrder, 0, numLinks - 1);
}

int myGraph::mergeEquivalentLinks() {
  int folds = 0;
  for (int i = 0; i < numLinks - 1; ++i) {
    const int* ri = linkInfo[i];
    if (ri[0] == -1) continue;
    for (int j = i + 1; j < numLinks; ++j) {
      int* rj = linkInfo[j];
      if (rj[0] != ri[0]) continue;
      bool same = true;
      for (int k = 3; k < 3 + 2 * ri[0] && same; ++k) same = ri[k] == rj[k];
      if (!same) continue;
      // The two edges only ever matter together: one decision for both.
      for (int k = 0; k < ri[0]; ++k) pathState[ri[3 + 2 * k]][2 * (ri[4 + 2 * k] + 1) + 1] -= 1;
      rj[0] = -1;
      linkProb[i] = linkProb[i] * linkProb[j];
      ++folds;
    }
  }
  return folds;
}

// Hoare partition; the exact scheme fixes the order of equal counts and so
// the search's summation order.
void myGraph::sortLinks(int* order, int lo, int hi) {
  auto key = [this](int x) { return linkInfo[x][0]; };
  int i = lo, j = hi;
  const int pivot = order[(lo + hi) / 2];
  do {
    while (key(order[i]) > key(pivot)) ++i;
    while (key(order[j]) < key(pivot)) --j;
    if (i <= j) {
      std::swap(order[i], order[j]);
      ++i;
      --j;
    }
  } while (i < j);
  if (lo < j) sortLinks(order, lo, j);
  if (i < hi) sortLinks(order, i, hi);
}
