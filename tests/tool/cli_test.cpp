// The built dcr-tool against the built dcr, in temporary folders.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "driver/problem_file.hpp"
#include "tests/tool/tool_test_support.hpp"

namespace {

using namespace tooltest;
namespace fs = std::filesystem;

const char kTriangleInput[] = "3 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n2 0.5 0.5\n";

// A ring of eight with two chords: several paths per pair, and thresholds
// that give both answers over a sweep.
const char kRingEdges[] = "# ring with chords\n0 1\n1 2\n2 3\n3 4\n4 5\n5 6\n6 7\n7 0\n0 4\n2 6\n";

Ran tool(const TempDir& dir, const std::vector<std::string>& args, const std::string& env = "") {
  return run(dir.path(), DCR_TOOL_BIN, args, env);
}

// The problem text with its last line (D p threshold) replaced.
std::string withLastLine(const std::string& problem, const std::string& last) {
  std::string body = problem.substr(0, problem.size() - 1);
  return body.substr(0, body.rfind('\n') + 1) + last + "\n";
}

TEST(MakeInput, TriangleGivesTheHandWrittenBytes) {
  TempDir dir;
  writeFile(dir / "tri.edges", "# the triangle\n1 2\n\n0 2   # chord\n0 1\n");
  const Ran r = tool(dir, {"make-input", "tri.edges", "--terminals", "0,1", "--diameter", "2",
                           "--p", "0.5", "--threshold", "0.5"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kTriangleInput);
  EXPECT_EQ(dcrOutput(r.out), "YES\r\n0.62500000000000000000");

  const Ran toFile = tool(dir, {"make-input", "tri.edges", "--terminals", "0,1", "-D", "2", "--p",
                                "0.5", "--threshold", "0.5", "-o", "made.input"});
  ASSERT_EQ(toFile.status, 0) << toFile.err;
  EXPECT_EQ(toFile.out, "");
  EXPECT_EQ(readFile(dir / "made.input"), kTriangleInput);
}

// Every example problem, turned into an edge list and back through
// make-input, gets the same answer from dcr, byte for byte.
TEST(MakeInput, ExamplesGiveTheSameAnswers) {
  std::vector<fs::path> inputs;
  for (const auto& entry : fs::directory_iterator(DCR_EXAMPLES_DIR)) {
    if (entry.is_directory() && fs::exists(entry.path() / "input"))
      inputs.push_back(entry.path() / "input");
    if (entry.is_regular_file() && entry.path().extension() == ".input")
      inputs.push_back(entry.path());
  }
  std::sort(inputs.begin(), inputs.end());
  if (inputs.empty()) GTEST_SKIP() << "no examples under " << DCR_EXAMPLES_DIR;

  std::mt19937 rng(7);
  for (const fs::path& path : inputs) {
    SCOPED_TRACE(path.string());
    const std::string original = readFile(path);
    Problem problem;
    const ReadOutcome read = readProblem(original, problem);
    ASSERT_TRUE(read.ok) << read.error;

    // Numbered from 1, in shuffled order and orientation.
    std::vector<std::pair<int, int>> edges;
    for (int u = 0; u < problem.N; ++u)
      for (int k = problem.KAO[u]; k < problem.KAO[u + 1]; ++k)
        if (u < problem.FO[k] - 1) edges.emplace_back(u + 1, problem.FO[k]);
    std::shuffle(edges.begin(), edges.end(), rng);
    std::string list = "# from " + path.filename().string() + "\n";
    for (auto [u, v] : edges)
      list += rng() % 2 ? std::to_string(u) + " " + std::to_string(v) + "\n"
                        : std::to_string(v) + " " + std::to_string(u) + "\n";
    std::string terminals;
    for (int i = 0; i < problem.N; ++i)
      if (problem.TERMINALS[i] == 1) terminals += std::to_string(i + 1) + ",";
    if (terminals.empty()) continue;  // make-input always names a terminal
    char p[64], r[64];
    std::snprintf(p, sizeof p, "%.17g", problem.R);
    std::snprintf(r, sizeof r, "%.17g", problem.R0);

    TempDir dir;
    writeFile(dir / "net.edges", list);
    std::vector<std::string> args = {"make-input",
                                     "net.edges",
                                     "--base",
                                     "1",
                                     "--nodes",
                                     std::to_string(problem.N),
                                     "--diameter=" + std::to_string(problem.D),
                                     "--p",
                                     p,
                                     "--threshold",
                                     r,
                                     "--terminals",
                                     terminals};
    const Ran made = tool(dir, args);
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(dcrOutput(made.out), dcrOutput(original));
  }
}

TEST(Show, EdgeListRoundTripsThroughMakeInputAndShow) {
  TempDir dir;
  std::set<std::pair<int, int>> original;
  std::string list = "# numbered from 1\n";
  for (const auto& [u, v] :
       std::vector<std::pair<int, int>>{{5, 1}, {1, 2}, {2, 5}, {3, 2}, {4, 3}, {4, 6}}) {
    list += std::to_string(u) + " " + std::to_string(v) + "\n";
    original.insert(std::minmax(u, v));
  }
  writeFile(dir / "net.edges", list);
  Ran r =
      tool(dir, {"make-input", "net.edges", "--base", "1", "--nodes", "7", "--terminals", "1,4,6",
                 "--diameter=-1", "--p", "0.9", "--threshold", "0.25", "-o", "net.input"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = tool(dir, {"show", "net.input", "--base", "1"});
  ASSERT_EQ(r.status, 0) << r.err;

  std::map<std::string, std::string> fields;
  std::set<std::pair<int, int>> shown;
  bool inEdges = false;
  for (const std::string& line : lines(r.out)) {
    if (inEdges) {
      int u = 0, v = 0;
      ASSERT_EQ(std::sscanf(line.c_str(), " %d %d", &u, &v), 2) << line;
      shown.insert({u, v});
    } else if (line.rfind("edge list", 0) == 0) {
      inEdges = true;
    } else if (const std::size_t gap = line.find("  "); gap != std::string::npos) {
      fields[line.substr(0, gap)] = line.substr(line.find_first_not_of(' ', gap));
    }
  }
  EXPECT_EQ(shown, original);
  EXPECT_EQ(fields["nodes n"], "7");
  EXPECT_EQ(fields["edges m"], "6");
  EXPECT_EQ(fields["terminals"], "3: 1 4 6");
  EXPECT_EQ(fields["hop limit D"], "-1 (no limit)");
  EXPECT_EQ(fields["edge probability p"], "0.9");
  EXPECT_EQ(fields["threshold"], "0.25");
  // Node 6 hangs off 4 and 7 is isolated; 1-4 has 1-2-3-4 and 1-5-2-3-4.
  EXPECT_EQ(fields["terminal pairs"], "3");
  EXPECT_EQ(fields["paths (any length)"], "5");
  EXPECT_EQ(fields["links on paths"], "6");
}

TEST(Show, BadProblemGivesDcrsMessage) {
  TempDir dir;
  const std::string bad = "3 3\n0,2,4,6,\n2,3,1,3,1,1,\n1,1,0,\n2 0.5 0.5\n";
  writeFile(dir / "input", bad);
  const Ran dcr = run(dir.path(), DCR_BIN, {});
  const Ran show = tool(dir, {"show", "input"});
  EXPECT_EQ(show.status, 3);
  const std::string message = dcr.err.substr(dcr.err.find("line "));
  EXPECT_EQ(show.err, "dcr-tool show: input: " + message);
}

// Every sweep row, fed to dcr on its own, gives the same bytes; the p
// column must name the exact double, or dcr would solve another problem.
TEST(Sweep, RowsMatchSeparateDcrRuns) {
  TempDir dir;
  writeFile(dir / "ring.edges", kRingEdges);
  Ran r = tool(dir, {"make-input", "ring.edges", "--terminals", "0,3,5", "-D", "4", "--p", "0.9",
                     "--threshold", "0.7", "-o", "ring.input"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string problem = readFile(dir / "ring.input");

  r = tool(dir, {"sweep", "ring.input", "--p", "0:1:0.15", "--diameter", "2:5"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto rows = lines(r.out);
  ASSERT_EQ(rows.size(), 1u + 7 * 4);
  EXPECT_EQ(rows[0], "p,diameter,answer,reliability,seconds");
  int yes = 0, no = 0;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i]);
    const auto cells = split(rows[i], ',');
    ASSERT_EQ(cells.size(), 5u);
    const std::string expected =
        dcrOutput(withLastLine(problem, cells[1] + " " + cells[0] + " 0.7"));
    if (cells[2] == "NO") {
      ++no;
      EXPECT_EQ(cells[3], "");
      EXPECT_EQ(expected, "NO");
    } else {
      ++yes;
      EXPECT_EQ(cells[2], "YES");
      EXPECT_EQ(expected, "YES\r\n" + cells[3]);
    }
  }
  EXPECT_GT(yes, 0);
  EXPECT_GT(no, 0);
  EXPECT_EQ(rows[1].rfind("0,2,", 0), 0u);
  EXPECT_EQ(rows[4].rfind("0.44999999999999996,2,", 0), 0u);  // 3 * 0.15, not 0.45
  EXPECT_EQ(rows[7].rfind("0.8999999999999999,2,", 0), 0u);   // 6 * 0.15; 1 is beyond the range
}

TEST(Sweep, DiameterOnlyUsesTheFilesP) {
  TempDir dir;
  writeFile(dir / "input", kTriangleInput);
  const Ran r = tool(dir, {"sweep", "input", "--diameter", "1:3"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto rows = lines(r.out);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[2].substr(0, rows[2].rfind(',')), "0.5,2,YES,0.62500000000000000000");
  EXPECT_EQ(r.err, "");  // no progress line when standard error is not a terminal
}

TEST(Sweep, PlotWritesAPng) {
  TempDir dir;
  writeFile(dir / "input", kTriangleInput);
  const Ran probe = run(dir.path(), "/bin/sh", {"-c", "command -v gnuplot"});
  if (probe.status != 0) GTEST_SKIP() << "gnuplot is not installed";
  const Ran r =
      tool(dir, {"sweep", "input", "--p", "0:1:0.25", "--diameter", "1:2", "--plot", "out.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(dir / "out.png").substr(0, 4), "\x89PNG");
}

struct BadCall {
  std::vector<std::string> args;
  int status;
  std::string message;  // must appear on standard error
};

TEST(Errors, NameTheBadArgumentOrLine) {
  TempDir dir;
  writeFile(dir / "input", kTriangleInput);
  writeFile(dir / "tri.edges", "0 1\n0 2\n1 2\n");
  writeFile(dir / "loop.edges", "0 1\n# fine so far\n2 2\n");
  const std::vector<BadCall> calls = {
      {{"frobnicate"}, 64, "unknown subcommand 'frobnicate'"},
      {{"sweep", "input", "--p", "0:1:0"}, 64, "--p 0:1:0: STEP 0 must be positive"},
      {{"sweep", "input", "--diameter", "a:3"},
       64,
       "--diameter a:3: FROM 'a' is not a decimal integer"},
      {{"sweep", "input"}, 64, "nothing to sweep"},
      {{"show", "missing.input"}, 1, "'missing.input'"},
      {{"make-input", "tri.edges", "--terminals", "all", "-D", "2", "--p", "2", "--threshold", "1"},
       64,
       "--p 2:"},
      {{"make-input", "tri.edges", "--terminals", "all", "-D", "2", "--p", "0.5"},
       64,
       "--threshold"},
      {{"make-input", "tri.edges", "--terminals", "0,9", "-D", "2", "--p", "0.5", "--threshold",
        "1"},
       64,
       "--terminals 0,9: node 9 does not exist"},
      {{"make-input", "tri.edges", "--terminals", "all", "-D", "two", "--p", "0.5", "--threshold",
        "1"},
       64,
       "--diameter"},
      {{"make-input", "loop.edges", "--terminals", "all", "-D", "2", "--p", "0.5", "--threshold",
        "1"},
       3,
       "loop.edges: line 3: node 2 is joined to itself"},
  };
  for (const BadCall& call : calls) {
    const Ran r = tool(dir, call.args);
    SCOPED_TRACE(call.args[0] + (call.args.size() > 1 ? " " + call.args[1] : ""));
    EXPECT_EQ(r.status, call.status) << r.err;
    EXPECT_NE(r.err.find(call.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

TEST(Errors, PlotWithoutGnuplotFailsBeforeSolving) {
  TempDir dir;
  writeFile(dir / "input", kTriangleInput);
  const Ran r =
      tool(dir, {"sweep", "input", "--p", "0:1:0.5", "--plot", "out.png"}, "PATH=/nonexistent");
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.err.find("gnuplot-nox"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(fs::exists(dir / "out.png"));
}

TEST(Help, EverySubcommandHasIt) {
  TempDir dir;
  for (const char* sub : {"make-input", "show", "sweep"}) {
    const Ran r = tool(dir, {sub, "--help"});
    EXPECT_EQ(r.status, 0) << sub;
    EXPECT_NE(r.out.find(std::string("dcr-tool ") + sub), std::string::npos) << r.out;
  }
  const Ran sweep = tool(dir, {"sweep", "--help"});
  EXPECT_NE(sweep.out.find("1e-9*STEP"), std::string::npos);  // how TO is included
  EXPECT_EQ(tool(dir, {"--help"}).status, 0);
}

}  // namespace
