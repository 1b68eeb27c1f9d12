// dcr-tool: writes problem files from edge lists, shows them for a person,
// and sweeps a problem over p or D with the engine dcr uses.
//
// Exit statuses:
//   0   done
//   1   an input file cannot be read
//   2   an output file cannot be written
//   3   an edge list or problem file is malformed
//   4   the engine gave up (the paths do not fit in memory)
//   5   the plot could not be drawn (gnuplot missing or failing)
//   64  bad command-line arguments
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "driver/problem_file.hpp"
#include "driver/tool/edge_list.hpp"
#include "driver/tool/plot.hpp"
#include "driver/tool/sweep.hpp"

namespace {

constexpr int kOk = 0;
constexpr int kUnreadable = 1;
constexpr int kUnwritable = 2;
constexpr int kBadInput = 3;
constexpr int kEngineFailed = 4;
constexpr int kPlotFailed = 5;
constexpr int kUsage = 64;

std::string command = "dcr-tool";  // prefix of every message: the subcommand run

int fail(int status, const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", command.c_str(), message.c_str());
  return status;
}

bool readInput(const std::string& path, std::string& text) {
  if (path != "-") return readWholeFile(path, text);
  text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  return !std::cin.bad();
}

bool writeOutput(const std::string& path, const std::string& text) {
  std::FILE* out = path.empty() || path == "-" ? stdout : std::fopen(path.c_str(), "wb");
  if (!out) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  const bool closed = out == stdout ? std::fflush(out) == 0 : std::fclose(out) == 0;
  return written && closed;
}

// Reads and checks a problem file with dcr's reader. Returns kOk or the
// status already reported.
int loadProblem(const std::string& path, Problem& problem) {
  std::string text;
  if (!readInput(path, text))
    return fail(kUnreadable, "cannot read the problem file '" + path + "'");
  const ReadOutcome read = readProblem(text, problem);
  if (!read.ok) return fail(kBadInput, path + ": " + read.error);
  return kOk;
}

// ---- make-input ------------------------------------------------------

struct MakeInputArgs {
  std::string edges;
  std::string terminals;
  int diameter = 0;
  std::string p;
  std::string threshold;
  std::string output;
  int base = 0;
  int nodes = -1;
};

int runMakeInput(const MakeInputArgs& a) {
  double p = 0, threshold = 0;
  if (!parseDouble(a.p, p) || !(p >= 0.0 && p <= 1.0))
    return fail(kUsage, "--p " + a.p + ": the edge probability must be a number from 0 to 1");
  if (!parseDouble(a.threshold, threshold))
    return fail(kUsage, "--threshold " + a.threshold + ": the threshold must be a finite number");

  std::string text;
  if (!readInput(a.edges, text))
    return fail(kUnreadable, "cannot read the edge list '" + a.edges + "'");
  EdgeList list;
  if (std::string bad = parseEdgeList(text, a.base, a.nodes, list); !bad.empty())
    return fail(kBadInput, a.edges + ": " + bad);
  std::vector<int> flags;
  if (std::string bad = parseTerminals(a.terminals, a.base, list.nodes, flags); !bad.empty())
    return fail(kUsage, "--terminals " + a.terminals + ": " + bad);

  Problem problem;
  if (std::string bad = makeProblem(list, flags, a.diameter, p, threshold, problem); !bad.empty())
    return fail(kBadInput, a.edges + ": " + bad);
  if (!writeOutput(a.output, problemText(problem)))
    return fail(kUnwritable, "cannot write '" + (a.output.empty() ? "-" : a.output) + "'");
  return kOk;
}

// ---- show ------------------------------------------------------------

struct ShowArgs {
  std::string file;
  int base = 0;
  bool countPaths = true;
};

int runShow(const ShowArgs& a) {
  Problem problem;
  if (int status = loadProblem(a.file, problem); status != kOk) return status;

  const auto number = [&a](int node) { return std::to_string(node + a.base); };
  std::string out;
  auto row = [&out](const std::string& label, const std::string& value) {
    out += label;
    out.append(label.size() < 22 ? 22 - label.size() : 1, ' ');
    out += value + '\n';
  };
  std::vector<int> terminals;
  int oddFlag = -1;  // first node whose flag is neither 0 nor 1
  for (int i = 0; i < problem.N; ++i) {
    if (problem.TERMINALS[i] == 1) terminals.push_back(i);
    if (oddFlag < 0 && problem.TERMINALS[i] != 0 && problem.TERMINALS[i] != 1) oddFlag = i;
  }
  std::string terminalText = std::to_string(terminals.size()) + (terminals.empty() ? "" : ":");
  for (int t : terminals)
    terminalText += ' ' + number(t);

  row("problem file", a.file);
  row("nodes n", std::to_string(problem.N));
  row("edges m", std::to_string(problem.M));
  row("terminals", terminalText);
  if (oddFlag >= 0) {
    row("", "(node " + number(oddFlag) + " has flag " + std::to_string(problem.TERMINALS[oddFlag]) +
                ": only 1 marks a terminal)");
  }
  row("hop limit D", std::to_string(problem.D) + (problem.D < 0 ? " (no limit)" : ""));
  row("edge probability p", shortestText(problem.R));
  row("threshold", shortestText(problem.R0));

  std::string failure;
  if (a.countPaths) {
    Structure s;
    failure = countStructure(problem, s);
    if (failure.empty()) {
      row("terminal pairs", std::to_string(s.pairs));
      row(problem.D < 0 ? "paths (any length)"
                        : "paths of <= " + std::to_string(problem.D) + " edges",
          std::to_string(s.paths));
      row("links on paths", std::to_string(s.linksOnPaths));
      row("links after merging", std::to_string(s.linksAfterMerging));
    }
  }
  out += "edge list (u v, nodes numbered from " + std::to_string(a.base) + "):\n";
  for (const Edge& e : edgesOf(problem).edges)
    out += "  " + number(e.u) + ' ' + number(e.v) + '\n';
  if (!writeOutput("-", out)) return fail(kUnwritable, "cannot write to standard output");
  if (!failure.empty()) return fail(kEngineFailed, "paths not counted: " + failure);
  return kOk;
}

// ---- sweep -----------------------------------------------------------

struct SweepArgs {
  std::string file;
  std::string p;
  std::string diameter;
  std::string plot;
};

// A one-line progress report on standard error, rewritten in place; only
// when a person is watching, so logs and pipes stay clean.
class Progress {
 public:
  Progress() : enabled_(::isatty(STDERR_FILENO) == 1) {}
  void show(std::size_t done, std::size_t total, double p, int D) {
    if (!enabled_) return;
    const std::string line = "sweep: " + std::to_string(done + 1) + "/" + std::to_string(total) +
                             "  p = " + shortestText(p) + "  D = " + std::to_string(D);
    std::fprintf(stderr, "\r%s%*s", line.c_str(),
                 width_ > line.size() ? int(width_ - line.size()) : 0, "");
    std::fflush(stderr);
    width_ = line.size();
  }
  void clear() {
    if (!enabled_ || width_ == 0) return;
    std::fprintf(stderr, "\r%*s\r", int(width_), "");
    std::fflush(stderr);
    width_ = 0;
  }

 private:
  bool enabled_;
  std::size_t width_ = 0;
};

int runSweep(const SweepArgs& a) {
  if (a.p.empty() && a.diameter.empty())
    return fail(kUsage, "nothing to sweep: give --p FROM:TO:STEP, --diameter FROM:TO, or both");
  std::vector<double> ps;
  std::vector<int> ds;
  if (!a.p.empty()) {
    if (std::string bad = parsePRange(a.p, ps); !bad.empty())
      return fail(kUsage, "--p " + a.p + ": " + bad);
  }
  if (!a.diameter.empty()) {
    if (std::string bad = parseDRange(a.diameter, ds); !bad.empty())
      return fail(kUsage, "--diameter " + a.diameter + ": " + bad);
  }
  std::string gnuplot;
  if (!a.plot.empty()) {
    // Before any solving: a sweep can take long, and the missing program
    // should not be found out at its end.
    gnuplot = findGnuplot();
    if (gnuplot.empty()) return fail(kPlotFailed, gnuplotMissingMessage());
    std::filesystem::path folder = std::filesystem::path(a.plot).parent_path();
    if (folder.empty()) folder = ".";
    if (::access(folder.c_str(), W_OK) != 0)
      return fail(kUnwritable,
                  "--plot " + a.plot + ": cannot write in the folder '" + folder.string() + "'");
  }

  // Against p, one line per D, unless only D takes several values.
  const bool overP = ps.size() > 1 || ds.size() <= 1;

  Problem problem;
  if (int status = loadProblem(a.file, problem); status != kOk) return status;
  if (ps.empty()) ps.push_back(problem.R);
  if (ds.empty()) ds.push_back(problem.D);
  PlotRequest plot;
  plot.output = a.plot;
  plot.threshold = problem.R0;
  plot.integerX = !overP;
  plot.xLabel = overP ? "edge probability p" : "hop limit D";
  int terminals = 0;
  for (int f : problem.TERMINALS)
    terminals += f == 1;
  plot.title = std::filesystem::path(a.file).filename().string() + ": " +
               std::to_string(problem.N) + " nodes, " + std::to_string(problem.M) + " edges, " +
               std::to_string(terminals) + " terminals";
  if (!overP) plot.series.push_back({"p = " + shortestText(ps[0]), {}, {}});

  if (!writeOutput("-", csvHeader())) return fail(kUnwritable, "cannot write to standard output");
  Progress progress;
  const std::size_t total = ps.size() * ds.size();
  std::size_t done = 0;
  for (int D : ds) {
    if (overP) plot.series.push_back({"D = " + std::to_string(D), {}, {}});
    for (double p : ps) {
      progress.show(done++, total, p, D);
      problem.R = p;
      problem.D = D;
      const Solution solution = solve(problem);
      if (!solution.ok) {
        progress.clear();
        return fail(kEngineFailed, "p = " + shortestText(p) + ", D = " + std::to_string(D) + ": " +
                                       solution.error);
      }
      if (!writeOutput("-", csvRow(p, D, solution))) {
        progress.clear();
        return fail(kUnwritable, "cannot write to standard output");
      }
      const std::string digits = reliabilityDigits(solution.answer);
      plot.series.back().x.push_back(overP ? p : D);
      plot.series.back().y.push_back(digits.empty() ? std::numeric_limits<double>::quiet_NaN()
                                                    : std::strtod(digits.c_str(), nullptr));
    }
  }
  progress.clear();
  if (!a.plot.empty()) {
    if (std::string bad = drawPlot(plot, gnuplot); !bad.empty())
      return fail(kPlotFailed, "--plot " + a.plot + ": " + bad);
  }
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Companion to dcr: writes its problem files from edge lists, shows them, and "
      "sweeps them over p or D.",
      "dcr-tool"};
  app.require_subcommand(1);

  MakeInputArgs make;
  CLI::App* makeCmd =
      app.add_subcommand("make-input", "Write a dcr problem file from an edge list");
  makeCmd->footer(
      "The edge list has one edge \"u v\" a line; '#' starts a comment and blank lines are "
      "ignored.\n"
      "Self loops and repeated edges are refused with their line number. Each node's neighbours\n"
      "are written in increasing order, so one edge set always gives the same file.");
  makeCmd->add_option("EDGES", make.edges, "Edge list file, or - for standard input")
      ->required()
      ->type_name("FILE");
  makeCmd
      ->add_option("--terminals", make.terminals,
                   "Terminal nodes, e.g. 0,3,5 (numbered like the edges), or all")
      ->required()
      ->type_name("LIST");
  makeCmd
      ->add_option("--diameter,-D", make.diameter,
                   "Hop limit D: most edges a path may have; negative for none")
      ->required()
      ->type_name("D");
  makeCmd->add_option("--p", make.p, "Probability that an edge works, from 0 to 1")
      ->required()
      ->type_name("P");
  makeCmd->add_option("--threshold", make.threshold, "Reliability level to decide")
      ->required()
      ->type_name("R");
  makeCmd->add_option("-o,--output", make.output, "Write here instead of standard output")
      ->type_name("FILE");
  makeCmd->add_option("--base", make.base, "First node number of the edge list and --terminals")
      ->check(CLI::IsMember({0, 1}))
      ->capture_default_str();
  makeCmd
      ->add_option("--nodes", make.nodes,
                   "Node count (default: largest number seen + 1); extra nodes are isolated")
      ->type_name("N")
      ->check(CLI::NonNegativeNumber);

  ShowArgs show;
  bool noPaths = false;
  CLI::App* showCmd = app.add_subcommand("show", "Print a problem file for a person");
  showCmd->footer(
      "Prints n, m, the terminals, D, p and the threshold, how many terminal pairs, paths of at\n"
      "most D edges and links after merging there are, and the edge list. The file is read and\n"
      "checked exactly as dcr reads it, with the same error messages.");
  showCmd->add_option("FILE", show.file, "Problem file, or - for standard input")
      ->required()
      ->type_name("FILE");
  showCmd->add_option("--base", show.base, "First node number in the printout")
      ->check(CLI::IsMember({0, 1}))
      ->capture_default_str();
  showCmd->add_flag("--no-paths", noPaths,
                    "Skip counting paths (that can take long on big networks)");

  SweepArgs sweep;
  CLI::App* sweepCmd =
      app.add_subcommand("sweep", "Solve a problem file over a range of p or D, as CSV");
  sweepCmd->add_option("FILE", sweep.file, "Problem file, or - for standard input")
      ->required()
      ->type_name("FILE");
  sweepCmd
      ->add_option("--p", sweep.p,
                   "FROM:TO:STEP (or one value): p = FROM + i*STEP for i = 0, 1, ... up to TO; "
                   "when a value comes within 1e-9*STEP of TO, TO itself is the last value")
      ->type_name("RANGE");
  sweepCmd
      ->add_option("--diameter,-D", sweep.diameter,
                   "FROM:TO[:STEP] (or one value): hop limits to solve; with --p, every D is "
                   "swept over every p")
      ->type_name("RANGE");
  sweepCmd
      ->add_option("--plot", sweep.plot,
                   "Also draw reliability against the swept value into this PNG (needs gnuplot); "
                   "one line per D")
      ->type_name("FILE.png");
  sweepCmd->footer(
      "Each value is solved with dcr's engine; the CSV on standard output has the columns\n"
      "p,diameter,answer,reliability,seconds: p in shortest round-trip form (the exact double\n"
      "solved), answer YES or NO, reliability the 20 decimals dcr writes (empty for NO).\n"
      "A progress line goes to standard error when it is a terminal.");

  // CLI11 would only say that a subcommand is required; name what was typed.
  const std::string first = argc > 1 ? argv[1] : "";
  if (!first.empty() && first[0] != '-' && first != "make-input" && first != "show" &&
      first != "sweep") {
    return fail(kUsage, "unknown subcommand '" + first +
                            "'; the subcommands are make-input, show and sweep (see --help)");
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? kOk : kUsage;
  }

  try {
    if (makeCmd->parsed()) {
      command = "dcr-tool make-input";
      return runMakeInput(make);
    }
    if (showCmd->parsed()) {
      command = "dcr-tool show";
      show.countPaths = !noPaths;
      return runShow(show);
    }
    command = "dcr-tool sweep";
    return runSweep(sweep);
  } catch (const std::bad_alloc&) {
    return fail(kEngineFailed, "out of memory");
  } catch (const std::exception& e) {
    return fail(kEngineFailed, e.what());
  }
}
