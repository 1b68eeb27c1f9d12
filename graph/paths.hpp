// Enumeration of every simple path of at most D edges between two nodes:
// depth first, neighbours in list order, with one path buffer and one
// neighbour cursor per path position instead of recursion (a path may run
// through all n nodes when there is no limit).
#pragma once

#include <algorithm>
#include <climits>
#include <cstddef>
#include <vector>

// Buffers reused from one pair to the next; sized by forEachPath.
struct pathScratch {
  std::vector<char> onPath;
  std::vector<int> path, cursor;
  std::vector<int> hops, reached;  // hop limit only: distances to the target
};

// Calls store(path, nodes, kept) for every simple path s = path[0], ...,
// path[nodes - 1] = t of at most `maxHops` edges (negative: no limit), in
// depth-first order over the lists (`start` has n + 1 offsets into `adj`,
// 0-based neighbours). `kept` is how many first nodes the path shares for
// certain with the one stored before it for this pair (0 for the first).
// With a hop limit a partial path whose last node cannot reach t within the
// hops left is not extended: the paths and their order stay the same.
// `poll()` is called every 16384 steps of the walk, which can be long
// between two paths (without a hop limit, most partial paths never reach
// t); it may throw to stop the walk.
template <class Store, class Poll>
void forEachPath(const int* start, const int* adj, int n, int s, int t, int maxHops, pathScratch& w,
                 Store&& store, Poll&& poll) {
  // A negative limit converts to a huge unsigned bound: no limit.
  const std::size_t maxNodes = static_cast<std::size_t>(static_cast<unsigned>(maxHops));
  // A one-node path is extended only while it has fewer than D edges.
  if (!(1 <= maxNodes)) return;
  // A simple path has at most n nodes; the buffers hold one more for t.
  const std::size_t room = static_cast<std::size_t>(n > 0 ? n : 0) + 1;
  const bool limited = maxHops >= 0;
  if (w.onPath.size() < room) {
    w.onPath.assign(room, 0);
    w.path.assign(room, 0);
    w.cursor.assign(room, 0);
    w.hops.clear();
    w.reached.clear();
  }
  if (limited && w.hops.size() < room) {
    w.hops.assign(room, INT_MAX);
    w.reached.clear();
  }
  int* const path = w.path.data();
  int* const cursor = w.cursor.data();
  char* const on = w.onPath.data();
  if (limited) {
    // hops[v]: the distance from v to t when it is below D, else INT_MAX.
    int* const hops = w.hops.data();
    for (int v : w.reached)
      hops[v] = INT_MAX;
    w.reached.assign(1, t);
    hops[t] = 0;
    for (std::size_t k = 0; k < w.reached.size(); ++k) {
      const int v = w.reached[k];
      if (hops[v] + 1 >= maxHops) break;
      for (int e = start[v]; e < start[v + 1]; ++e) {
        const int x = adj[e];
        if (hops[x] != INT_MAX) continue;
        hops[x] = hops[v] + 1;
        w.reached.push_back(x);
      }
    }
  }
  const int* const hops = limited ? w.hops.data() : nullptr;
  // path[0 .. d] is the partial path; it is extended while it has fewer
  // than maxNodes nodes.
  std::size_t d = 0;
  std::size_t kept = 0;  // first nodes unchanged since the last path found
  path[0] = s;
  cursor[0] = start[s];
  on[s] = 1;
  auto found = [&](std::size_t nodes) {
    store(static_cast<const int*>(path), nodes, std::min(kept, nodes - 1));
    kept = nodes - 1;
  };
  for (unsigned steps = 1;; ++steps) {
    if ((steps & 0x3FFF) == 0) poll();
    const int c = path[d];
    if (cursor[d] == start[c + 1]) {
      on[c] = 0;
      if (d == 0) break;
      kept = std::min(kept, d);
      --d;
      continue;
    }
    const int x = adj[cursor[d]++];
    if (on[x]) continue;
    if (x == t) {
      path[d + 1] = t;
      found(d + 2);
    } else if (d + 2 <= maxNodes && (!limited || hops[x] <= maxHops - static_cast<int>(d) - 1)) {
      path[d + 1] = x;
      if (limited && d + 3 > maxNodes) {
        // Only t can follow x, and the hops say it is x's neighbour: the
        // one path through x is stored here, as a step into x would store
        // it before leaving x, without scanning x's neighbours.
        path[d + 2] = t;
        found(d + 3);
        kept = d + 1;
        continue;
      }
      on[x] = 1;
      cursor[++d] = start[x];
    }
  }
}
