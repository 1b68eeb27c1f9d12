// Terminals by name and probabilities by attribute.
#include <gtest/gtest.h>

#include "netfile/network_file.hpp"

namespace {

using netfile::Network;
using Texts = std::vector<std::optional<std::string>>;

Network read(const char* text) {
  Network net;
  EXPECT_EQ(netfile::readNetworkText(text, net), "");
  return net;
}

TEST(NetfileLookup, Terminals) {
  const Network net = read(R"(graph [
    node [ id 10 label "New York" ]
    node [ id 11 label "Chicago" ]
    node [ id 12 label "Chicago" ]
    node [ id 13 label "all" ]
    node [ id 14 label "Washington, DC" ]
    node [ id 15 label "#1" ]
    node [ id 16 label " Boston " ]
  ])");
  struct Case {
    const char* list;
    std::vector<int> nodes;
    std::vector<const char*> says;  // for an error: parts of its message
  };
  const Case cases[] = {
      {"all", {0, 1, 2, 3, 4, 5, 6}, {}},
      {" New York , Boston ", {0, 6}, {}},
      {"Boston,#2,New York", {6, 2, 0}, {}},
      {"#3", {3}, {}},  // the node labelled "all"
      {"#1", {1}, {}},  // an index, though a label reads "#1"
      {"#5", {5}, {}},
      {"Chicago", {}, {"'Chicago' is ambiguous", "2 nodes", "#1, #2"}},
      {"Chicgo", {}, {"no node is labelled 'Chicgo'", "did you mean 'Chicago'?"}},
      {"new york", {}, {"did you mean 'New York'?"}},
      {"Washington", {}, {"did you mean 'Washington, DC'?"}},
      {"Zanzibar", {}, {"no node is labelled 'Zanzibar'"}},
      {"#7", {}, {"#7: no such node", "#0 to #6"}},
      {"#99999999999999999999999", {}, {"no such node"}},
      {"New York,#0", {}, {"'#0' names node #0 a second time"}},
      {"New York,,Boston", {}, {"empty name"}},
      {"Boston,", {}, {"empty name"}},
      {"", {}, {"no node named"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    std::vector<int> nodes{42};
    const std::string m = netfile::resolveTerminals(net, c.list, nodes);
    EXPECT_EQ(nodes, c.nodes);
    EXPECT_EQ(m.empty(), c.says.empty()) << m;
    for (const char* part : c.says)
      EXPECT_NE(m.find(part), std::string::npos) << m;
  }
}

TEST(NetfileLookup, Probabilities) {
  const Network net = read(R"(graph [
    node [ id 0 label "a" ] node [ id 1 label "b" ]
    edge [ source 0 target 1 p 0.9 v "0.90" w "+9e-1" ]
    edge [ source 1 target 0 p 1e-5 ]
    edge [ source 0 target 1 ]
    edge [ source 0 target 1 p 1 ]
    edge [ source 1 target 1 p 0 q "x" r 1.5 s "1.0000000000000000001" t -0.5 u " .95 " ]
  ])");
  struct Case {
    const char* attribute;
    Texts values;
    std::vector<const char*> says;
  };
  const std::nullopt_t none = std::nullopt;
  const Case cases[] = {
      {"p", {"0.9", "0.00001", none, "1", "0"}, {}},
      {"v", {"0.90", none, none, none, none}, {}},
      {"w", {"+9e-1", none, none, none, none}, {}},
      {"u", {none, none, none, none, ".95"}, {}},
      {"q", {}, {"link 4 (b - b): q is 'x', not a number"}},
      {"r", {}, {"link 4 (b - b): r is '1.5', outside [0, 1]"}},
      {"s", {}, {"outside [0, 1]"}},
      {"t", {}, {"'-0.5', outside [0, 1]"}},
      {"P", {}, {"no link has a value for 'P'", "the links have: p, q, r, s, t, u, v, w"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attribute);
    Texts values;
    const std::string m = netfile::linkProbabilities(net, c.attribute, values);
    EXPECT_EQ(m.empty(), c.says.empty()) << m;
    for (const char* part : c.says)
      EXPECT_NE(m.find(part), std::string::npos) << m;
    EXPECT_EQ(values, c.says.empty() ? c.values : Texts(net.links.size()));
  }
  // No links: nothing to look up, nothing wrong.
  Texts values{"x"};
  EXPECT_EQ(netfile::linkProbabilities(read("graph [ node [ id 0 ] ]"), "p", values), "");
  EXPECT_TRUE(values.empty());
}

}  // namespace
