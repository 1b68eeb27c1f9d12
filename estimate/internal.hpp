// The estimate's building blocks, shared by its sources and its tests: the
// network as the samplers see it, 256-lane bit sets, the bit-parallel up
// test, counter-based random words and the hypoexponential tail.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "estimate/estimate.hpp"

namespace estimate::detail {

constexpr int kLaneWords = 4;
constexpr int kLanes = 64 * kLaneWords;

// One bit per sample (or per candidate prefix): 256 lanes as 4 words, which
// GCC turns into vector operations.
struct Lanes {
  std::uint64_t w[kLaneWords] = {};
  bool any() const { return (w[0] | w[1] | w[2] | w[3]) != 0; }
  int count() const;
  bool test(int lane) const { return (w[lane >> 6] >> (lane & 63)) & 1; }
  void set(int lane) { w[lane >> 6] |= std::uint64_t{1} << (lane & 63); }
  friend bool operator==(const Lanes& a, const Lanes& b) {
    return a.w[0] == b.w[0] && a.w[1] == b.w[1] && a.w[2] == b.w[2] && a.w[3] == b.w[3];
  }
  static Lanes first(int n);  // lanes 0 .. n-1
};

// The network as the samplers need it: adjacency with edge ids (self-loops
// dropped), distinct terminals and the effective hop bound.
struct Graph {
  int nodes = 0, edges = 0;  // edges: as given, ids index the state arrays
  std::vector<int> offsets, neighbour, edgeOf;
  std::vector<int> terminals;
  int hops = 0;                           // rounds of the search: D, or n - 1 without a limit
  bool connectivityOnly = false;          // no binding limit: one search from one terminal suffices
  std::vector<char> selfLoop;             // per edge
  std::vector<std::pair<int, int>> ends;  // per edge
};

// Checks the problem (p ignored) and builds the graph; "" or what is wrong.
std::string buildGraph(const Problem& problem, Graph& graph);

// The up test on 256 samples at once: state[e] holds edge e's working bit
// per lane; returns the lanes of `alive` in which every two terminals are
// within graph.hops working edges. Searches from every terminal but the
// last (one terminal without a binding limit), a frontier of words per
// round, until no lane is left.
class UpTest {
 public:
  explicit UpTest(const Graph& graph);
  Lanes up(const Lanes* state, Lanes alive);

 private:
  const Graph& g_;
  std::vector<Lanes> reach_, front_, next_;
  std::vector<int> frontList_, nextList_, touched_;
};

// The up test on one state, every terminal's search at once: per node a
// bit set of the terminals within r hops, one round per hop over the
// working edges. For a single state and many terminals this is D passes
// over the edges where UpTest makes one search per terminal.
class SourceTest {
 public:
  explicit SourceTest(const Graph& graph);
  // Whether the edges edges[0 .. count) (ids, no self-loops) make the network up.
  bool up(const int* edges, int count);

 private:
  const Graph& g_;
  int words_ = 0;
  std::vector<std::uint64_t> reach_, next_;
};

// splitmix64's finaliser: a bijective mix of 64 bits.
std::uint64_t mix(std::uint64_t x);
// The key of one block's randomness: (seed, stream, block) alone.
std::uint64_t blockKey(std::uint64_t seed, std::uint64_t stream, std::uint64_t block);
// Random word i (i = 0, 1, ...) under a key: a counter-based generator.
inline std::uint64_t randomWord(std::uint64_t key, int i) {
  return mix(key + (static_cast<std::uint64_t>(i) + 1) * 0x9E3779B97F4A7C15ull);
}

// p in fixed point, P = floor(p * 2^64); kOne for p = 1.
struct Threshold {
  std::uint64_t bits = 0;
  bool one = false;
};
Threshold threshold(double p);

// 64 Bernoulli(p) bits: bit j is [U_j < P] where U_j is the 64-bit number
// whose i-th bit from the top is bit j of randomWord(key, i). Compared
// bit-sliced from the top, words drawn only until every lane is decided
// (about 8), so each bit is exactly Bernoulli(P / 2^64).
std::uint64_t bernoulliWord(Threshold p, std::uint64_t key);

// The key of edge e's word w (of kLaneWords) in a block.
inline std::uint64_t edgeKey(std::uint64_t block, int edge, int word) {
  return mix(block ^
             ((static_cast<std::uint64_t>(edge) * kLaneWords + word + 1) * 0xD1B54A32D192ED03ull));
}

// P(X_0 + ... + X_{k-1} > 1) for independent X_i ~ Exp(rates[i]), rates
// positive and finite, in any order; 0 for k = 0.
double hypoexponentialTail(const double* rates, int k);
// All of them at once: out[i - 1] = P(X_0 + ... + X_{i-1} > 1), i = 1 .. k.
void hypoexponentialTails(const double* rates, int k, double* out);

// The standard normal quantile.
double normalQuantile(double probability);

}  // namespace estimate::detail
