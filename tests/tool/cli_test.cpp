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

// One set of samples for every p: each row's interval covers the closed
// form p + (1 - p) p^2 (a fixed seed, so the outcome is fixed too), and the
// ends need no sampling.
TEST(Sweep, EstimateRowsCoverTheTrueCurve) {
  TempDir dir;
  writeFile(dir / "input", kTriangleInput);
  const Ran r = tool(dir, {"sweep", "input", "--p", "0:1:0.125", "--method", "estimate",
                           "--samples", "20000", "--seed", "5", "--threads", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto rows = lines(r.out);
  ASSERT_EQ(rows.size(), 10u);
  EXPECT_EQ(rows[0], "p,diameter,method,estimate,ci_low,ci_high,std_error,samples,seconds");
  for (std::size_t i = 1; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i]);
    const auto c = split(rows[i], ',');
    ASSERT_EQ(c.size(), 9u);
    const double p = std::stod(c[0]), exact = p + (1 - p) * p * p;
    const bool end = i == 1 || i + 1 == rows.size();
    EXPECT_EQ(c[2], end ? "exact" : "estimate");
    EXPECT_EQ(c[7], end ? "0" : "20000");
    EXPECT_LE(std::stod(c[4]), exact);
    EXPECT_GE(std::stod(c[5]), exact);
  }
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
  writeFile(dir / "far.edges", "0 1\n1 20000000\n");
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
      // One mistyped node number must not size anything.
      {{"make-input", "far.edges", "--terminals", "0,1", "-D", "2", "--p", "0.5", "--threshold",
        "1"},
       3,
       "far.edges: line 2: node 20000000 is far beyond what 2 edges can join"},
      {{"make-input", "tri.edges", "--terminals", "all", "-D", "2", "--p", "0.5", "--threshold",
        "1", "--nodes", "99999999999"},
       64,
       "--nodes 99999999999: the node count must be a decimal integer from 0 to 10000000"},
      // Integers are decimal in every option.
      {{"make-input", "tri.edges", "--terminals", "all", "-D", "0x10", "--p", "0.5", "--threshold",
        "1"},
       64,
       "--diameter 0x10: the hop limit D must be a decimal integer"},
      {{"make-input", "tri.edges", "--terminals", "all", "-D", "2", "--p", "0.5", "--threshold",
        "1", "--nodes", "0x10"},
       64,
       "--nodes 0x10"},
      {{"make-input", "tri.edges", "--terminals", "all", "-D", "2", "--p", "0.5", "--threshold",
        "1", "--base", "0x1"},
       64,
       "--base 0x1: the first node number must be 0 or 1"},
      {{"show", "input", "--base", "0b1"}, 64, "--base 0b1"},
      {{"sweep", "input", "--diameter", "0x10"}, 64, "'0x10' is not a decimal integer"},
      {{"sweep", "input", "--p", "0:1:1e-5"}, 64, "more than 100000 values"},
      {{"sweep", "input", "--p", "0:1:0.001", "-D", "1:100"}, 64, "1001 x 100 values"},
      {{"sweep", "input", "--p", "0.5", "--threshold", "high"}, 64, "--threshold high"},
      {{"sweep", "input", "--p", "0.5", "--log-unreliability"}, 64, "requires --plot"},
      {{"sweep", "input", "--p", "0.5", "--samples", "9"}, 64, "go with --method estimate"},
      {{"sweep", "input", "--p", "0.5", "--method", "estimate", "--seed", "-1"}, 64, "--seed -1"},
      {{"sweep", "input", "--p", "0.5", "--plot", "fig.jpg"}, 64, "must end in .png, .svg or .pdf"},
  };
  for (const BadCall& call : calls) {
    const Ran r = tool(dir, call.args);
    SCOPED_TRACE(call.message);
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
  for (const char* option : {"--threshold", "--title", "--log-unreliability", ".svg", ".pdf"})
    EXPECT_NE(sweep.out.find(option), std::string::npos) << option;
  EXPECT_NE(tool(dir, {"make-input", "--help"}).out.find("10000000"), std::string::npos);
  EXPECT_NE(tool(dir, {"show", "--help"}).out.find("Warnings"), std::string::npos);
  EXPECT_EQ(tool(dir, {"--help"}).status, 0);
}

TEST(Errors, NonPrintableBytesGoOutEscaped) {
  TempDir dir;
  writeFile(dir / "nul.edges", std::string("0 1\n1 a\0b\n", 10));
  Ran r = tool(dir, {"make-input", "nul.edges", "--terminals", "0", "-D", "1", "--p", "1",
                     "--threshold", "0"});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("line 2: 'a\\x00b' is not a node number"), std::string::npos) << r.err;

  const std::string name = "x\x1b[2J\ny.input";
  r = tool(dir, {"show", name});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("'x\\x1B[2J\\ny.input'"), std::string::npos) << r.err;
  r = tool(dir, {"sweep", "input", "--frobnicate", "\x1b]0;title\x07"});
  EXPECT_EQ(r.status, 64);
  EXPECT_NE(r.err.find("\\x1B]0;title\\x07"), std::string::npos) << r.err;

  writeFile(dir / name, kTriangleInput);
  r = tool(dir, {"show", name, "--no-paths"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("x\\x1B[2J\\ny.input\n"), std::string::npos) << r.out;
  for (const std::string& text : {r.out, r.err})
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
}

TEST(MakeInput, IntegersAreDecimal) {
  TempDir dir;
  writeFile(dir / "tri.edges", "0 1\n0 2\n1 2\n");
  for (const auto& [d, line] : std::vector<std::pair<std::string, std::string>>{
           {"010", "10 0.5 0.5"}, {"-1", "-1 0.5 0.5"}}) {
    const Ran r = tool(dir, {"make-input", "tri.edges", "--terminals", "0,1", "-D", d, "--p", "0.5",
                             "--threshold", "0.5", "--nodes", "03", "--base", "00"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.out).back(), line);
  }
}

TEST(Version, ComesFromTheProject) {
  TempDir dir;
  const Ran r = tool(dir, {"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("dcr-tool ") + DCR_VERSION + "\n");
}

// Warnings go to standard error only: the file written and the exit status
// are those of the same run without them.
TEST(Warnings, MakeInputWarnsAndWritesTheSameFile) {
  TempDir dir;
  writeFile(dir / "from1.edges", "1 2\n2 3\n3 1\n");
  const std::vector<std::string> args = {"make-input",  "from1.edges", "--terminals", "1,2",
                                         "-D",          "2",           "--p",         "0.5",
                                         "--threshold", "0.5"};
  const Ran r = tool(dir, args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "4 3\n0,0,2,4,6,\n3,4,2,4,2,3,\n0,1,1,0,\n2 0.5 0.5\n");
  const auto warnings = lines(r.err);
  ASSERT_EQ(warnings.size(), 1u) << r.err;
  EXPECT_EQ(warnings[0],
            "warning: from1.edges: node 0 has no edge: with --base 0 that usually means the edge "
            "list counts from 1; if so, give --base 1");

  std::vector<std::string> lone = args;
  lone[3] = "1";
  const Ran one = tool(dir, lone);
  EXPECT_EQ(one.status, 0);
  EXPECT_NE(one.err.find("warning: from1.edges: only one terminal (node 1): with fewer than two "
                         "terminals the reliability is reported as 0"),
            std::string::npos)
      << one.err;
}

TEST(Warnings, ShowWarnsAndPrintsTheSame) {
  TempDir clean, odd;
  writeFile(clean / "net.input", "4 3\n0,2,4,6,6,\n2,3,1,3,1,2,\n1,2,0,1,\n2 0.5 0.5\n");
  writeFile(odd / "net.input", "4 3\n0,2,4,6,6,\n2,3,1,3,1,2,\n1,2,0,1,\n2 0.5 0.5 0.9\n");
  const Ran a = tool(clean, {"show", "net.input", "--base", "1"});
  const Ran b = tool(odd, {"show", "net.input", "--base", "1"});
  ASSERT_EQ(a.status, 0) << a.err;
  EXPECT_EQ(b.status, 0);
  EXPECT_EQ(a.out, b.out);
  for (const std::string& line : lines(b.err))
    EXPECT_EQ(line.rfind("warning: net.input: ", 0), 0u) << line;
  const auto has = [&b](const std::string& part) { return b.err.find(part) != std::string::npos; };
  EXPECT_TRUE(has("terminal 4 without any edge")) << b.err;
  EXPECT_TRUE(has("node 2 has 2; only 1 marks a terminal")) << b.err;
  EXPECT_TRUE(has("line 5: text after the threshold is ignored: '0.9'")) << b.err;
  EXPECT_EQ(a.err.find("text after"), std::string::npos) << a.err;
  EXPECT_EQ(lines(b.err).size(), lines(a.err).size() + 1);
}

TEST(Sweep, ThresholdOverridesTheFiles) {
  TempDir dir;
  writeFile(dir / "ring.edges", kRingEdges);
  Ran r = tool(dir, {"make-input", "ring.edges", "--terminals", "0,3,5", "-D", "4", "--p", "0.5",
                     "--threshold", "0.7", "-o", "ring.input"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = tool(dir, {"sweep", "ring.input", "--p", "0.5"});
  ASSERT_EQ(lines(r.out).size(), 2u);
  EXPECT_EQ(lines(r.out)[1].rfind("0.5,4,NO,,", 0), 0u);
  r = tool(dir, {"sweep", "ring.input", "--p", "0.5", "--threshold", "0"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto cells = split(lines(r.out).at(1), ',');
  EXPECT_EQ(cells[2], "YES");
  EXPECT_EQ("YES\r\n" + cells[3], dcrOutput(withLastLine(readFile(dir / "ring.input"), "4 0.5 0")));
}

bool haveGnuplot(const TempDir& dir) {
  return run(dir.path(), "/bin/sh", {"-c", "command -v gnuplot"}).status == 0;
}

// gnuplot runs a line starting with '!' in a shell, substitutes `...` on
// whole lines, and opens '|...' as a pipe. File names, titles and plot
// paths carrying each of these must run nothing.
TEST(Plot, HostileNamesRunNothing) {
  TempDir dir;
  if (!haveGnuplot(dir)) GTEST_SKIP() << "gnuplot is not installed";
  const std::vector<std::string> hostile = {"p\n!touch PWNED\n",
                                            "`touch PWNED`",
                                            "$(touch PWNED)",
                                            "' . system('touch PWNED') . '",
                                            "\" . system(\"touch PWNED\") . \"",
                                            "|touch PWNED;cat>x;",
                                            "@ARG0 \\\" '' \t"};
  for (const std::string& h : hostile) {
    SCOPED_TRACE(h);
    writeFile(dir / (h + ".input"), kTriangleInput);
    std::vector<std::vector<std::string>> calls = {
        {"sweep", h + ".input", "--p", "0:1:0.5", "--plot", "q.png"},
        {"sweep", "input", "--p", "0:1:0.5", "--plot", "q.svg", "--title", h},
        {"sweep", "input", "--p", "0:1:0.5", "--plot", h + ".png"}};
    writeFile(dir / "input", kTriangleInput);
    for (const auto& call : calls) {
      const Ran r = tool(dir, call);
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_FALSE(fs::exists(dir / "PWNED")) << call[1] << ' ' << call.back();
      EXPECT_FALSE(fs::exists(dir / "x"));
      fs::remove(dir / "PWNED");
    }
    EXPECT_EQ(readFile(dir / (h + ".png")).substr(0, 4), "\x89PNG");
    fs::remove(dir / (h + ".png"));
  }
}

TEST(Plot, FormatsTitleAndLogAxis) {
  TempDir dir;
  if (!haveGnuplot(dir)) GTEST_SKIP() << "gnuplot is not installed";
  writeFile(dir / "input", kTriangleInput);
  Ran r = tool(dir, {"sweep", "input", "--p", "0:1:0.25", "--plot", "f.svg", "--title",
                     "Triangle <&> test\x01"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string svg = readFile(dir / "f.svg");
  EXPECT_NE(svg.find("Triangle &lt;&amp;"), std::string::npos);
  EXPECT_EQ(svg.find('\x01'), std::string::npos);
  r = tool(dir, {"sweep", "input", "--p", "0:1:0.25", "-D", "1:2", "--plot", "f.PDF",
                 "--log-unreliability", "--threshold", "0.99"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(dir / "f.PDF").substr(0, 5), "%PDF-");
}

// A picture that cannot be written is found out before the sweep, and the
// check leaves no file behind.
TEST(Plot, UnwritablePathFailsBeforeSolving) {
  TempDir dir;
  if (!haveGnuplot(dir)) GTEST_SKIP() << "gnuplot is not installed";
  writeFile(dir / "input", kTriangleInput);
  writeFile(dir / "bad.input", "3 3\n");
  fs::create_directory(dir / "dir.png");
  for (const char* path : {"dir.png", "missing/f.png"}) {
    const Ran r = tool(dir, {"sweep", "input", "--p", "0:1:0.5", "--plot", path});
    EXPECT_EQ(r.status, 2) << path;
    EXPECT_NE(r.err.find(std::string("--plot ") + path + ": cannot write it"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");
  }
  const Ran r = tool(dir, {"sweep", "bad.input", "--p", "0.5", "--plot", "new.png"});
  EXPECT_EQ(r.status, 3);
  EXPECT_FALSE(fs::exists(dir / "new.png"));
}

}  // namespace
