// Independent oracle for the frontier tests: every one of the 2^m edge
// states, a hop-bounded breadth-first search from each terminal, exact
// sums. Written without any of the engine's ideas (no frontier, no states).
#pragma once

#include <gmpxx.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "frontier/frontier.hpp"
#include "tests/frontier/problems.hpp"

namespace frontier_test {

// Numerators over a common denominator fit 128 bits: at most 16 edges with
// denominators up to 100 give at most 2^16 * 100^16 < 2^128.
__extension__ typedef unsigned __int128 Wide;

inline mpz_class toMpz(Wide x) {
  mpz_class hi = static_cast<unsigned long>(static_cast<std::uint64_t>(x >> 64));
  mpz_class lo = static_cast<unsigned long>(static_cast<std::uint64_t>(x));
  return (hi << 64) + lo;
}

// Whether every two terminals are within D hops over the edges in `mask`
// (n <= 32 nodes).
inline bool meets(const frontier::Problem& pr, std::uint32_t mask) {
  std::vector<std::uint32_t> adj(pr.nodes, 0);
  for (std::size_t e = 0; e < pr.edges.size(); ++e)
    if (mask >> e & 1) {
      adj[pr.edges[e].first] |= 1u << pr.edges[e].second;
      adj[pr.edges[e].second] |= 1u << pr.edges[e].first;
    }
  std::uint32_t want = 0;
  for (int t : pr.terminals)
    want |= 1u << t;
  const int hops = pr.maxHops < 0 ? pr.nodes : pr.maxHops;
  for (int t : pr.terminals) {
    std::uint32_t reach = 1u << t;
    for (int h = 0; h < hops; ++h) {
      std::uint32_t grown = reach;
      for (int v = 0; v < pr.nodes; ++v)
        if (reach >> v & 1) grown |= adj[v];
      if (grown == reach) break;
      reach = grown;
    }
    if ((reach & want) != want) return false;
  }
  return true;
}

// Exact reliability with edge e working with probability num[e] / den[e].
inline mpq_class bruteReliability(const frontier::Problem& pr, const std::vector<int>& num,
                                  const std::vector<int>& den) {
  const int m = static_cast<int>(pr.edges.size());
  Wide sum = 0;
  std::vector<Wide> weight(std::size_t{1} << m);
  weight[0] = 1;
  for (int e = 0; e < m; ++e)
    weight[0] *= static_cast<Wide>(den[e] - num[e]);
  // weight[mask] from weight[mask without its top bit], one edge switched on.
  for (std::uint32_t mask = 1; mask < (1u << m); ++mask) {
    const int top = 31 - __builtin_clz(mask);
    const Wide off = static_cast<Wide>(den[top] - num[top]);
    if (off != 0) {
      weight[mask] = weight[mask ^ (1u << top)] / off * static_cast<Wide>(num[top]);
    } else {  // edge `top` always works: no factor to divide out
      Wide w = 1;
      for (int e = 0; e < m; ++e)
        w *= static_cast<Wide>(mask >> e & 1 ? num[e] : den[e] - num[e]);
      weight[mask] = w;
    }
  }
  Wide total = 1;
  for (int e = 0; e < m; ++e)
    total *= static_cast<Wide>(den[e]);
  for (std::uint32_t mask = 0; mask < (1u << m); ++mask)
    if (weight[mask] != 0 && meets(pr, mask)) sum += weight[mask];
  mpq_class r(toMpz(sum), toMpz(total));
  r.canonicalize();
  return r;
}

// counts[k]: working edge sets of size k that meet the hop condition.
inline std::vector<mpz_class> bruteCounts(const frontier::Problem& pr) {
  const int m = static_cast<int>(pr.edges.size());
  std::vector<mpz_class> counts(m + 1, 0);
  for (std::uint32_t mask = 0; mask < (1u << m); ++mask)
    if (meets(pr, mask)) counts[__builtin_popcount(mask)] += 1;
  return counts;
}

// Whether x - err <= exact <= x + err, computed exactly.
inline bool brackets(double x, double err, const mpq_class& exact) {
  return mpq_class(x) - mpq_class(err) <= exact && exact <= mpq_class(x) + mpq_class(err);
}

// A decimal probability "0.d1d2.." as its exact fraction and its two
// correctly rounded doubles p and 1 - p.
struct Decimal {
  mpq_class exact;
  double p, q;
};
inline Decimal decimal(long num, long den) {
  Decimal d{mpq_class(num, den), 0, 0};
  d.exact.canonicalize();
  d.p = d.exact.get_d();  // mpq_get_d truncates; correct it to nearest below
  mpq_class q = 1 - d.exact;
  d.q = q.get_d();
  for (double* x : {&d.p, &d.q}) {
    const mpq_class& want = x == &d.p ? d.exact : q;
    const double next = std::nextafter(*x, 2.0);
    if (mpq_class(next) - want < want - mpq_class(*x)) *x = next;
  }
  return d;
}

// The problem in one line, for failure messages.
inline std::string describe(const frontier::Problem& pr) {
  std::string s = "n=" + std::to_string(pr.nodes) + " D=" + std::to_string(pr.maxHops) + " T=";
  for (int t : pr.terminals)
    s += std::to_string(t) + ",";
  s += " E=";
  for (auto [u, v] : pr.edges)
    s += std::to_string(u) + "-" + std::to_string(v) + " ";
  return s;
}

// A random graph: n nodes, m edges (simple unless `multi`), K terminals.
inline frontier::Problem randomProblem(std::mt19937& rng, int n, int m, int K, int D,
                                       bool multi = false) {
  frontier::Problem pr;
  pr.nodes = n;
  pr.maxHops = D;
  std::vector<std::pair<int, int>> all;
  for (int u = 0; u < n; ++u)
    for (int v = u + 1; v < n; ++v)
      all.push_back({u, v});
  std::shuffle(all.begin(), all.end(), rng);
  for (int e = 0; e < m && e < static_cast<int>(all.size()); ++e) {
    auto edge = all[e];
    if (rng() % 2) std::swap(edge.first, edge.second);
    pr.edges.push_back(edge);
  }
  if (multi && !pr.edges.empty()) {
    pr.edges.push_back(pr.edges[rng() % pr.edges.size()]);
    pr.edges.push_back({static_cast<int>(rng() % n), static_cast<int>(rng() % n)});
  }
  std::vector<int> nodes(n);
  for (int v = 0; v < n; ++v)
    nodes[v] = v;
  std::shuffle(nodes.begin(), nodes.end(), rng);
  pr.terminals.assign(nodes.begin(), nodes.begin() + K);
  return pr;
}

// Round `round` of a mix of every state kind: no limit every fourth round
// (connectivity), all terminals every third (profiles), else few terminals
// at a limit (distances); a parallel edge and a self-loop every fifth.
inline frontier::Problem mixedProblem(std::mt19937& rng, int round) {
  const int n = 4 + static_cast<int>(rng() % 6);
  const int m = n + static_cast<int>(rng() % 8);
  const int K = round % 3 == 0 ? n : 2 + static_cast<int>(rng() % (n - 1));
  const int D = round % 4 == 0 ? -1 : static_cast<int>(rng() % n) + 1;
  return randomProblem(rng, n, m, K, D, round % 5 == 0);
}

}  // namespace frontier_test
