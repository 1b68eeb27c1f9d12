// The graph, the bit-parallel up test and the random words.
#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>
#include <string>

#include "estimate/internal.hpp"

namespace estimate::detail {

int Lanes::count() const {
  return std::popcount(w[0]) + std::popcount(w[1]) + std::popcount(w[2]) + std::popcount(w[3]);
}

Lanes Lanes::first(int n) {
  Lanes l;
  for (int i = 0; i < kLaneWords; ++i) {
    int bits = std::clamp(n - 64 * i, 0, 64);
    l.w[i] = bits == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
  }
  return l;
}

namespace {

inline Lanes operator&(const Lanes& a, const Lanes& b) {
  Lanes r;
  for (int i = 0; i < kLaneWords; ++i)
    r.w[i] = a.w[i] & b.w[i];
  return r;
}
inline Lanes andNot(const Lanes& a, const Lanes& b) {  // a & ~b
  Lanes r;
  for (int i = 0; i < kLaneWords; ++i)
    r.w[i] = a.w[i] & ~b.w[i];
  return r;
}
inline void orInto(Lanes& a, const Lanes& b) {
  for (int i = 0; i < kLaneWords; ++i)
    a.w[i] |= b.w[i];
}

}  // namespace

std::string buildGraph(const Problem& problem, Graph& g) {
  const int n = problem.nodes;
  if (n < 0) return "negative node count";
  g = Graph{};
  g.nodes = n;
  g.edges = static_cast<int>(problem.edges.size());
  g.selfLoop.assign(problem.edges.size(), 0);
  g.ends = problem.edges;
  std::vector<int> degree(n + 1, 0);
  for (std::size_t e = 0; e < problem.edges.size(); ++e) {
    auto [u, v] = problem.edges[e];
    if (u < 0 || v < 0 || u >= n || v >= n)
      return "edge " + std::to_string(e) + " has a node out of range";
    if (u == v) {
      g.selfLoop[e] = 1;
      continue;
    }
    ++degree[u];
    ++degree[v];
  }
  g.offsets.assign(n + 1, 0);
  for (int v = 0; v < n; ++v)
    g.offsets[v + 1] = g.offsets[v] + degree[v];
  g.neighbour.resize(g.offsets[n]);
  g.edgeOf.resize(g.offsets[n]);
  std::vector<int> fill(g.offsets.begin(), g.offsets.end() - 1);
  for (std::size_t e = 0; e < problem.edges.size(); ++e) {
    auto [u, v] = problem.edges[e];
    if (u == v) continue;
    g.neighbour[fill[u]] = v;
    g.edgeOf[fill[u]++] = static_cast<int>(e);
    g.neighbour[fill[v]] = u;
    g.edgeOf[fill[v]++] = static_cast<int>(e);
  }
  std::vector<char> seen(n, 0);
  for (int t : problem.terminals) {
    if (t < 0 || t >= n) return "terminal " + std::to_string(t) + " out of range";
    if (!seen[t]) g.terminals.push_back(t);
    seen[t] = 1;
  }
  // A shortest path has at most n - 1 edges, so a larger D cannot bind, and
  // then connection to one terminal is the whole question.
  g.connectivityOnly = problem.maxHops < 0 || problem.maxHops >= n - 1;
  g.hops = g.connectivityOnly ? std::max(n - 1, 0) : problem.maxHops;
  return "";
}

UpTest::UpTest(const Graph& graph)
    : g_(graph), reach_(graph.nodes), front_(graph.nodes), next_(graph.nodes) {}

Lanes UpTest::up(const Lanes* state, Lanes alive) {
  const auto& terms = g_.terminals;
  const int k = static_cast<int>(terms.size());
  if (k < 2) return alive;
  const int sources = g_.connectivityOnly ? 1 : k - 1;
  for (int s = 0; s < sources && alive.any(); ++s) {
    // Breadth-first by rounds: front_ holds, per node, the lanes that first
    // reach it in the last round, so after round r reach_ is "within r hops".
    const int source = terms[s];
    touched_.assign(1, source);
    frontList_.assign(1, source);
    reach_[source] = alive;
    front_[source] = alive;
    for (int round = 0; round < g_.hops && !frontList_.empty(); ++round) {
      nextList_.clear();
      for (int v : frontList_) {
        const Lanes f = front_[v];
        front_[v] = Lanes{};
        for (int a = g_.offsets[v]; a < g_.offsets[v + 1]; ++a) {
          const int w = g_.neighbour[a];
          const Lanes fresh = andNot(f & state[g_.edgeOf[a]], reach_[w]);
          if (!fresh.any()) continue;
          if (!reach_[w].any()) touched_.push_back(w);
          if (!next_[w].any()) nextList_.push_back(w);
          orInto(reach_[w], fresh);
          orInto(next_[w], fresh);
        }
      }
      std::swap(front_, next_);
      std::swap(frontList_, nextList_);
      // Every later terminal reached in every lane: more rounds change nothing.
      Lanes all = alive;
      for (int t = s + 1; t < k; ++t)
        all = all & reach_[terms[t]];
      if (all == alive) break;
    }
    for (int v : frontList_)
      front_[v] = Lanes{};
    for (int t = s + 1; t < k; ++t)
      alive = alive & reach_[terms[t]];
    for (int v : touched_)
      reach_[v] = Lanes{};
  }
  return alive;
}

SourceTest::SourceTest(const Graph& graph)
    : g_(graph), words_((static_cast<int>(graph.terminals.size()) + 63) / 64) {
  reach_.resize(static_cast<std::size_t>(graph.nodes) * words_);
  next_.resize(reach_.size());
}

bool SourceTest::up(const int* edges, int count) {
  const auto& terms = g_.terminals;
  const int k = static_cast<int>(terms.size()), W = words_;
  if (k < 2) return true;
  std::fill(reach_.begin(), reach_.end(), 0);
  for (int i = 0; i < k; ++i)
    reach_[static_cast<std::size_t>(terms[i]) * W + i / 64] |= std::uint64_t{1} << (i % 64);
  // Whether every terminal has every terminal within the rounds so far.
  auto full = [&] {
    for (int t : terms)
      for (int w = 0; w < W; ++w) {
        const int bits = std::min(64, k - 64 * w);
        const std::uint64_t all = bits == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
        if (reach_[static_cast<std::size_t>(t) * W + w] != all) return false;
      }
    return true;
  };
  for (int round = 0; round < g_.hops; ++round) {
    next_ = reach_;
    for (int i = 0; i < count; ++i) {
      const auto [u, v] = g_.ends[edges[i]];
      std::uint64_t* nu = &next_[static_cast<std::size_t>(u) * W];
      std::uint64_t* nv = &next_[static_cast<std::size_t>(v) * W];
      const std::uint64_t* ru = &reach_[static_cast<std::size_t>(u) * W];
      const std::uint64_t* rv = &reach_[static_cast<std::size_t>(v) * W];
      for (int w = 0; w < W; ++w) {
        nu[w] |= rv[w];
        nv[w] |= ru[w];
      }
    }
    if (next_ == reach_) return full();  // no search grows any more
    std::swap(reach_, next_);
    if (full()) return true;
  }
  return full();
}

std::uint64_t mix(std::uint64_t x) {
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  x ^= x >> 31;
  return x;
}

std::uint64_t blockKey(std::uint64_t seed, std::uint64_t stream, std::uint64_t block) {
  return mix(mix(mix(seed + 0x9E3779B97F4A7C15ull) ^ stream) + block * 0x9E3779B97F4A7C15ull);
}

Threshold threshold(double p) {
  Threshold t;
  if (!(p < 1)) {
    t.one = true;
    return t;
  }
  if (!(p > 0)) return t;
  // p * 2^64 is exact (a power-of-two scale); truncation to 64 bits is the
  // generator's resolution.
  t.bits = static_cast<std::uint64_t>(std::ldexp(p, 64));
  return t;
}

std::uint64_t bernoulliWord(Threshold p, std::uint64_t key) {
  if (p.one) return ~std::uint64_t{0};
  std::uint64_t result = 0, undecided = ~std::uint64_t{0};
  for (int i = 0; i < 64 && undecided != 0; ++i) {
    const std::uint64_t rest = p.bits << i;
    if (rest == 0) break;  // P's remaining bits are zero: U_j >= P for the undecided
    const std::uint64_t r = randomWord(key, i);
    if (rest >> 63) {
      result |= undecided & ~r;  // U_j has 0 where P has 1: U_j < P
      undecided &= r;
    } else {
      undecided &= ~r;  // U_j has 1 where P has 0: U_j > P
    }
  }
  return result;
}

double normalQuantile(double probability) {
  // Acklam's rational approximation (relative error 1e-9), then one Newton
  // step on erfc, which brings it to double precision.
  static const double a[] = {-3.969683028665376e+01, 2.209460984245205e+02,  -2.759285104469687e+02,
                             1.383577518672690e+02,  -3.066479806614716e+01, 2.506628277459239e+00};
  static const double b[] = {-5.447609879822406e+01, 1.615858368580409e+02, -1.556989798598866e+02,
                             6.680131188771972e+01, -1.328068155288572e+01};
  static const double c[] = {-7.784894002430293e-03, -3.223964580411365e-01, -2.400758277161838e+00,
                             -2.549732539343734e+00, 4.374664141464968e+00,  2.938163982698783e+00};
  static const double d[] = {7.784695709041462e-03, 3.224671290700398e-01, 2.445134137142996e+00,
                             3.754408661907416e+00};
  const double q0 = std::min(probability, 1 - probability);
  double x;
  if (q0 < 0.02425) {
    double q = std::sqrt(-2 * std::log(q0));
    x = (((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
        ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1);
    if (probability > 0.5) x = -x;
  } else {
    double q = probability - 0.5, r = q * q;
    x = (((((a[0] * r + a[1]) * r + a[2]) * r + a[3]) * r + a[4]) * r + a[5]) * q /
        (((((b[0] * r + b[1]) * r + b[2]) * r + b[3]) * r + b[4]) * r + 1);
  }
  const double e = 0.5 * std::erfc(-x / std::sqrt(2.0)) - probability;
  const double u = e * std::sqrt(2 * std::numbers::pi) * std::exp(x * x / 2);
  return x - u / (1 + x * u / 2);
}

}  // namespace estimate::detail
