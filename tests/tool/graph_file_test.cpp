// dcr-tool solve --graph: every GML network of the shared collection, with
// terminals named by label, against its numbered edge-list twin. The twin
// merges parallel links, so its edge carries 1 - (1 - p)^k for k cables.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <deque>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "netfile/network_file.hpp"
#include "tests/tool/tool_test_support.hpp"

namespace {

using namespace tooltest;

nlohmann::json solveJson(const TempDir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), "solve");
  for (const char* extra : {"--exact", "--fraction", "--format", "json"})
    args.push_back(extra);
  const Ran r = run(dir.path(), DCR_TOOL_BIN, args);
  EXPECT_EQ(r.status, 0) << r.err;
  return nlohmann::json::parse(r.out, nullptr, false);
}

// "0.9", "0.99", ...: 1 - (1/10)^k.
std::string nines(int k) {
  return std::string("0.").append(static_cast<std::size_t>(k), '9');
}

TEST(GraphFile, EveryZooNetworkAgreesWithItsTwin) {
  const std::filesystem::path shared = DCR_SHARED_NETWORKS;
  if (!std::filesystem::is_directory(shared)) GTEST_SKIP() << "no " << shared;
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(shared)) {
    if (entry.path().extension() != ".gml") continue;
    auto twin = entry.path();
    twin.replace_extension(".edges");
    if (!std::filesystem::exists(twin)) continue;
    netfile::Network net;
    ASSERT_EQ(netfile::readNetwork(entry.path().string(), net), "") << entry.path();
    const int n = static_cast<int>(net.labels.size());
    std::map<std::pair<int, int>, int> cables;
    std::vector<std::vector<int>> adj(n);
    for (const auto& l : net.links)
      if (l.u != l.v) {
        ++cables[{l.u, l.v}];
        adj[l.u].push_back(l.v), adj[l.v].push_back(l.u);
      }
    // Node 0 and the node farthest from it, two hops of slack.
    std::vector<int> dist(n, INT_MAX);
    std::deque<int> queue{0};
    dist[0] = 0;
    int far = 0;
    while (!queue.empty()) {
      const int v = queue.front();
      queue.pop_front();
      if (dist[v] > dist[far]) far = v;
      for (int w : adj[v])
        if (dist[w] == INT_MAX) dist[w] = dist[v] + 1, queue.push_back(w);
    }
    const std::string D = std::to_string(dist[far] + 2);
    auto name = [&](int v) {
      const bool unique = std::count(net.labels.begin(), net.labels.end(), net.labels[v]) == 1 &&
                          net.labels[v].find(',') == std::string::npos;
      return unique ? net.labels[v] : std::string("#").append(std::to_string(v));
    };
    // The twin's edges with the probability of the cables each stands for.
    std::istringstream lines(readFile(twin));
    std::string weighted;
    for (std::string line; std::getline(lines, line);) {
      int u = 0, v = 0;
      if (line.empty() || line[0] == '#' || std::sscanf(line.c_str(), "%d %d", &u, &v) != 2)
        continue;
      const int k = cables[{std::min(u, v), std::max(u, v)}];
      ASSERT_GT(k, 0) << twin << ": " << line;
      weighted += line + " " + nines(k) + "\n";
    }
    TempDir dir;
    writeFile(dir / "twin.edges", weighted);
    const auto fromGraph = solveJson(dir, {"--graph", entry.path().string(), "--terminals",
                                           name(0) + "," + name(far), "-D", D, "--p", "0.9"});
    const auto fromTwin = solveJson(dir, {"--edges", (dir / "twin.edges").string(), "--terminals",
                                          "0," + std::to_string(far), "-D", D});
    EXPECT_EQ(fromGraph["fraction"], fromTwin["fraction"]) << entry.path();
    // Without parallel links, make-input writes the twin's problem file.
    if (net.links.size() == cables.size()) {
      const std::vector<std::string> common = {
          "--terminals", name(0) + "," + name(far), "-D", D, "--p", "0.9", "--threshold", "0.5"};
      std::vector<std::string> a = {"make-input", "--graph", entry.path().string()};
      std::vector<std::string> b = {"make-input", twin.string(), "--terminals",
                                    "0," + std::to_string(far)};
      a.insert(a.end(), common.begin(), common.end());
      b.insert(b.end(), common.begin() + 2, common.end());
      const std::string written = run(dir.path(), DCR_TOOL_BIN, a).out;
      EXPECT_FALSE(written.empty()) << entry.path();
      EXPECT_EQ(written, run(dir.path(), DCR_TOOL_BIN, b).out) << entry.path();
    }
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

// Files are data: a malformed one is refused with its line, unknown and
// ambiguous labels with what went wrong, and a link without a probability
// asks for --p.
TEST(GraphFile, RefusesWhatItCannotUse) {
  TempDir dir;
  writeFile(dir / "net.gml",
            "graph [\n node [ id 0 label \"A\" ]\n node [ id 1 label \"B\" ]\n"
            " node [ id 2 label \"B\" ]\n edge [ source 0 target 1 p 0.5 ]\n"
            " edge [ source 1 target 2 ]\n]\n");
  writeFile(dir / "bad.gml", "graph [\n node [ id 0 ]\n edge [ source 0 target 7 ]\n]\n");
  const std::string net = (dir / "net.gml").string();
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string says;
  } cases[] = {
      {{"--graph", (dir / "bad.gml").string(), "--terminals", "all", "-D", "2", "--p", "0.9"},
       3,
       "line"},
      {{"--graph", net, "--terminals", "A,Z", "-D", "2", "--p", "0.9"}, 64, "Z"},
      {{"--graph", net, "--terminals", "A,B", "-D", "2", "--p", "0.9"}, 64, "ambiguous"},
      {{"--graph", net, "--terminals", "A,#2", "-D", "2", "--p-attribute", "p"}, 64, "--p"},
      {{"--graph", (dir / "none.gml").string(), "--terminals", "all", "-D", "2"}, 1, "cannot read"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "solve");
    const Ran r = run(dir.path(), DCR_TOOL_BIN, args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
  // Given --p for the rest, the attribute's 0.5 stays: A - B at 0.5, B - B' at 0.9.
  const auto j = solveJson(
      dir, {"--graph", net, "--terminals", "A,#2", "-D", "2", "--p-attribute", "p", "--p", "0.9"});
  EXPECT_EQ(j["fraction"], "9/20");
}

}  // namespace
