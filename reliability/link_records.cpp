// Path-state tables and link records (layouts in reliability/my_graph.hpp).
#include <algorithm>
#include <cstdint>

#include "reliability/edge_index.hpp"
#include "reliability/my_graph.hpp"

void myGraph::buildPathState() {
  enterStage(stage::pathsFound, stage::pathStateBuilt);
  pathStateStart.assign(terminalPairs.size() + 1, 0);
  std::size_t ints = 0;
  for (std::size_t i = 0; i < terminalPairs.size(); ++i) {
    pathStateStart[i] = ints;
    ints += 2 * (terminalPairs[i].paths.size() + 1);
  }
  pathStateStart[terminalPairs.size()] = ints;
  pathState.assign(ints, 0);
  for (std::size_t i = 0; i < terminalPairs.size(); ++i) {
    const pathList& paths = terminalPairs[i].paths;
    int* row = pathState.data() + pathStateStart[i];
    using R = pathRowView;
    row[R::joinedAt] = 0;
    row[R::alivePathsAt] = static_cast<int>(paths.size());
    for (std::size_t j = 0; j < paths.size(); ++j) {
      row[R::entry(j) + R::aliveAt] = 1;
      row[R::entry(j) + R::edgesLeftAt] = static_cast<int>(paths.edges(j));
    }
  }
}

// One pass over every step of every path, in (pair, path) order, with an
// index from edge to record: each edge's memberships arrive in the same
// order as a scan of all paths for that one edge would find them.
void myGraph::buildLinkInfo() {
  enterStage(stage::pathStateBuilt, stage::linkInfoBuilt);
  const edgeIndex index(nodeStart, adjacency);
  const bigTable<int>& lowEnd = index.lowEnd;
  const bigTable<int>& highEnd = index.highEnd;
  const std::size_t edges = lowEnd.size();

  stepEdges stepper(index);
  auto edgesOf = [&](const pathList& paths, std::size_t j) { return stepper.of(paths, j); };

  // Membership counts, then record numbers for the edges on some path.
  std::vector<int> count(edges, 0);
  for (const pathsBetween2Terminals& pair : terminalPairs) {
    for (std::size_t j = 0; j < pair.paths.size(); ++j) {
      const std::span<const int> path = pair.paths[j];
      const int* edge = edgesOf(pair.paths, j);
      for (std::size_t k = 0; k + 1 < path.size(); ++k)
        ++count[edge[k]];
    }
  }
  std::vector<int> recordOf(edges, -1);
  linkStart.clear();
  std::size_t ints = 0;
  numLinks = 0;
  for (std::size_t e = 0; e < edges; ++e) {
    if (count[e] == 0) continue;
    recordOf[e] = numLinks++;
    linkStart.push_back(ints);
    ints += 3 + 2 * static_cast<std::size_t>(count[e]);
  }
  linkStart.push_back(ints);
  // Every int is written below: the heads here, the memberships after.
  // next[e]: where edge e's next membership goes.
  linkInfo = {};
  linkInfo.resizeForOverwrite(ints);
  std::vector<int*> head(edges, nullptr), next(edges, nullptr);
  for (std::size_t e = 0; e < edges; ++e) {
    if (recordOf[e] < 0) continue;
    int* record = linkInfo.data() + linkStart[recordOf[e]];
    record[linkView::countAt] = count[e];
    record[linkView::lowAt] = lowEnd[e];
    record[linkView::highAt] = highEnd[e];
    head[e] = record;
    next[e] = record + linkView::membersAt;
  }

  // The memberships, in (pair, path) order.
  for (std::size_t i = 0; i < terminalPairs.size(); ++i) {
    const pathList& paths = terminalPairs[i].paths;
    for (std::size_t j = 0; j < paths.size(); ++j) {
      const std::size_t steps = paths.edges(j);
      const int* edge = edgesOf(paths, j);
      for (std::size_t k = 0; k < steps; ++k) {
        int* const record = head[edge[k]];
        int*& slot = next[edge[k]];
        int* const first = record + linkView::membersAt;
        if (steps == 1 && slot != first) {
          // A one-edge path joins its pair as soon as the edge works: its
          // membership goes first, the one it displaces goes last.
          slot[0] = first[0];
          slot[1] = first[1];
          first[0] = static_cast<int>(i);
          first[1] = static_cast<int>(j);
        } else {
          slot[0] = static_cast<int>(i);
          slot[1] = static_cast<int>(j);
        }
        slot += 2;
      }
    }
  }
}

bigTable<int> myGraph::copyPathState(const bigTable<int>& state) const {
  return state;
}
