#include "tests/fuzz/harness.hpp"

#include <cmath>
#include <cstdio>
#include <string_view>
#include <vector>

#include "driver/answer.hpp"
#include "driver/problem_file.hpp"
#include "reliability/my_graph.hpp"
#include "tests/reference/reference_engine.hpp"

namespace {

// Inputs longer than this are only read, never searched.
constexpr std::size_t kMaxSearchedBytes = 4096;
// Work caps that keep one input well under a second: the enumeration's
// steps, the paths built into tables, and the problems searched by both
// engines (the search is exponential in the links left after folding).
constexpr long long kMaxEnumerationSteps = 200000;
constexpr int kMaxTabledPaths = 5000;
constexpr int kMaxSearchedPaths = 300;
constexpr int kMaxSearchedLinks = 18;
constexpr std::size_t kMemoryLimit = std::size_t{64} << 20;

std::vector<int> terminalsOf(const Problem& p) {
  std::vector<int> t;
  for (int i = 0; i < p.N; ++i)
    if (p.TERMINALS[i] == 1) t.push_back(i);
  return t;
}

// A rejection must be one line that says where: "line L, column C: ...".
std::string checkRejection(const ReadOutcome& r) {
  if (r.error.empty()) return "rejected without a message";
  if (r.error.find('\n') != std::string::npos) return "message spans lines: " + r.error;
  unsigned line = 0, column = 0;
  int used = 0;
  if (std::sscanf(r.error.c_str(), "line %u, column %u: %n", &line, &column, &used) != 2 ||
      used == 0 || line == 0 || column == 0)
    return "message does not start with its place: " + r.error;
  return "";
}

// What the engine relies on: a simple undirected graph in compressed form
// with every edge under both ends, and a probability in [0, 1].
std::string checkAccepted(const Problem& p) {
  const long long n = p.N, twoM = 2LL * p.M;
  if (n < 0 || p.M < 0) return "negative count accepted";
  if (static_cast<long long>(p.KAO.size()) != n + 1 ||
      static_cast<long long>(p.FO.size()) != twoM ||
      static_cast<long long>(p.TERMINALS.size()) != n)
    return "list lengths do not match N and M";
  if (p.KAO.front() != 0 || p.KAO.back() != twoM) return "offsets do not run from 0 to 2M";
  for (long long i = 0; i < n; ++i)
    if (p.KAO[i] > p.KAO[i + 1]) return "offsets decrease";
  std::vector<std::vector<char>> adj;
  const bool small = n <= 512;
  if (small) adj.assign(n, std::vector<char>(n, 0));
  for (long long u = 0; u < n; ++u) {
    for (int k = p.KAO[u]; k < p.KAO[u + 1]; ++k) {
      const int w = p.FO[k];
      if (w < 1 || w > n) return "neighbour number out of range accepted";
      if (w - 1 == u) return "self-loop accepted";
      if (small) {
        if (adj[u][w - 1]) return "neighbour listed twice accepted";
        adj[u][w - 1] = 1;
      }
    }
  }
  if (small)
    for (long long u = 0; u < n; ++u)
      for (long long w = 0; w < n; ++w)
        if (adj[u][w] != adj[w][u]) return "edge listed under one end only accepted";
  if (!(p.R >= 0.0 && p.R <= 1.0)) return "probability outside [0, 1] accepted";
  if (std::isnan(p.R0)) return "NaN threshold accepted";
  return "";
}

// The problem in the plainest layout must read back as the same problem.
std::string checkRoundTrip(const Problem& p) {
  std::string text = std::to_string(p.N) + ' ' + std::to_string(p.M) + '\n';
  auto list = [&text](const std::vector<int>& v) {
    for (int x : v)
      text += std::to_string(x) + ',';
    text += '\n';
  };
  list(p.KAO);
  list(p.FO);
  list(p.TERMINALS);
  char tail[128];
  std::snprintf(tail, sizeof tail, "%d %.17g %.17g\n", p.D, p.R, p.R0);
  text += tail;
  Problem q;
  const ReadOutcome r = readProblem(text, q);
  if (!r.ok) return "plain rewrite rejected: " + r.error;
  const bool same = q.N == p.N && q.M == p.M && q.KAO == p.KAO && q.FO == p.FO &&
                    q.TERMINALS == p.TERMINALS && q.D == p.D && q.R == p.R && (q.R0 == p.R0);
  return same ? "" : "plain rewrite reads as a different problem";
}

// Steps of the engine's depth-first enumeration (neighbour positions looked
// at, plus one per pair), counted until `budget` is passed.
long long enumerationSteps(const Problem& p, long long budget) {
  const std::vector<int> t = terminalsOf(p);
  const long long maxNodes = p.D < 0 ? (1LL << 40) : p.D;
  std::vector<char> onPath(p.N, 0);
  std::vector<int> path, cursor;
  long long steps = 0;
  for (std::size_t i = 0; i + 1 < t.size(); ++i) {
    for (std::size_t j = i + 1; j < t.size(); ++j) {
      if (++steps > budget) return steps;
      if (maxNodes < 1) continue;
      path.assign(1, t[i]);
      cursor.assign(1, p.KAO[t[i]]);
      onPath[t[i]] = 1;
      while (!path.empty()) {
        if (++steps > budget) return steps;
        const int c = path.back();
        if (cursor.back() == p.KAO[c + 1]) {
          onPath[c] = 0;
          path.pop_back();
          cursor.pop_back();
          continue;
        }
        const int w = p.FO[cursor.back()++] - 1;
        if (onPath[w] || w == t[j]) continue;
        if (static_cast<long long>(path.size()) + 1 <= maxNodes) {
          onPath[w] = 1;
          path.push_back(w);
          cursor.push_back(p.KAO[w]);
        }
      }
    }
  }
  return steps;
}

template <class Graph>
Graph make(const Problem& p) {
  return Graph(p.KAO.data(), p.FO.data(), p.TERMINALS.data(), p.N, p.M, p.D, p.R, p.R0);
}

// A full path store must say which pair it stopped at, truthfully.
std::string checkStoreFull(const pathStoreFull& full, const myGraph& g, const std::vector<int>& t) {
  const long long k = static_cast<long long>(t.size());
  if (full.pairIndex < 0 || full.pairIndex >= k * (k - 1) / 2)
    return "pathStoreFull: pair index out of range";
  long long index = 0;
  for (long long i = 0; i + 1 < k; ++i)
    for (long long j = i + 1; j < k; ++j, ++index)
      if (index == full.pairIndex && (full.source != t[i] || full.target != t[j]))
        return "pathStoreFull: terminals do not match the pair index";
  if (full.pathsStored != g.numPaths) return "pathStoreFull: paths stored differs from numPaths";
  return "";
}

std::string checkEngines(const Problem& p) {
  if (enumerationSteps(p, kMaxEnumerationSteps) > kMaxEnumerationSteps) return "";
  const std::vector<int> t = terminalsOf(p);

  myGraph probe = make<myGraph>(p);
  probe.memoryLimit = kMemoryLimit;
  try {
    probe.findAllPaths();
  } catch (const pathStoreFull& full) {
    return checkStoreFull(full, probe, t);
  }
  if (probe.numPaths > kMaxTabledPaths) return "";
  probe.buildPathState();
  probe.buildLinkInfo();
  probe.prepareLinks(true, true);
  int live = 0;
  for (int r = 0; r < probe.numLinks; ++r)
    if (probe.linkRecord(r)[0] != -1 && probe.linkProb[r] != -1.0) ++live;
  if (probe.numPaths > kMaxSearchedPaths || live > kMaxSearchedLinks) return "";

  myGraph fast = make<myGraph>(p);
  fast.memoryLimit = kMemoryLimit;
  const double a = fast.computeReliability();
  reference::myGraph ref = make<reference::myGraph>(p);
  const double b = ref.computeReliability();
  if (probe.numPaths != ref.numPaths || probe.numLinks != ref.numLinks)
    return "engine and reference found different paths or links";
  // The engine answers a threshold above 1 at the root, before any path.
  const bool atRoot = p.R0 > 1.0;
  if (atRoot ? fast.numPaths != 0 || fast.searchSteps != 1
             : fast.numPaths != ref.numPaths || fast.numLinks != ref.numLinks)
    return "the engine's stages differ when run by computeReliability";
  const std::string ta = answerText(a), tb = answerText(b);
  if (ta != tb) return "engine answers \"" + ta + "\", reference \"" + tb + "\"";
  if (a != -1.0 && !(a >= 0.0 && a <= 1.0 + 1e-9)) return "reliability outside [0, 1]: " + ta;
  return "";
}

}  // namespace

std::string checkFuzzInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Problem p;
  const ReadOutcome r = readProblem(text, p);
  if (!r.ok) return checkRejection(r);
  if (std::string e = checkAccepted(p); !e.empty()) return e;
  if (std::string e = checkRoundTrip(p); !e.empty()) return e;
  if (size > kMaxSearchedBytes) return "";
  return checkEngines(p);
}
