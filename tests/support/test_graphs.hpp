// Small networks for the tests: hand-made ones, and seeded random ones that
// come out the same on every platform.
//
// Only std::mt19937's raw output is used: its sequence is fixed by the
// language, whereas the library's distributions and std::shuffle are free
// to differ between implementations, which would change the graphs.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace testnet {

using Edges = std::vector<std::pair<int, int>>;

// A network in the constructor's form: n + 1 offsets, 2m neighbour numbers
// counted from 1, n terminal flags.
struct Net {
  int n = 0;
  Edges edges;  // 0-based, each once
  std::vector<int> offsets, neighbours, flags;
  int m() const { return static_cast<int>(edges.size()); }
};

// Each node lists its neighbours in the order its edges appear in `edges`.
inline Net makeNet(int n, const Edges& edges, const std::vector<int>& terminals) {
  std::vector<std::vector<int>> lists(n);
  for (auto [a, b] : edges) {
    lists[a].push_back(b);
    lists[b].push_back(a);
  }
  Net net;
  net.n = n;
  net.edges = edges;
  net.flags.assign(n, 0);
  for (int t : terminals)
    net.flags[t] = 1;
  net.offsets.push_back(0);
  for (const auto& l : lists) {
    for (int w : l)
      net.neighbours.push_back(w + 1);
    net.offsets.push_back(static_cast<int>(net.neighbours.size()));
  }
  return net;
}

// A problem file for `net`, one list a line, a comma after every element.
inline std::string problemText(const Net& net, int D, double p, double threshold) {
  std::ostringstream out;
  out.precision(17);
  out << net.n << ' ' << net.m() << '\n';
  for (const auto* list : {&net.offsets, &net.neighbours, &net.flags}) {
    for (int v : *list)
      out << v << ',';
    out << '\n';
  }
  out << D << '\n' << p << '\n' << threshold << '\n';
  return out.str();
}

inline Edges pathEdges(int n) {
  Edges e;
  for (int i = 0; i + 1 < n; ++i)
    e.emplace_back(i, i + 1);
  return e;
}

inline Edges cycleEdges(int n) {
  Edges e = pathEdges(n);
  e.emplace_back(n - 1, 0);
  return e;
}

inline Edges gridEdges(int rows, int cols) {
  Edges e;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) {
      const int v = r * cols + c;
      if (c + 1 < cols) e.emplace_back(v, v + 1);
      if (r + 1 < rows) e.emplace_back(v, v + cols);
    }
  return e;
}

inline Edges completeEdges(int n) {
  Edges e;
  for (int a = 0; a < n; ++a)
    for (int b = a + 1; b < n; ++b)
      e.emplace_back(a, b);
  return e;
}

class Rng {
 public:
  explicit Rng(std::uint32_t seed) : gen_(seed) {}
  // Uniform enough on [0, n) for test generation; n >= 1.
  int below(int n) { return static_cast<int>(gen_() % static_cast<std::uint32_t>(n)); }
  int between(int lo, int hi) { return lo + below(hi - lo + 1); }
  bool chance(int percent) { return below(100) < percent; }
  double unit() { return gen_() / 4294967296.0; }  // [0, 1)
  template <class T>
  void shuffle(std::vector<T>& v) {
    for (int i = static_cast<int>(v.size()) - 1; i > 0; --i)
      std::swap(v[i], v[below(i + 1)]);
  }

 private:
  std::mt19937 gen_;
};

// A random problem: a grid, a complete graph, a cycle or a random graph
// (sparse or dense, with or without a spanning tree) of at most `maxEdges`
// edges, nodes relabelled at random, shuffled neighbour orders, 2..n
// terminals, non-terminal flags 0, 2 or -1, and D from -1 to `maxD`. The
// threshold is left at -1 (never cuts off) for the caller to set.
struct Case {
  Net net;
  int D = -1;
  double p = 0.5;
  double threshold = -1.0;
};

inline Edges randomEdges(Rng& rng, int n, int m, bool tree) {
  std::vector<std::vector<char>> used(n, std::vector<char>(n, 0));
  Edges chosen;
  auto add = [&](int a, int b) {
    used[a][b] = used[b][a] = 1;
    chosen.emplace_back(a, b);
  };
  if (tree)
    for (int v = 1; v < n; ++v)
      add(rng.below(v), v);
  Edges rest;
  for (auto [a, b] : completeEdges(n))
    if (!used[a][b]) rest.emplace_back(a, b);
  rng.shuffle(rest);
  for (std::size_t i = 0; i < rest.size() && static_cast<int>(chosen.size()) < m; ++i)
    add(rest[i].first, rest[i].second);
  return chosen;
}

inline Case randomCase(Rng& rng, int maxEdges, int maxD) {
  int n = 2;
  Edges edges;
  switch (rng.below(5)) {
    case 0: {  // grid
      int rows, cols;
      do {
        rows = rng.between(1, 4);
        cols = rng.between(2, 5);
      } while (rows * (cols - 1) + cols * (rows - 1) > maxEdges);
      n = rows * cols;
      edges = gridEdges(rows, cols);
      break;
    }
    case 1:  // complete
      do
        n = rng.between(2, 6);
      while (n * (n - 1) / 2 > maxEdges);
      edges = completeEdges(n);
      break;
    case 2:  // cycle
      n = rng.between(3, std::min(12, maxEdges));
      edges = cycleEdges(n);
      break;
    case 3:  // connected, mostly sparse
      n = rng.between(2, 9);
      edges = randomEdges(rng, n, std::min(maxEdges, n - 1 + rng.below(n + 2)), true);
      break;
    default:  // anything, possibly disconnected
      n = rng.between(2, 8);
      edges = randomEdges(rng, n, rng.between(0, std::min(maxEdges, n * (n - 1) / 2)), false);
      break;
  }
  std::vector<int> label(n);
  for (int i = 0; i < n; ++i)
    label[i] = i;
  rng.shuffle(label);
  for (auto& [a, b] : edges) {
    a = label[a];
    b = label[b];
    if (rng.chance(50)) std::swap(a, b);
  }
  rng.shuffle(edges);

  std::vector<int> nodes(label);
  rng.shuffle(nodes);
  nodes.resize(rng.between(2, n));
  Case c;
  c.net = makeNet(n, edges, nodes);
  static const int kOtherFlags[] = {0, 0, 2, -1};
  for (int& f : c.net.flags)
    if (f != 1) f = kOtherFlags[rng.below(4)];
  c.D = rng.between(-1, maxD);
  static const double kProbs[] = {0.0, 0.1, 0.3, 0.5, 0.75, 0.9, 0.95, 1.0};
  c.p = rng.chance(40) ? kProbs[rng.below(8)] : rng.unit();
  return c;
}

// Runs a whole computation on `net` with the engine `Graph` (the program's
// or the reference).
template <class Graph>
double reliabilityOf(const Net& net, int D, double p, double threshold) {
  Graph g(net.offsets.data(), net.neighbours.data(), net.flags.data(), net.n, net.m(), D, p,
          threshold);
  return g.computeReliability();
}

}  // namespace testnet
