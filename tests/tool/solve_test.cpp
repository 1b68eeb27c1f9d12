// dcr-tool solve run as a user runs it: inputs, methods, exact values,
// bounds, JSON, and every kind of bad input.
#include <gmpxx.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <deque>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#if DCR_HAVE_NETFILE
#include "api/numbers.hpp"
#include "netfile/network_file.hpp"
#endif
#include "tests/tool/tool_test_support.hpp"

namespace {

using tooltest::Ran;
using tooltest::readFile;
using tooltest::run;
using tooltest::TempDir;
using tooltest::writeFile;

Ran solve(const TempDir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), "solve");
  return tooltest::run(dir.path(), DCR_TOOL_BIN, args);
}

nlohmann::json solveJson(const TempDir& dir, std::vector<std::string> args) {
  args.push_back("--format");
  args.push_back("json");
  const Ran r = solve(dir, args);
  EXPECT_EQ(r.status, 0) << r.err;
  return nlohmann::json::parse(r.out, nullptr, false);
}

const std::string kDodecahedron = std::string(DCR_EXAMPLES_DIR) + "/dodecahedron/input";

TEST(Solve, JsonHasEveryKeyWithItsType) {
  TempDir dir;
  const auto j = solveJson(dir, {kDodecahedron, "--method", "frontier"});
  ASSERT_FALSE(j.is_discarded());
  for (const char* key : {"reliability", "unreliability", "lower", "upper"})
    EXPECT_TRUE(j[key].is_string()) << key;
  EXPECT_EQ(j["reliability"].get<std::string>().size(), 22u);
  EXPECT_TRUE(j["exact"].is_boolean());
  EXPECT_TRUE(j["error_bound"].is_number());
  EXPECT_EQ(j["method"], "frontier");
  EXPECT_TRUE(j["threshold"].is_number());
  EXPECT_TRUE(j["verdict"] == "above" || j["verdict"] == "below");
  EXPECT_TRUE(j["seconds"].is_number());
  EXPECT_TRUE(j["states"].is_number_unsigned());
  EXPECT_EQ(j["work_unit"], "states");
  EXPECT_FALSE(j.contains("polynomial"));
  // Bounds bracket the value; the value and dcr's are both within their
  // error bounds of the exact one (dcr's long sums drift: here by 1e-12).
  const double r = std::stod(j["reliability"].get<std::string>());
  EXPECT_LE(std::stod(j["lower"].get<std::string>()), r);
  EXPECT_GE(std::stod(j["upper"].get<std::string>()), r);
  const auto x = solveJson(dir, {kDodecahedron, "--exact", "--fraction"});
  const mpq_class exact(x["fraction"].get<std::string>());
  EXPECT_LE(std::abs(r - exact.get_d()), j["error_bound"].get<double>());
  EXPECT_LE(j["error_bound"].get<double>(), 1e-14);
  const auto s = solveJson(dir, {kDodecahedron, "--method", "search"});
  const std::string dcr =
      tooltest::readFile(std::string(DCR_EXAMPLES_DIR) + "/dodecahedron/output");
  ASSERT_EQ(dcr.rfind("YES\r\n", 0), 0u);
  EXPECT_EQ(s["reliability"], dcr.substr(5));
  EXPECT_EQ(s["work_unit"], "search steps");
  EXPECT_LE(std::abs(std::stod(dcr.substr(5)) - exact.get_d()), s["error_bound"].get<double>());
}

TEST(Solve, BothMethodsAndExactAgreeOnTheExamples) {
  for (const char* name : {"triangle", "petersen", "grid4x4", "dodecahedron"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    const std::string file = std::string(DCR_EXAMPLES_DIR) + "/" + name + "/input";
    const auto f = solveJson(dir, {file, "--method", "frontier"});
    const auto s = solveJson(dir, {file, "--method", "search"});
    const auto x = solveJson(dir, {file, "--exact", "--fraction"});
    EXPECT_EQ(s["method"], "search");
    EXPECT_EQ(x["exact"], true);
    const mpq_class exact(x["fraction"].get<std::string>());
    for (const auto& j : {f, s}) {
      const double r = std::stod(j["reliability"].get<std::string>());
      EXPECT_LE(std::abs(r - exact.get_d()), j["error_bound"].get<double>()) << j.dump();
    }
    // The printed bounds hold R itself, digit for digit: cut outward at
    // the 20th decimal (exact ones to neighbouring 20-decimal numbers).
    for (const auto& j : {f, s, x}) {
      mpq_class lo, hi;
      ASSERT_TRUE(parseDecimal(j["lower"].get<std::string>(), lo)) << j.dump();
      ASSERT_TRUE(parseDecimal(j["upper"].get<std::string>(), hi)) << j.dump();
      EXPECT_LE(lo, exact) << j.dump();
      EXPECT_GE(hi, exact) << j.dump();
    }
    mpq_class lo, hi;
    parseDecimal(x["lower"].get<std::string>(), lo);
    parseDecimal(x["upper"].get<std::string>(), hi);
    EXPECT_LE(hi - lo, mpq_class(mpz_class(1), mpz_class("100000000000000000000")));
  }
}

// Closed forms through an edge list with per-edge probabilities: a path
// multiplies, two disjoint routes combine as 1 - (1 - a)(1 - b).
TEST(Solve, EdgeListsWithPerEdgeProbabilitiesAreExact) {
  TempDir dir;
  writeFile(dir / "path.edges", "# a path\n0 1 0.9\n1 2 0.8\n2 3 0.5 # last\n");
  auto j = solveJson(dir, {"--edges", "path.edges", "--terminals", "0,3", "--diameter", "-1",
                           "--exact", "--fraction"});
  EXPECT_EQ(j["fraction"], "9/25");
  EXPECT_EQ(j["reliability"], "0.36000000000000000000");
  EXPECT_EQ(j["method"], "frontier");

  writeFile(dir / "routes.edges", "1 2 0.9\n1 3\n3 2\n");
  j = solveJson(dir, {"--edges", "routes.edges", "--terminals", "1,2", "--diameter", "2", "--p",
                      "0.5", "--base", "1", "--exact", "--fraction"});
  // 1 - (1 - 0.9)(1 - 0.25) = 0.925
  EXPECT_EQ(j["fraction"], "37/40");
  j = solveJson(dir, {"--edges", "routes.edges", "--terminals", "1,2", "--diameter", "1", "--p",
                      "0.5", "--base", "1", "--exact", "--fraction"});
  EXPECT_EQ(j["fraction"], "9/10");
}

TEST(Solve, PolynomialCountsEdgeSets) {
  TempDir dir;
  // The triangle with terminals 0 and 1 at D = 2: of its 3 edges, the sets
  // that join them are {01} plus anything, or {02, 21}: N = 0, 1, 3, 1.
  const std::string triangle = std::string(DCR_EXAMPLES_DIR) + "/triangle/input";
  const auto j = solveJson(dir, {triangle, "--polynomial"});
  ASSERT_TRUE(j["polynomial"].is_array());
  EXPECT_EQ(j["polynomial"], nlohmann::json({"0", "1", "3", "1"}));
}

// A stop before the end still gives bounds that hold, and a verdict only
// when they settle it.
TEST(Solve, StoppedRunsReportBoundsThatBracketTheValue) {
  TempDir dir;
  const auto exact = solveJson(dir, {kDodecahedron, "--exact", "--fraction"});
  const mpq_class value(exact["fraction"].get<std::string>());
  for (std::vector<std::string> extra : {std::vector<std::string>{"--time-limit", "0"},
                                         {"--threshold", "0.5", "--decide"},
                                         {"--threshold", "0.9999", "--decide"},
                                         {"--threshold", "0.5", "--decide", "--exact"},
                                         {"--polynomial", "--time-limit", "0"}}) {
    std::vector<std::string> args{kDodecahedron, "--method", "frontier"};
    args.insert(args.end(), extra.begin(), extra.end());
    const auto j = solveJson(dir, args);
    SCOPED_TRACE(j.dump());
    EXPECT_NE(j["status"], "");
    const double lower = std::stod(j["lower"].get<std::string>());
    const double upper = std::stod(j["upper"].get<std::string>());
    EXPECT_LE(lower, value.get_d() + 1e-15);
    EXPECT_GE(upper, value.get_d() - 1e-15);
    if (j["verdict"].is_string()) {
      EXPECT_EQ(j["verdict"] == "above", value >= mpq_class(j["threshold"].get<double>()));
    }
  }
}

// Verdicts at the edges: a problem file may hold an infinite threshold,
// and an exact R just below the double nearest the threshold is below it
// whether the sweep runs to the end or stops once decided. Answers the
// estimate knows without a sample are answers.
TEST(Solve, VerdictsAtTheEdgesAndAnswersKnownWithoutSampling) {
  TempDir dir;
  writeFile(dir / "inf.in", "3 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n1 0.5 inf\n");
  for (const auto& extra : {std::vector<std::string>{"--exact"}, {"--exact", "--decide"}, {}}) {
    std::vector<std::string> args{"inf.in"};
    args.insert(args.end(), extra.begin(), extra.end());
    EXPECT_EQ(solveJson(dir, args)["verdict"], "below");
  }
  writeFile(dir / "one.edges", "0 1\n");
  for (const char* decide : {"--exact", "--decide"}) {
    const auto j = solveJson(dir, {"--edges", "one.edges", "--terminals", "0,1", "-D", "1", "--p",
                                   "0.1", "--exact", "--threshold", "0.1", decide});
    EXPECT_EQ(j["verdict"], "below") << j.dump();
  }
  writeFile(dir / "half.edges", "0 1 0.5\n");
  writeFile(dir / "sure.edges", "0 1 1\n");
  for (const auto& [file, terminals, value] :
       {std::tuple{"half.edges", "0,2", "0.00000000000000000000"},
        std::tuple{"sure.edges", "0,1", "1.00000000000000000000"}}) {
    const auto j = solveJson(dir, {"--edges", file, "--nodes", "3", "--terminals", terminals, "-D",
                                   "1", "--method", "estimate"});
    EXPECT_EQ(j["status"], "complete") << j.dump();
    EXPECT_EQ(j["reliability"], value) << j.dump();
  }
}

TEST(Solve, BadInputGetsAClearStatus) {
  TempDir dir;
  writeFile(dir / "g.edges", "0 1\n1 2 1.5\n");
  writeFile(dir / "h.edges", "0 1\n1 2 0.9x\n");
  writeFile(dir / "ok.edges", "0 1 0.9\n1 2 0.8\n");
  writeFile(dir / "bad.input", "3 3 0,2,4,6, 2,3,1,3,1,2 oops");
  writeFile(dir / "one.input", "3 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,0,0,\n2 0.5 0.5\n");
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* says;
  };
  const Case cases[] = {
      {{"--edges", "g.edges", "--terminals", "0,2", "--diameter", "2", "--p", "0.5"}, 3, "line 2"},
      {{"--edges", "h.edges", "--terminals", "0,2", "--diameter", "2", "--p", "0.5"}, 3, "line 2"},
      {{"--edges", "g.edges", "--terminals", "0,2", "--diameter", "2"}, 3, "line 2"},
      {{"--edges", "ok.edges", "--terminals", "0,2", "--diameter", "2", "--p", "2"}, 64, "--p"},
      {{"--edges", "ok.edges", "--terminals", "0,2", "--diameter", "0x2"}, 64, "decimal"},
      {{"--edges", "g.edges", "--terminals", "0,2", "--diameter", "2", "--p", "0.5", "--base", "2"},
       64,
       "--base"},
      {{"--edges", "ok.edges", "--terminals", "0,2"}, 64, "--diameter"},
      {{"--edges", "ok.edges", "--terminals", "0,2", "--diameter", "2", "--method", "search"},
       64,
       "one probability"},
      {{"bad.input"}, 3, "line 1"},
      {{"one.input"}, 3, "terminals"},
      {{"missing.input"}, 1, "missing.input"},
      {{"/dev/zero"}, 3, "larger than"},  // endless: read only so far
      {{"one.input", "--edges", "ok.edges"}, 64, ""},
      {{}, 64, ""},
      {{"one.input", "--fraction"}, 64, "--exact"},
      {{"one.input", "--decide", "--threshold", "x"}, 64, "--threshold"},
      {{"one.input", "--time-limit", "-1"}, 64, "--time-limit"},
      {{"one.input", "--method", "magic"}, 64, ""},
      {{"one.input", "--memory-limit", "0"}, 64, "--memory-limit"},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const auto& a : c.args)
      shown += a + ' ';
    SCOPED_TRACE(shown);
    const Ran r = solve(dir, c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
}

// A memory bound the frontier cannot keep: auto falls back to the path
// search and says so; the frontier alone reports the bound and stops.
TEST(Solve, AutoFallsBackWhenTheFrontierOutgrowsItsMemory) {
  TempDir dir;
  const auto j = solveJson(dir, {kDodecahedron, "--memory-limit", "0.001"});
  EXPECT_EQ(j["method"], "search");
  EXPECT_NE(j["reason"].get<std::string>().find("handed over to the path search"),
            std::string::npos)
      << j.dump();
  const auto full = solveJson(dir, {kDodecahedron});
  EXPECT_EQ(full["method"], "frontier");
  EXPECT_NEAR(std::stod(j["reliability"].get<std::string>()),
              std::stod(full["reliability"].get<std::string>()), j["error_bound"].get<double>());

  // Out of time, the frontier hands over too, and the search's answer keeps
  // the frontier's bounds where they are tighter.
  const auto timed = solveJson(dir, {kDodecahedron, "--time-limit", "0.000001"});
  EXPECT_EQ(timed["method"], "search") << timed.dump();
  EXPECT_NE(timed["reason"].get<std::string>().find("% of the time limit"), std::string::npos)
      << timed.dump();
  EXPECT_LE(std::stod(timed["lower"].get<std::string>()),
            std::stod(timed["upper"].get<std::string>()));

  // With nothing to hand over to (exact arithmetic), auto still answers
  // with the bounds proved before the memory ran out.
  const auto exact = solveJson(dir, {kDodecahedron, "--exact", "--memory-limit", "0.001"});
  EXPECT_EQ(exact["status"], "memory limit") << exact.dump();
  EXPECT_LE(std::stod(exact["lower"].get<std::string>()),
            std::stod(exact["upper"].get<std::string>()));

  const Ran r = solve(dir, {kDodecahedron, "--method", "frontier", "--memory-limit", "0.001"});
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.err.find("--memory-limit"), std::string::npos) << r.err;
}

}  // namespace

namespace {

// A frontier sweep reads one diagram per D at every p: each row is the
// closed form of the triangle within its error bound, and the CSV names
// the engine of every row.
TEST(SolveSweep, FrontierRowsAreTheTrueValues) {
  TempDir dir;
  const std::string triangle = std::string(DCR_EXAMPLES_DIR) + "/triangle/input";
  const Ran r =
      tooltest::run(dir.path(), DCR_TOOL_BIN,
                    {"sweep", triangle, "--p", "0:1:0.125", "-D", "1:2", "--method", "frontier"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto rows = tooltest::lines(r.out);
  ASSERT_EQ(rows.size(), 1u + 2 * 9);
  EXPECT_EQ(rows[0], "p,diameter,method,reliability,error_bound,seconds");
  for (std::size_t i = 1; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i]);
    const auto cells = tooltest::split(rows[i], ',');
    ASSERT_EQ(cells.size(), 6u);
    EXPECT_EQ(cells[2], "frontier");
    const double p = std::strtod(cells[0].c_str(), nullptr);
    const int D = std::stoi(cells[1]);
    // Joined directly, or (at D = 2) through node 2 when the direct edge fails.
    const double want = D == 1 ? p : p + (1 - p) * p * p;
    EXPECT_LE(std::abs(std::strtod(cells[3].c_str(), nullptr) - want),
              std::strtod(cells[4].c_str(), nullptr) + 1e-16);
    EXPECT_EQ(cells[3].size(), 22u);
  }
}

}  // namespace

namespace {

// dcr's search on a 5x5 grid at D = 8 runs for many seconds; a time limit
// stops it after its first million steps with bounds that hold.
TEST(Solve, SearchStopsAtItsTimeLimitWithBounds) {
  TempDir dir;
  std::string edges;
  for (int r = 0; r < 5; ++r)
    for (int c = 0; c < 5; ++c) {
      const int v = 5 * r + c;
      if (c < 4) edges += std::to_string(v) + ' ' + std::to_string(v + 1) + '\n';
      if (r < 4) edges += std::to_string(v) + ' ' + std::to_string(v + 5) + '\n';
    }
  writeFile(dir / "grid.edges", edges);
  const std::vector<std::string> problem{"--edges", "grid.edges", "--terminals", "0,24",
                                         "-D",      "8",          "--p",         "0.9"};
  auto args = problem;
  args.insert(args.end(), {"--exact", "--fraction"});
  const mpq_class exact(solveJson(dir, args)["fraction"].get<std::string>());
  args = problem;
  args.insert(args.end(), {"--method", "search", "--time-limit", "0"});
  const auto j = solveJson(dir, args);
  EXPECT_EQ(j["status"], "time limit");
  EXPECT_TRUE(j["reliability"].is_null());
  EXPECT_LE(std::stod(j["lower"].get<std::string>()), exact.get_d());
  EXPECT_GE(std::stod(j["upper"].get<std::string>()), exact.get_d());
  EXPECT_LT(std::stod(j["upper"].get<std::string>()) - std::stod(j["lower"].get<std::string>()),
            1.0);
  // Without a hop limit on a 9 x 9 grid the enumeration of paths runs for
  // ages between two paths (corner to corner of one side): the time limit
  // holds there too, under auto (which hands over to the search) and alone.
  std::string grid9;
  for (int v = 0; v < 81; ++v) {
    if (v % 9 < 8) grid9 += std::to_string(v) + ' ' + std::to_string(v + 1) + '\n';
    if (v < 72) grid9 += std::to_string(v) + ' ' + std::to_string(v + 9) + '\n';
  }
  writeFile(dir / "grid9.edges", grid9);
  for (const char* method : {"auto", "search"}) {
    const auto stopped = solveJson(dir, {"--edges", "grid9.edges", "--terminals", "0,8", "-D", "-1",
                                         "--p", "0.9", "--method", method, "--time-limit", "0.01"});
    EXPECT_EQ(stopped["status"], "time limit") << stopped.dump();
  }
}

#if DCR_HAVE_NETFILE
// dcr-tool solve --graph: every GML network of the shared collection, with
// terminals named by label, against its numbered edge-list twin. The twin
// merges parallel links, so its edge carries 1 - (1 - p)^k for k cables.
nlohmann::json exactJson(const TempDir& dir, std::vector<std::string> args) {
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
    const auto fromGraph = exactJson(dir, {"--graph", entry.path().string(), "--terminals",
                                           name(0) + "," + name(far), "-D", D, "--p", "0.9"});
    const auto fromTwin = exactJson(dir, {"--edges", (dir / "twin.edges").string(), "--terminals",
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
  const auto j = exactJson(
      dir, {"--graph", net, "--terminals", "A,#2", "-D", "2", "--p-attribute", "p", "--p", "0.9"});
  EXPECT_EQ(j["fraction"], "9/20");
}

#endif  // DCR_HAVE_NETFILE

}  // namespace

// Many terminals at a hop limit go to the path search, a few to the
// frontier; both give the closed form.
// Many terminals at a hop limit go to the frontier's profile state, few to
// its distance state.
TEST(Solve, AutoPicksTheStateByTerminals) {
  TempDir dir;
  std::string ring;
  for (int v = 0; v < 12; ++v)
    ring.append(std::to_string(v)).append(" ").append(std::to_string((v + 1) % 12)).append("\n");
  writeFile(dir / "ring.edges", ring);
  std::string all = "0";
  for (int v = 1; v < 12; ++v)
    all.append(",").append(std::to_string(v));
  auto run = [&](const std::string& terminals, const char* D) {
    return solveJson(dir, {"--edges", "ring.edges", "--terminals", terminals, "--diameter", D,
                           "--p", "0.9", "--base", "0"});
  };
  const auto many = run(all, "10");
  EXPECT_EQ(many["method"], "frontier") << many.dump();
  EXPECT_EQ(many["state"], "profile") << many.dump();
  const auto few = run("0,4,8", "10");
  EXPECT_EQ(few["method"], "frontier") << few.dump();
  EXPECT_EQ(few["state"], "distance") << few.dump();
  // One failed edge leaves a path whose ends are 11 apart: only the whole
  // ring has every pair within 10. Three terminals 4 apart stay within 10
  // (a detour of 8) as long as every failed edge lies in one arc between
  // two of them.
  EXPECT_NEAR(std::stod(many["reliability"].get<std::string>()), std::pow(0.9, 12), 1e-12);
  EXPECT_NEAR(std::stod(few["reliability"].get<std::string>()),
              std::pow(0.9, 12) + 3 * std::pow(0.9, 8) * (1 - std::pow(0.9, 4)), 1e-12);
}

// The value and the bounds come from different sums; the printed value must
// still lie between the printed bounds (here, unclamped, it lay above the
// upper bound in its last digits).
TEST(Solve, TheValueLiesInsideItsOwnBounds) {
  TempDir dir;
  writeFile(dir / "abilene.edges",
            "0 1\n0 2\n1 10\n2 9\n3 4\n3 6\n4 5\n4 6\n5 8\n6 7\n7 8\n7 10\n8 9\n9 10\n");
  for (const char* terminals : {"0,3", "0,3,5,9", "all"}) {
    const auto j = solveJson(dir, {"--edges", (dir / "abilene.edges").string(), "--terminals",
                                   terminals, "-D", "7", "--p", "0.9"});
    const std::string value = j["reliability"], lower = j["lower"], upper = j["upper"];
    // Same width, so text order is numeric order.
    EXPECT_LE(lower, value) << terminals;
    EXPECT_LE(value, upper) << terminals;
  }
}

// A triangle, terminals 0 and 1, D = 2: R = 1 - (1 - p)(1 - p^2), so the
// direct link has dR/dp = 1 - p^2 = 0.19 and each link of the detour
// (1 - p) p = 0.09; ranked, labelled, exact on request.
TEST(Solve, ImportanceRanksTheLinks) {
  TempDir dir;
  writeFile(dir / "triangle.edges", "1 2\n0 2\n0 1\n");
  const std::string edges = (dir / "triangle.edges").string();
  const auto j = solveJson(dir, {"--edges", edges, "--terminals", "0,1", "-D", "2", "--p", "0.9",
                                 "--importance", "--exact"});
  ASSERT_EQ(j["importance"].size(), 3u) << j.dump();
  EXPECT_EQ(j["importance"][0]["link"], 2);
  EXPECT_EQ(j["importance"][0]["birnbaum_fraction"], "19/100");
  EXPECT_EQ(j["importance"][0]["potential_fraction"], "19/1000");
  EXPECT_EQ(j["importance"][1]["birnbaum_fraction"], "9/100");
  EXPECT_EQ(j["importance"][2]["birnbaum_fraction"], "9/100");
  EXPECT_EQ(j["reliability"], "0.98100000000000000000");
  const auto d = solveJson(
      dir, {"--edges", edges, "--terminals", "0,1", "-D", "2", "--p", "0.9", "--importance"});
  EXPECT_NEAR(d["importance"][0]["birnbaum"].get<double>(), 0.19,
              d["importance_error_bound"].get<double>() + 1e-17);
  EXPECT_EQ(d["importance"][0]["u"], "0");
  EXPECT_EQ(d["importance"][0]["v"], "1");
}

// The estimate: its keys, the same bits whatever the thread count, an
// interval around the true value, and a plain-words warning in the text.
TEST(Solve, EstimateGivesAnIntervalAroundTheTrueValue) {
  TempDir dir;
  const auto exact = solveJson(dir, {kDodecahedron, "--method", "frontier"});
  const double R = std::stod(exact["reliability"].get<std::string>());
  std::string first;
  for (const char* threads : {"1", "2", "3"}) {
    const auto j = solveJson(dir, {kDodecahedron, "--method", "estimate", "--samples", "200000",
                                   "--seed", "7", "--threads", threads});
    EXPECT_EQ(j["method"], "estimate");
    EXPECT_EQ(j["exact"], false);
    EXPECT_TRUE(j["error_bound"].is_null());
    EXPECT_EQ(j["samples"], 200000);
    EXPECT_EQ(j["states"], j["samples"]);
    EXPECT_EQ(j["work_unit"], "samples");
    EXPECT_LE(j["ci_low"].get<double>(), R) << j.dump();
    EXPECT_GE(j["ci_high"].get<double>(), R) << j.dump();
    if (first.empty()) first = j["estimate"].dump();
    EXPECT_EQ(j["estimate"].dump(), first) << threads << " threads";
  }
  const Ran text = solve(dir, {kDodecahedron, "--method", "estimate", "--samples", "1000"});
  EXPECT_NE(text.out.find("a statistical estimate, not a bound"), std::string::npos) << text.out;
  // Importance from the same samples, each with its standard error.
  const auto j =
      solveJson(dir, {kDodecahedron, "--method", "estimate", "--samples", "1000", "--importance"});
  ASSERT_EQ(j["importance"].size(), 30u);
  EXPECT_TRUE(j["importance_error_bound"].is_null());
  EXPECT_GT(j["importance"][0]["std_error"].get<double>(), 0);
  EXPECT_GE(j["importance"][0]["birnbaum"], j["importance"][29]["birnbaum"]);
  EXPECT_EQ(solve(dir, {kDodecahedron, "--method", "estimate", "--exact"}).status, 64);
}
