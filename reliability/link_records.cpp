// Path-state tables and link records (layouts in graph/my_graph.hpp).
#include <cstring>

#include "graph/my_graph.hpp"

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
  for (std::size_t i = 0; i < terminalPairs.size(); ++i) delete[] state[i];
  delete[] state;
}
