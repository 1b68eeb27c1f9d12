#include "tests/fuzz/netfile_harness.hpp"

#include <cctype>
#include <charconv>
#include <set>
#include <string_view>
#include <vector>

#include "netfile/network_file.hpp"

namespace {

std::string trimmed(const std::string& s) {
  const std::size_t first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

bool oneLine(const std::string& m) {
  return !m.empty() && m.find('\n') == std::string::npos;
}

// A reader's message: one line, and when it starts with a place, "line N: "
// with N from 1.
std::string checkMessage(const std::string& m) {
  if (!oneLine(m)) return "message empty or over several lines: " + m;
  if (m.rfind("line ", 0) != 0) return "";
  unsigned long long line = 0;
  const auto [ptr, ec] = std::from_chars(m.data() + 5, m.data() + m.size(), line);
  if (ec != std::errc{} || line == 0 || std::string_view(ptr).substr(0, 2) != ": ")
    return "message does not start \"line N: \": " + m;
  return "";
}

std::string checkTerminals(const netfile::Network& net) {
  const int n = static_cast<int>(net.labels.size());
  std::vector<int> nodes;
  if (!netfile::resolveTerminals(net, "all", nodes).empty() || static_cast<int>(nodes.size()) != n)
    return "\"all\" does not give every node";
  for (int v = 0; v < n; ++v)
    if (nodes[static_cast<std::size_t>(v)] != v) return "\"all\" out of order";
  for (int v = 0; v < n && v < 3; ++v) {
    if (netfile::resolveTerminals(net, "#" + std::to_string(v), nodes) != "" ||
        nodes != std::vector{v})
      return "#" + std::to_string(v) + " does not name node " + std::to_string(v);
    // A label may itself read as a list ("a,b"), as all, or as an index.
    const std::string label = trimmed(net.labels[static_cast<std::size_t>(v)]);
    if (label.empty() || label.find(',') != std::string::npos || label == "all" || label[0] == '#')
      continue;
    const std::string m = netfile::resolveTerminals(net, label, nodes);
    if (!m.empty()) {
      if (!oneLine(m)) return "terminal message over several lines: " + m;
      continue;
    }
    if (nodes.size() != 1) return "a label names " + std::to_string(nodes.size()) + " nodes";
    if (trimmed(net.labels[static_cast<std::size_t>(nodes[0])]) != label)
      return "label '" + label + "' names a node labelled otherwise";
  }
  if (netfile::resolveTerminals(net, "#" + std::to_string(n), nodes).empty())
    return "an index past the last node accepted";
  return "";
}

std::string checkProbabilities(const netfile::Network& net) {
  std::set<std::string> names;
  for (const auto& link : net.links)
    for (const auto& [name, value] : link.attributes)
      if (names.size() < 4) names.insert(name);
  std::vector<std::optional<std::string>> p;
  for (const std::string& name : names) {
    const std::string m = netfile::linkProbabilities(net, name, p);
    if (p.size() != net.links.size()) return "one probability per link expected";
    if (!m.empty()) {
      if (!oneLine(m)) return "probability message over several lines: " + m;
      continue;
    }
    for (const auto& text : p) {
      if (!text) continue;
      // What passed must read as a number in [0, 1] (to the double).
      std::string_view t = *text;
      if (!t.empty() && t[0] == '+') t.remove_prefix(1);
      double x = -1;
      const auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), x);
      if (ptr != t.data() + t.size() || (ec == std::errc{} && !(x >= 0 && x <= 1)))
        return "probability '" + *text + "' passed for " + name;
    }
  }
  return "";
}

}  // namespace

std::string checkNetfileInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  netfile::Network net;
  const std::string m = netfile::readNetworkText(text, net);
  if (!m.empty()) {
    if (!net.labels.empty() || !net.links.empty()) return "a failed read left a network";
    return checkMessage(m);
  }
  const std::size_t n = net.labels.size();
  for (const std::string& label : net.labels)
    if (label.empty()) return "empty label";
  for (const auto& link : net.links)
    if (link.u < 0 || link.u > link.v || static_cast<std::size_t>(link.v) >= n)
      return "link ends out of order or range";
  for (const std::string& w : net.warnings)
    if (!oneLine(w)) return "warning empty or over several lines";
  if (std::string e = checkTerminals(net); !e.empty()) return e;
  return checkProbabilities(net);
}
