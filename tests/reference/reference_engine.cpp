#include "tests/reference/reference_engine.hpp"

#include <cstring>
#include <utility>

namespace reference {

myGraph::myGraph(const int* offsets, const int* neighbours, const int* flags, int n, int m, int D,
                 double p, double threshold_)
    : diameter(D), linkProbability(p), threshold(threshold_) {
  if (n >= 0) nodeStart.assign(offsets, offsets + n + 1);
  if (m > 0) adjacency.assign(neighbours, neighbours + 2 * static_cast<std::size_t>(m));
  for (int& w : adjacency)
    w -= 1;
  for (int i = 0; i < n; ++i)
    if (flags[i] == 1) terminals.push_back(i);
  numTerminals = static_cast<int>(terminals.size());
}

myGraph::~myGraph() {
  if (pathState) releasePathState(pathState);
  if (linkInfo) {
    for (int r = 0; r < numLinks; ++r)
      delete[] linkInfo[r];
    delete[] linkInfo;
  }
  delete[] linkOrder;
  delete[] linkProb;
}

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
      for (std::size_t k = 0; k < last; ++k)
        onPath = onPath || path[k] == w;
      if (!onPath) {
        path[last] = w;
        findPaths(pair, path);
      }
    }
  }
}

void myGraph::buildPathState() {
  const std::size_t pairs = terminalPairs.size();
  pathState = new int*[pairs];
  for (std::size_t i = 0; i < pairs; ++i) {
    const auto& paths = terminalPairs[i].paths;
    const int a = static_cast<int>(paths.size());
    int* row = new int[2 * (a + 1)];
    row[0] = 0;
    row[1] = a;
    for (int j = 0; j < a; ++j) {
      row[2 * (j + 1)] = 1;
      row[2 * (j + 1) + 1] = static_cast<int>(paths[j].size()) - 1;
    }
    pathState[i] = row;
  }
}

void myGraph::buildLinkInfo() {
  // Every edge is listed under both ends, so exactly m positions pass u < v.
  linkInfo = new int*[adjacency.size() / 2];
  numLinks = 0;
  const int n = static_cast<int>(nodeStart.size()) - 1;
  for (int u = 0; u < n - 1; ++u) {
    for (int j = nodeStart[u]; j < nodeStart[u + 1]; ++j) {
      const int v = adjacency[j];
      if (!(u < v)) continue;
      int* record = new int[2 * static_cast<std::size_t>(numPaths) + 3];
      linkInfo[numLinks++] = record;
      int linkPathsCount = 0;
      collectLinkPaths(u, v, linkPathsCount, numLinks);
      record[0] = linkPathsCount;
      record[1] = u;
      record[2] = v;
      if (linkPathsCount == 0) {
        delete[] record;
        --numLinks;
        continue;
      }
      int* trimmed = new int[2 * linkPathsCount + 3];
      std::memcpy(trimmed, record, sizeof(int) * (2 * linkPathsCount + 3));
      delete[] record;
      linkInfo[numLinks - 1] = trimmed;
    }
  }
}

void myGraph::collectLinkPaths(int u, int v, int& count, int recordCount) {
  int* record = linkInfo[recordCount - 1];
  for (std::size_t i = 0; i < terminalPairs.size(); ++i) {
    const auto& paths = terminalPairs[i].paths;
    for (std::size_t j = 0; j < paths.size(); ++j) {
      const auto& path = paths[j];
      for (std::size_t k = 0; k + 1 < path.size(); ++k) {
        const int a = path[k], b = path[k + 1];
        if (!((a == u && b == v) || (a == v && b == u))) continue;
        if (path.size() == 2 && count != 0) {
          // A one-edge path joins its pair as soon as the edge works: its
          // membership goes first, the one it displaces goes last.
          record[3 + 2 * count] = record[3];
          record[4 + 2 * count] = record[4];
          ++count;
          record[3] = static_cast<int>(i);
          record[4] = static_cast<int>(j);
        } else {
          record[3 + 2 * count] = static_cast<int>(i);
          record[4 + 2 * count] = static_cast<int>(j);
          ++count;
        }
      }
    }
  }
}

int** myGraph::copyPathState(int** state) const {
  const std::size_t pairs = terminalPairs.size();
  int** copy = new int*[pairs];
  for (std::size_t i = 0; i < pairs; ++i) {
    if (state[i][0] == 1) {
      copy[i] = new int[1]{1};
      continue;
    }
    const std::size_t ints = 2 * (terminalPairs[i].paths.size() + 1);
    copy[i] = new int[ints];
    std::memcpy(copy[i], state[i], sizeof(int) * ints);
  }
  return copy;
}

void myGraph::releasePathState(int** state) const {
  for (std::size_t i = 0; i < terminalPairs.size(); ++i)
    delete[] state[i];
  delete[] state;
}

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
      for (int k = 3; k < 3 + 2 * ri[0] && same; ++k)
        same = ri[k] == rj[k];
      if (!same) continue;
      // The two edges only ever matter together: one decision for both.
      for (int k = 0; k < ri[0]; ++k)
        pathState[ri[3 + 2 * k]][2 * (ri[4 + 2 * k] + 1) + 1] -= 1;
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
    while (key(order[i]) > key(pivot))
      ++i;
    while (key(order[j]) < key(pivot))
      --j;
    if (i <= j) {
      std::swap(order[i], order[j]);
      ++i;
      --j;
    }
  } while (i < j);
  if (lo < j) sortLinks(order, lo, j);
  if (i < hi) sortLinks(order, i, hi);
}

double myGraph::computeReliability() {
  findAllPaths();
  buildPathState();
  buildLinkInfo();
  prepareLinks(true, true);
  reliability = 0.0;
  upperBound = 1.0;
  belowThreshold = false;
  int** root = copyPathState(pathState);
  factor(root, 0, 0, 1.0, linkProb);
  releasePathState(root);
  return belowThreshold ? -1.0 : reliability;
}

void myGraph::factor(int** state, int connected, int pos, double prob, double* probs) {
  if (threshold > upperBound) {
    belowThreshold = true;
    return;
  }
  int** copy = copyPathState(state);
  double* probsCopy = new double[numLinks];
  if (numLinks > 0) std::memcpy(probsCopy, probs, sizeof(double) * numLinks);
  linkWorks(state, connected, pos, prob, probs);
  linkFails(copy, connected, pos, prob, probsCopy);
  releasePathState(copy);
  delete[] probsCopy;
}

bool myGraph::chooseLink(int& pos, const double* probs) const {
  const int n = numLinks;
  if (pos == n) return false;
  int e = linkOrder[pos];
  while (pos < n - 1 && (linkInfo[e][0] == -1 || probs[e] == -1.0))
    e = linkOrder[++pos];
  return !(linkInfo[e][0] == -1 || probs[e] == -1.0);
}

void myGraph::linkWorks(int** state, int connected, int pos, double prob, double* probs) {
  if (!chooseLink(pos, probs)) return;
  const int e = linkOrder[pos];
  const int* rec = linkInfo[e];
  prob = prob * probs[e];
  for (int k = 0; k < rec[0]; ++k) {
    int* row = state[rec[3 + 2 * k]];
    const int entry = 2 * (rec[4 + 2 * k] + 1);
    if (row[0] != 0) continue;
    if (row[entry] != 1) continue;
    if (--row[entry + 1] != 0) continue;
    row[0] = 1;
    if (++connected == target()) {
      reliability += prob * 1.0;
      return;
    }
  }
  factor(state, connected, pos + 1, prob, probs);
}

void myGraph::linkFails(int** state, int connected, int pos, double prob, double* probs) {
  if (!chooseLink(pos, probs)) return;
  const int e = linkOrder[pos];
  const int* rec = linkInfo[e];
  prob = (1.0 - probs[e]) * prob;
  for (int k = 0; k < rec[0]; ++k) {
    int* row = state[rec[3 + 2 * k]];
    const int entry = 2 * (rec[4 + 2 * k] + 1);
    if (row[0] != 0) continue;
    if (row[entry] == 1) {
      row[entry] = 0;
      if (--row[1] == 0) {
        upperBound -= prob;
        return;
      }
    }
  }
  factor(state, connected, pos + 1, prob, probs);
}

}  // namespace reference
