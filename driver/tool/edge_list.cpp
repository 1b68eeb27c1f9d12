#include "driver/tool/edge_list.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <unordered_map>

#include "graph/adjacency.hpp"

namespace {

bool isBlank(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Splits on blanks and, when `commas`, on commas too; empty pieces dropped.
std::vector<std::string_view> tokens(std::string_view text, bool commas) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (isBlank(text[i]) || (commas && text[i] == ',')))
      ++i;
    const std::size_t start = i;
    while (i < text.size() && !isBlank(text[i]) && !(commas && text[i] == ','))
      ++i;
    if (i > start) out.push_back(text.substr(start, i - start));
  }
  return out;
}

std::string quoted(std::string_view s) {
  constexpr std::size_t kShown = 40;
  std::string out = "'";
  out.append(s.substr(0, kShown));
  if (s.size() > kShown) out += "...";
  return out + "'";
}

// A node number as written: digits only, so "-1" and "1.0" are rejected
// rather than read as something the user did not mean.
std::string readNode(std::string_view token, int base, int nodes, int& node) {
  const bool digits = !token.empty() && std::all_of(token.begin(), token.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
  });
  if (!digits) return quoted(token) + " is not a node number";
  long long v = 0;
  for (char c : token) {
    v = v * 10 + (c - '0');
    if (v > INT_MAX) return "node number " + quoted(token) + " is too large";
  }
  if (v < base) {
    return "node " + std::string(token) + " is below the first node number " +
           std::to_string(base) + " (--base " + std::to_string(base) + ")";
  }
  const long long zeroBased = v - base;
  if (zeroBased >= INT_MAX) return "node number " + quoted(token) + " is too large";
  if (nodes >= 0 && zeroBased >= nodes) {
    if (nodes == 0) return "node " + std::string(token) + " does not exist; --nodes 0 allows none";
    return "node " + std::string(token) + " does not exist; --nodes " + std::to_string(nodes) +
           " allows " + std::to_string(base) + " to " + std::to_string(nodes - 1 + base);
  }
  node = static_cast<int>(zeroBased);
  return "";
}

std::uint64_t edgeKey(int u, int v) {
  if (u > v) std::swap(u, v);
  return (static_cast<std::uint64_t>(static_cast<unsigned>(u)) << 32) | static_cast<unsigned>(v);
}

void appendInt(std::string& out, long long v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

}  // namespace

std::string parseEdgeList(std::string_view text, int base, int nodes, EdgeList& out) {
  out = EdgeList{};
  std::unordered_map<std::uint64_t, int> lineOf;  // edge -> line it was first given on
  if (nodes > kMaxNodes)
    return "--nodes " + std::to_string(nodes) + " is more than " + std::to_string(kMaxNodes);
  int largest = -1;
  int largestLine = 0;
  std::string largestText;
  int line = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    ++line;
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view content = text.substr(pos, end - pos);
    pos = end + 1;
    if (const std::size_t hash = content.find('#'); hash != std::string_view::npos)
      content = content.substr(0, hash);
    const auto words = tokens(content, false);
    if (words.empty()) continue;
    const std::string at = "line " + std::to_string(line) + ": ";
    if (words.size() != 2) {
      return at + "expected two node numbers \"u v\", found " + std::to_string(words.size()) +
             (words.size() == 1 ? " value" : " values");
    }
    Edge e;
    e.line = line;
    if (std::string bad = readNode(words[0], base, nodes, e.u); !bad.empty()) return at + bad;
    if (std::string bad = readNode(words[1], base, nodes, e.v); !bad.empty()) return at + bad;
    if (e.u == e.v)
      return at + "node " + std::string(words[0]) + " is joined to itself (a self loop)";
    const auto [it, fresh] = lineOf.emplace(edgeKey(e.u, e.v), line);
    if (!fresh) {
      return at + "edge " + std::string(words[0]) + " " + std::string(words[1]) +
             " repeats the edge on line " + std::to_string(it->second);
    }
    for (int k = 0; k < 2; ++k) {
      if ((k == 0 ? e.u : e.v) > largest) {
        largest = k == 0 ? e.u : e.v;
        largestLine = line;
        largestText = words[k];
      }
    }
    out.edges.push_back(e);
  }
  if (nodes >= 0) {
    out.nodes = nodes;
  } else if (largest < 0) {
    return "the edge list has no edges; give --nodes for a network without any";
  } else {
    // Checked only now that the edge count is known; nothing so far was
    // sized by a node number.
    const long long need = static_cast<long long>(largest) + 1;
    const long long allowed = 2LL * static_cast<long long>(out.edges.size()) + kSpareNodes;
    if (need > allowed || need > kMaxNodes) {
      std::string message = "line " + std::to_string(largestLine) + ": node " + largestText +
                            " is far beyond what " + std::to_string(out.edges.size()) +
                            (out.edges.size() == 1 ? " edge" : " edges") +
                            " can join, so it is probably a typo; ";
      if (need > kMaxNodes)
        return message + "networks of more than " + std::to_string(kMaxNodes) +
               " nodes are not supported";
      return message + "if the network really has " + std::to_string(need) +
             " nodes (all but a few isolated), give --nodes " + std::to_string(need);
    }
    out.nodes = static_cast<int>(need);
  }
  return "";
}

std::string parseTerminals(std::string_view text, int base, int nodes, std::vector<int>& flags) {
  flags.assign(static_cast<std::size_t>(std::max(nodes, 0)), 0);
  if (text == "all") {
    std::fill(flags.begin(), flags.end(), 1);
    return "";
  }
  const auto words = tokens(text, true);
  if (words.empty()) return "no node given (a list like 0,3,5 or \"all\")";
  for (std::string_view w : words) {
    int node = 0;
    if (std::string bad = readNode(w, base, -1, node); !bad.empty()) return bad;
    if (node >= nodes) {
      return "node " + std::string(w) + " does not exist; the network has nodes " +
             std::to_string(base) + " to " + std::to_string(nodes - 1 + base);
    }
    if (flags[node] == 1) return "node " + std::string(w) + " is listed twice";
    flags[node] = 1;
  }
  return "";
}

std::string makeProblem(const EdgeList& list, const std::vector<int>& flags, int D, double p,
                        double threshold, Problem& out) {
  if (list.edges.size() > static_cast<std::size_t>(INT_MAX / 2))
    return "too many edges: dcr counts the neighbour list (two entries an edge) in an int";
  out = Problem{};
  out.N = list.nodes;
  out.M = static_cast<int>(list.edges.size());
  std::vector<std::pair<int, int>> ends;
  for (const Edge& e : list.edges)
    ends.emplace_back(e.u, e.v);
  adjacencyLists lists = adjacencyOf(list.nodes, ends);
  out.KAO = std::move(lists.offsets);
  out.FO = std::move(lists.neighbours);
  out.TERMINALS = flags;
  out.D = D;
  out.R = p;
  out.R0 = threshold;
  return "";
}

std::string problemText(const Problem& problem) {
  std::string out;
  out.reserve(16 + 8 * (problem.KAO.size() + problem.FO.size()) + 2 * problem.TERMINALS.size());
  auto list = [&out](const std::vector<int>& values) {
    for (int v : values) {
      appendInt(out, v);
      out += ',';
    }
    out += '\n';
  };
  appendInt(out, problem.N);
  out += ' ';
  appendInt(out, problem.M);
  out += '\n';
  list(problem.KAO);
  list(problem.FO);
  list(problem.TERMINALS);
  appendInt(out, problem.D);
  out += ' ' + shortestText(problem.R) + ' ' + shortestText(problem.R0) + '\n';
  return out;
}

EdgeList edgesOf(const Problem& problem) {
  EdgeList list;
  list.nodes = problem.N;
  list.edges.reserve(static_cast<std::size_t>(problem.M));
  for (int u = 0; u < problem.N; ++u) {
    for (int k = problem.KAO[u]; k < problem.KAO[u + 1]; ++k) {
      const int v = problem.FO[k] - 1;
      if (u < v) list.edges.push_back(Edge{u, v, 0});
    }
  }
  return list;
}

std::string shortestText(double value) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

bool parseDouble(std::string_view text, double& value) {
  if (text.empty() || isBlank(text.front())) return false;
  const std::string copy(text);
  char* end = nullptr;
  const double v = std::strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size() || !std::isfinite(v)) return false;
  value = v;
  return true;
}

bool parseInt(std::string_view text, int& value) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+') return false;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  return r.ec == std::errc{} && r.ptr == text.data() + text.size();
}
