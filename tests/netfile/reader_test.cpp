// The reader on real files, on a networkx GraphML file, on odd but valid
// files and on broken ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <utility>

#include "netfile/network_file.hpp"

namespace fs = std::filesystem;
using netfile::Network;

namespace {

using Pairs = std::vector<std::pair<int, int>>;

// What an edge-list twin holds: its labels and its links as (u < v) pairs,
// sorted, parallel links merged, self-loops dropped.
struct Twin {
  std::vector<std::string> labels;
  Pairs links;
};

// "# 3 Seattle (id 3)", or "# 10 [Zoo hyperedge pseudo-node] (id 10)" for a
// node whose label is empty (the reader gives its id instead): the label.
std::optional<std::string> twinLabel(const std::string& line, std::size_t index) {
  const std::string head = "# " + std::to_string(index) + " ";
  if (line.rfind(head, 0) != 0) return std::nullopt;
  std::string label = line.substr(head.size()), id;
  if (const std::size_t at = label.rfind(" (id "); at != std::string::npos && label.back() == ')') {
    id = label.substr(at + 5, label.size() - at - 6);
    label.erase(at);
  }
  const std::string marker = "[Zoo hyperedge pseudo-node]";
  if (label.size() >= marker.size() &&
      label.compare(label.size() - marker.size(), marker.size(), marker) == 0) {
    label.erase(label.size() - marker.size());
    if (!label.empty() && label.back() == ' ') label.pop_back();
  }
  return label.empty() ? id : label;
}

Twin readTwin(const fs::path& file) {
  Twin twin;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    if (auto label = twinLabel(line, twin.labels.size())) {
      twin.labels.push_back(*label);
    } else if (!line.empty() && line[0] != '#') {
      std::istringstream words(line);
      int u = 0, v = 0;
      words >> u >> v;
      twin.links.emplace_back(std::min(u, v), std::max(u, v));
    }
  }
  std::sort(twin.links.begin(), twin.links.end());
  return twin;
}

Pairs mergedLinks(const Network& net) {
  Pairs links;
  for (const auto& link : net.links)
    if (link.u != link.v) links.emplace_back(link.u, link.v);
  std::sort(links.begin(), links.end());
  links.erase(std::unique(links.begin(), links.end()), links.end());
  return links;
}

TEST(NetfileReader, ZooFilesMatchTheirEdgeListTwins) {
  const fs::path dir = NETFILE_SHARED_NETWORKS;
  if (!fs::is_directory(dir)) GTEST_SKIP() << dir << " is not there";
  int files = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() != ".gml") continue;
    SCOPED_TRACE(entry.path().filename().string());
    ++files;
    Network net;
    ASSERT_EQ(netfile::readNetwork(entry.path().string(), net), "");
    fs::path twinPath = entry.path();
    const Twin twin = readTwin(twinPath.replace_extension(".edges"));
    EXPECT_EQ(net.labels, twin.labels);
    EXPECT_EQ(mergedLinks(net), twin.links);
  }
  EXPECT_GT(files, 0);
}

// tests/netfile/data/networkx.graphml was written by networkx 3.6 with:
//   G = nx.MultiGraph()
//   G.add_edge("New York", "Chicago", p=0.9)
//   G.add_edge("New York", "Chicago", p=0.95)
//   G.add_edge("Chicago", "Boston", p=1)
//   G.add_edge("Boston", "Boston")
//   G.add_edge("Boston", 7, p="0.99")
//   G.add_node("n5", label="Zürich")
//   G.add_edge(7, "n5", name="backup")
//   nx.write_graphml(G, "networkx.graphml")
// networkx gives "p" one GraphML key per value type (double, long, string):
// all three must be read.
TEST(NetfileReader, NetworkxGraphml) {
  Network net;
  ASSERT_EQ(netfile::readNetwork(std::string(NETFILE_TEST_DATA) + "/networkx.graphml", net), "");
  EXPECT_EQ(net.labels, (std::vector<std::string>{"New York", "Chicago", "Boston", "7", "Zürich"}));
  Pairs ends;
  for (const auto& link : net.links)
    ends.emplace_back(link.u, link.v);
  EXPECT_EQ(ends, (Pairs{{0, 1}, {0, 1}, {1, 2}, {2, 2}, {2, 3}, {3, 4}}));
  EXPECT_EQ(net.links[5].attributes.at("name"), "backup");
  std::vector<std::optional<std::string>> p;
  ASSERT_EQ(netfile::linkProbabilities(net, "p", p), "");
  EXPECT_EQ(p, (std::vector<std::optional<std::string>>{"0.9", "0.95", "1", std::nullopt, "0.99",
                                                        std::nullopt}));
  EXPECT_TRUE(net.warnings.empty());
}

// Valid files with something unusual, and what the reader makes of them.
TEST(NetfileReader, OddButValidFiles) {
  struct Case {
    const char* text;
    std::vector<std::string> labels;
    Pairs links;
  };
  const Case cases[] = {
      // A directed graph is read as undirected, ends in order; an id far
      // beyond the file's size costs nothing; labels repeat; a self-loop
      // and parallel links stay.
      {"graph [ directed 1\n node [ id 2000000000 label \"A\" ] node [ id -5 label \"A\" ]\n"
       " edge [ source 2000000000 target -5 ] edge [ source -5 target 2000000000 ]\n"
       " edge [ source -5 target -5 ] ]",
       {"A", "A"},
       {{0, 1}, {0, 1}, {1, 1}}},
      // No label, an empty one, a numeric one, no id at all.
      {"graph [ node [ id 4 ] node [ id 5 label \"\" ] node [ id 6 label 12 ] node [ ] ]",
       {"4", "5", "12", "3"},
       {}},
      // A byte-order mark; a link to a node that no <node> declares (igraph
      // adds it); a GraphML file may be directed.
      {"\xEF\xBB\xBF<?xml version=\"1.0\"?><graphml><graph edgedefault=\"directed\">"
       "<node id=\"b\"/><node id=\"a\"/><edge source=\"a\" target=\"b\"/>"
       "<edge source=\"a\" target=\"z\"/></graph></graphml>",
       {"b", "a", "z"},
       {{0, 1}, {1, 2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Network net;
    ASSERT_EQ(netfile::readNetworkText(c.text, net), "");
    EXPECT_EQ(net.labels, c.labels);
    Pairs ends;
    for (const auto& link : net.links)
      ends.emplace_back(link.u, link.v);
    EXPECT_EQ(ends, c.links);
  }
}

// A file where every node has an attribute name of its own: igraph would
// give each node a cell for every name.
std::string quadratic(bool graphml) {
  std::string text = graphml ? "<graphml>" : "graph [\n";
  for (int i = 0; i < 3000; ++i) {
    const std::string k = std::to_string(i);
    text += graphml ? "<key id=\"k" + k + "\" for=\"node\" attr.name=\"a" + k + "\"/>\n"
                    : " node [ id " + k + " a" + k + " \"x\" ]\n";
  }
  if (!graphml) return text + "]\n";
  text += "<graph>";
  for (int i = 0; i < 3000; ++i)
    text += "<node id=\"" + std::to_string(i) + "\"/>\n";
  return text + "</graph></graphml>";
}

// Each broken file gives one line, "line N: ..." where the parser knows N,
// leaves the network empty, and prints nothing.
TEST(NetfileReader, BrokenFiles) {
  struct Case {
    std::string text;
    int line;  // 0: the message has no line number
    const char* says;
  };
  const Case cases[] = {
      {"", 0, "empty"},
      {" \n\t\n", 0, "empty"},
      {std::string("\0\x01\xff\xfe junk", 9), 1, "syntax error"},
      {"node [ id 0 ]", 0, "no 'graph'"},
      {"graph [\n node [ id 0 ]\n edge [ source 0 target 5 ]\n]", 3, "unknown target"},
      {"graph [\n node [ id 0 ]\n node [ id 0 ]\n]", 3, "duplicate node id"},
      {"graph [\n node [ id 99999999999999999999999 ]\n]", 2, "non-integer node id"},
      {"graph [\n node [ id 0 ]\n\n edge [ source 0 target 0 p 1e400 ]\n]", 4, "real number"},
      {"graph [\n x [ [ [ ]", 2, "syntax error"},
      {"graph [ node [ id 0 ]", 1, "syntax error"},
      {"<?xml version=\"1.0\"?>\n<graphml>\n<graph>\n<node id=\"a\">\n</graph></graphml>", 5,
       "mismatch"},
      {"<graphml><graph><node/></graph></graphml>", 0, "missing id"},
      {"<graphml><key id=\"k\" for=\"edge\" attr.name=\"p\" attr.type=\"double\"/><graph>"
       "<edge source=\"a\" target=\"b\"><data key=\"k\">high</data></edge></graph></graphml>",
       0, "unexpected character"},
      {"<?xml version=\"1.0\"?>\n<network><nodes/></network>", 0, "no graphml <graph> element"},
      {"<?xml version=\"1.0\"?>\n<!DOCTYPE x [ <!ENTITY e SYSTEM \"file:///etc/hostname\"> ]>\n"
       "<graphml><graph><node id=\"&e;\"/></graph></graphml>",
       3, "external entity"},
      {quadratic(false), 0, "refusing to read"},
      {quadratic(true), 0, "refusing to read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 120));
    Network net;
    net.labels = {"left over"};
    testing::internal::CaptureStderr();
    std::string m = netfile::readNetworkText(c.text, net);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(m.find('\n'), std::string::npos) << m;
    const std::string place = c.line ? "line " + std::to_string(c.line) + ": " : "";
    EXPECT_EQ(m.substr(0, place.size()), place) << m;
    if (!c.line) {
      EXPECT_NE(m.substr(0, 5), "line ") << m;
    }
    std::transform(m.begin(), m.end(), m.begin(),
                   [](unsigned char ch) { return std::tolower(ch); });
    EXPECT_NE(m.find(c.says), std::string::npos) << m;
    EXPECT_TRUE(net.labels.empty() && net.links.empty());
  }
  Network net;
  EXPECT_NE(netfile::readNetwork("/nonexistent/net.gml", net).find("cannot open"),
            std::string::npos);
  EXPECT_NE(netfile::readNetwork("/tmp", net).find("directory"), std::string::npos);
}

}  // namespace
