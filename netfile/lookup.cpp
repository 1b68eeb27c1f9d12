// Terminals by name and probabilities by attribute, on a network read from
// a file.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <set>
#include <unordered_map>

#include "netfile/network_file.hpp"
#include "netfile/text.hpp"

namespace netfile {
namespace {

// Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on
// "'" + std::string + "'".
std::string quoted(std::string_view s) {
  std::string out(1, '\'');
  out += oneLine(s);
  out += '\'';
  return out;
}

std::string lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j)
    row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

// Up to three labels a person may have meant: the same but for case, a
// typo or two away, or starting with what was typed.
std::string suggestions(const Network& network, const std::string& name) {
  constexpr std::size_t kLongest = 100;  // longer labels are not compared
  const std::string want = lowered(name);
  if (want.size() > kLongest) return "";
  const std::size_t near = std::max<std::size_t>(1, want.size() / 3);
  std::set<std::pair<std::size_t, std::string>> found;
  std::set<std::string> seen;
  for (const std::string& label : network.labels) {
    const std::string have = lowered(trimmed(label));
    if (have.empty() || have.size() > kLongest || !seen.insert(label).second) continue;
    const std::size_t gap =
        have.size() > want.size() ? have.size() - want.size() : want.size() - have.size();
    std::size_t score = SIZE_MAX;
    if (gap <= near) score = editDistance(want, have);
    if (score > near && have.rfind(want, 0) == 0 && !want.empty()) score = near + 1;
    if (score <= near + 1) found.emplace(score, trimmed(label));
  }
  if (found.empty()) return "";
  std::string text = "; did you mean ";
  std::size_t shown = 0;
  for (const auto& [score, label] : found) {
    if (shown == 3) break;
    text += (shown == 0 ? "" : shown + 1 == std::min<std::size_t>(found.size(), 3) ? " or " : ", ");
    text += quoted(label);
    ++shown;
  }
  return text + "?";
}

// "#N": a node by index. Empty when `name` is not of that form.
std::optional<long long> indexName(std::string_view name) {
  if (name.size() < 2 || name[0] != '#') return std::nullopt;
  for (char c : name.substr(1))
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
  long long n = 0;
  const auto [ptr, ec] = std::from_chars(name.data() + 1, name.data() + name.size(), n);
  return ec == std::errc{} ? n : LLONG_MAX;  // too many digits: no such node either
}

struct DecimalCheck {
  bool isNumber = false;  // digits with an optional sign, point and exponent
  bool inUnit = false;    // exactly within [0, 1]
};

// Decides exactly, on the digits: "1.0000000000000000001" is above 1 even
// though its nearest double is 1.
DecimalCheck checkDecimal(std::string_view t) {
  DecimalCheck r;
  std::size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  std::string digits;
  long long beforePoint = 0;
  while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) {
    digits += t[i++];
    ++beforePoint;
  }
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])))
      digits += t[i++];
  }
  if (digits.empty()) return r;
  long long exponent = 0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    bool down = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) down = t[i++] == '-';
    if (i == t.size()) return r;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) {
      // Past a billion the value is 0 or huge either way.
      exponent = std::min(exponent * 10 + (t[i++] - '0'), 1000000000LL);
    }
    if (down) exponent = -exponent;
  }
  if (i != t.size()) return r;
  r.isNumber = true;
  // The value is 0.D x 10^k with D the digits.
  const std::size_t lead = digits.find_first_not_of('0');
  if (lead == std::string::npos) {
    r.inUnit = true;  // zero, whatever its sign
    return r;
  }
  digits = digits.substr(lead, digits.find_last_not_of('0') - lead + 1);
  const long long k = beforePoint - static_cast<long long>(lead) + exponent;
  r.inUnit = !negative && (k <= 0 || (k == 1 && digits == "1"));
  return r;
}

}  // namespace

std::string resolveTerminals(const Network& network, const std::string& list,
                             std::vector<int>& nodes) {
  nodes.clear();
  const int n = static_cast<int>(network.labels.size());
  if (trimmed(list) == "all") {
    for (int v = 0; v < n; ++v)
      nodes.push_back(v);
    return "";
  }
  if (trimmed(list).empty())
    return "no node named: give labels separated by commas, #N for the node with index N, "
           "or all";
  std::unordered_map<std::string, std::vector<int>> byLabel;
  for (int v = 0; v < n; ++v)
    byLabel[trimmed(network.labels[static_cast<std::size_t>(v)])].push_back(v);
  std::vector<char> taken(static_cast<std::size_t>(n), 0);
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = list.find(',', start);
    const std::string name = trimmed(std::string_view(list).substr(
        start, comma == std::string::npos ? std::string::npos : comma - start));
    int node = -1;
    if (name.empty()) {
      nodes.clear();
      return "an empty name in the list (two commas in a row, or one at an end)";
    }
    if (const auto index = indexName(name)) {
      if (*index >= n) {
        nodes.clear();
        return name + ": no such node; " +
               (n == 0 ? std::string("the network has no nodes")
                       : "the nodes are #0 to #" + std::to_string(n - 1));
      }
      node = static_cast<int>(*index);
    } else {
      const auto found = byLabel.find(name);
      if (found == byLabel.end()) {
        nodes.clear();
        return "no node is labelled " + quoted(name) + suggestions(network, name);
      }
      const std::vector<int>& all = found->second;
      if (all.size() > 1) {
        std::string which;
        for (std::size_t i = 0; i < all.size() && i < 5; ++i)
          which += (i ? ", #" : "#") + std::to_string(all[i]);
        if (all.size() > 5) which += ", ...";
        nodes.clear();
        return quoted(name) + " is ambiguous: " + std::to_string(all.size()) +
               " nodes have this label (" + which + "); name one by its index, as #" +
               std::to_string(all[0]);
      }
      node = all[0];
    }
    if (taken[static_cast<std::size_t>(node)]) {
      nodes.clear();
      return quoted(name) + " names node #" + std::to_string(node) + " a second time";
    }
    taken[static_cast<std::size_t>(node)] = 1;
    nodes.push_back(node);
    if (comma == std::string::npos) return "";
    start = comma + 1;
  }
}

std::string linkProbabilities(const Network& network, const std::string& attribute,
                              std::vector<std::optional<std::string>>& out) {
  out.assign(network.links.size(), std::nullopt);
  bool any = false;
  for (std::size_t i = 0; i < network.links.size(); ++i) {
    const Network::Link& link = network.links[i];
    const auto found = link.attributes.find(attribute);
    if (found == link.attributes.end()) continue;
    const std::string text = trimmed(found->second);
    if (text.empty()) continue;
    any = true;
    const DecimalCheck check = checkDecimal(text);
    if (!check.isNumber || !check.inUnit) {
      auto label = [&network](int v) {
        return v >= 0 && static_cast<std::size_t>(v) < network.labels.size()
                   ? oneLine(network.labels[static_cast<std::size_t>(v)])
                   : std::string(1, '#').append(std::to_string(v));
      };
      const bool infinite = text == "inf" || text == "-inf";
      out.assign(network.links.size(), std::nullopt);
      return "link " + std::to_string(i) + " (" + label(link.u) + " - " + label(link.v) +
             "): " + oneLine(attribute) + " is " + quoted(text) +
             (check.isNumber || infinite ? ", outside [0, 1]" : ", not a number");
    }
    out[i] = check.isNumber && text[0] == '-' ? std::string("0") : text;
  }
  if (any || network.links.empty()) return "";
  std::set<std::string> names;
  for (const Network::Link& link : network.links)
    for (const auto& [name, value] : link.attributes)
      names.insert(name);
  std::string known;
  for (const std::string& name : names) {
    if (known.size() > 200) {
      known += ", ...";
      break;
    }
    known += (known.empty() ? "" : ", ") + oneLine(name);
  }
  out.assign(network.links.size(), std::nullopt);
  return "no link has a value for " + quoted(attribute) +
         (known.empty() ? "; the links have no attributes" : "; the links have: " + known);
}

}  // namespace netfile
