#include "driver/tool/checks.hpp"

#include "driver/tool/text.hpp"

namespace {

// Up to kListed node numbers, then how many more.
std::string nodeList(const std::vector<std::string>& items) {
  constexpr std::size_t kListed = 10;
  std::string out;
  for (std::size_t i = 0; i < items.size() && i < kListed; ++i)
    out += (i ? ", " : "") + items[i];
  if (items.size() > kListed) out += " and " + std::to_string(items.size() - kListed) + " more";
  return out;
}

// "node 4" or "3 nodes: 4, 7, 9".
std::string counted(const std::vector<std::string>& items, const std::string& one,
                    const std::string& many) {
  if (items.size() == 1) return one + " " + items[0];
  return std::to_string(items.size()) + " " + many + " (" + nodeList(items) + ")";
}

// The C library's white space, as scanf skips it.
bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::vector<std::string> problemWarnings(const Problem& problem, int base, bool edgeListBase) {
  std::vector<std::string> out;
  const auto number = [base](int node) { return std::to_string(node + base); };
  // An edge list read from 0 whose node 0 has no edge was most likely
  // numbered from 1: said once, with the way out, instead of in the list.
  const bool baseHint = edgeListBase && base == 0 && problem.N > 0 && problem.KAO[1] == 0;
  std::vector<std::string> isolated, bareTerminals, oddFlags, terminals;
  for (int i = 0; i < problem.N; ++i) {
    const bool terminal = problem.TERMINALS[i] == 1;
    const bool noEdge = problem.KAO[i + 1] == problem.KAO[i];
    if (terminal) terminals.push_back(number(i));
    if (noEdge && !(baseHint && i == 0)) (terminal ? bareTerminals : isolated).push_back(number(i));
    if (problem.TERMINALS[i] != 0 && !terminal)
      oddFlags.push_back(number(i) + " has " + std::to_string(problem.TERMINALS[i]));
  }
  if (!isolated.empty())
    out.push_back(counted(isolated, "node", "nodes") + " without any edge (isolated)");
  if (baseHint) {
    out.push_back(
        "node 0 has no edge: with --base 0 that usually means the edge list counts from 1; "
        "if so, give --base 1");
  }
  if (!bareTerminals.empty() && terminals.size() >= 2) {
    out.push_back(counted(bareTerminals, "terminal", "terminals") +
                  " without any edge: no path can reach it, so the reliability is 0");
  }
  if (!oddFlags.empty()) {
    out.push_back("terminal flags other than 0 and 1: node " + nodeList(oddFlags) +
                  "; only 1 marks a terminal, so " +
                  (oddFlags.size() == 1 ? "this node is not one" : "these nodes are not"));
  }
  if (terminals.size() < 2) {
    out.push_back((terminals.empty() ? std::string("no terminal")
                                     : "only one terminal (node " + terminals[0] + ")") +
                  ": with fewer than two terminals the reliability is reported as 0");
  }
  return out;
}

std::string trailingTextWarning(std::string_view text, std::size_t end) {
  std::size_t start = end;
  while (start < text.size() && isBlank(text[start]))
    ++start;
  if (start == text.size()) return "";
  std::size_t line = 1;
  for (std::size_t i = 0; i < start; ++i)
    line += text[i] == '\n';
  constexpr std::size_t kShown = 40;
  std::string_view rest = text.substr(start);
  while (isBlank(rest.back()))
    rest.remove_suffix(1);
  std::string out = "line " + std::to_string(line) + ": text after the threshold is ignored: '" +
                    printable(rest.substr(0, kShown)) + "'";
  if (rest.size() > kShown) out += "... (" + std::to_string(rest.size()) + " bytes)";
  return out;
}
