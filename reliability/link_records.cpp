// Path-state tables and link records (layouts in graph/my_graph.hpp).
#include <algorithm>
#include <cstdint>

#include "graph/my_graph.hpp"

namespace {

// Undirected edge number of a directed node pair, by open addressing on the
// packed pair. Edges are numbered like the records: by lower end, then by
// the lower end's neighbour-list order.
class edgeIndex {
 public:
  explicit edgeIndex(std::size_t directedEdges) {
    std::size_t capacity = 16;
    while (capacity < 2 * directedEdges)
      capacity *= 2;
    keys_.assign(capacity, kEmpty);
    values_.assign(capacity, -1);
    mask_ = capacity - 1;
  }
  void insert(int a, int b, int edge) {
    std::size_t h = slot(pack(a, b));
    while (keys_[h] != kEmpty)
      h = (h + 1) & mask_;
    keys_[h] = pack(a, b);
    values_[h] = edge;
  }
  int find(int a, int b) const {
    const std::uint64_t key = pack(a, b);
    for (std::size_t h = slot(key);; h = (h + 1) & mask_) {
      if (keys_[h] == key) return values_[h];
      if (keys_[h] == kEmpty) return -1;
    }
  }

 private:
  static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
  static std::uint64_t pack(int a, int b) {
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(a)) << 32) |
           static_cast<std::uint32_t>(b);
  }
  std::size_t slot(std::uint64_t key) const {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 20) & mask_;
  }
  std::vector<std::uint64_t> keys_;
  std::vector<int> values_;
  std::size_t mask_ = 0;
};

}  // namespace

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
  const int n = static_cast<int>(nodeStart.size()) - 1;
  edgeIndex index(adjacency.size());
  std::vector<int> lowEnd, highEnd;
  for (int u = 0; u < n - 1; ++u) {
    for (int j = nodeStart[u]; j < nodeStart[u + 1]; ++j) {
      const int v = adjacency[j];
      if (!(u < v)) continue;
      const int edge = static_cast<int>(lowEnd.size());
      index.insert(u, v, edge);
      index.insert(v, u, edge);
      lowEnd.push_back(u);
      highEnd.push_back(v);
    }
  }
  const std::size_t edges = lowEnd.size();

  // The edge numbers of path j's steps. Paths come in depth-first order, so
  // a path mostly shares a long first part with the one before it: the
  // steps within that shared part keep the numbers already found.
  std::vector<int> stepEdge;
  auto edgesOf = [&](const pathList& paths, std::size_t j) {
    const std::span<const int> path = paths[j];
    if (stepEdge.size() < path.size()) stepEdge.resize(path.size());
    const std::size_t same = paths.shared(j);
    for (std::size_t k = same == 0 ? 0 : same - 1; k + 1 < path.size(); ++k)
      stepEdge[k] = index.find(path[k], path[k + 1]);
    return stepEdge.data();
  };

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

std::vector<int> myGraph::copyPathState(const std::vector<int>& state) const {
  return state;
}
