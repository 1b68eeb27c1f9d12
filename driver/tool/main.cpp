// dcr-tool: writes problem files from edge lists, shows them for a person,
// sweeps a problem over p or D, and solves it for its true value with the
// frontier engine or dcr's own. Exit statuses: driver/exit_status.hpp.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "api/numbers.hpp"
#include "driver/answer.hpp"
#include "driver/exit_status.hpp"
#include "driver/problem_file.hpp"
#include "driver/tool/checks.hpp"
#include "driver/tool/edge_list.hpp"
#include "driver/tool/graph_file.hpp"
#include "driver/tool/plot.hpp"
#include "driver/tool/progress.hpp"
#include "driver/tool/solve_command.hpp"
#include "driver/tool/sweep_command.hpp"
#include "driver/tool/text.hpp"

namespace {

std::string command = "dcr-tool";  // prefix of every message: the subcommand run

void printLine(const std::string& line) {
  const std::string text = line + '\n';
  std::fwrite(text.data(), 1, text.size(), stderr);
}

// Messages quote file names, paths and tokens as typed; every byte that is
// not printable goes out escaped, so nothing typed can drive the terminal.
int fail(int status, const std::string& message) {
  printLine(command + ": " + printable(message));
  return status;
}

// As fail(), for text of several lines (gnuplot's own report).
int failLines(int status, const std::string& message) {
  std::string text = command + ": ";
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = message.find('\n', start);
    text += printable(message.substr(start, end - start));
    if (end == std::string::npos) break;
    text += '\n';
    start = end + 1;
  }
  printLine(text);
  return status;
}

// Warnings never change the exit status or standard output.
void warn(const std::string& file, const std::string& message) {
  printLine("warning: " + printable(file) + ": " + printable(message));
}

// Integer options are decimal only, whatever CLI11 would accept, so that
// "-D 010" is never taken for 8 nor "0x10" for 16 in one place but refused
// in another.
bool parseIntOption(const std::string& text, int low, int high, int& value) {
  return parseInt(text, value) && value >= low && value <= high;
}

// Whether `path` can be written, found out without changing it: an
// existing file is opened for writing, a new one created and removed.
// Returns "" or why not.
std::string checkWritable(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd >= 0) {
    ::close(fd);
    ::unlink(path.c_str());
    return "";
  }
  if (errno == EEXIST) fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    return "";
  }
  return std::strerror(errno);
}

bool writeOutput(const std::string& path, const std::string& text) {
  std::FILE* out = path.empty() || path == "-" ? stdout : std::fopen(path.c_str(), "wb");
  if (!out) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  const bool closed = out == stdout ? std::fflush(out) == 0 : std::fclose(out) == 0;
  return written && closed;
}

// Reads and checks a problem file with dcr's reader. Returns kExitOk or the
// status already reported.
int loadProblem(const std::string& path, Problem& problem, std::string& text, std::size_t& end) {
  if (const InputRead why = readInput(path, text); why != InputRead::kOk)
    return fail(why == InputRead::kUnreadable ? kExitInputUnreadable : kExitBadInput,
                inputProblem(why, "problem file", path));
  const ReadOutcome read = readProblem(text, problem);
  if (!read.ok) return fail(kExitBadInput, path + ": " + read.error);
  end = read.end;
  return kExitOk;
}

// ---- make-input ------------------------------------------------------

struct MakeInputArgs {
  std::string edges;
  std::string graph;  // a GML or GraphML file instead
  std::string terminals;
  std::string diameter;
  std::string p;
  std::string threshold;
  std::string output;
  std::string base = "0";
  std::string nodes;
};

int runMakeInput(const MakeInputArgs& a) {
  int diameter = 0, base = 0, nodes = -1;
  if (!parseIntOption(a.diameter, INT_MIN, INT_MAX, diameter))
    return fail(kExitUsage,
                "--diameter " + a.diameter + ": the hop limit D must be a decimal integer");
  if (!parseIntOption(a.base, 0, 1, base))
    return fail(kExitUsage, "--base " + a.base + ": the first node number must be 0 or 1");
  if (!a.nodes.empty() && !parseIntOption(a.nodes, 0, kMaxNodes, nodes)) {
    return fail(kExitUsage,
                "--nodes " + a.nodes + ": the node count must be a decimal integer from 0 to " +
                    std::to_string(kMaxNodes) + "; larger networks are beyond what dcr can solve");
  }
  double p = 0, threshold = 0;
  if (!parseDouble(a.p, p) || !(p >= 0.0 && p <= 1.0))
    return fail(kExitUsage, "--p " + a.p + ": the edge probability must be a number from 0 to 1");
  if (!parseDouble(a.threshold, threshold))
    return fail(kExitUsage,
                "--threshold " + a.threshold + ": the threshold must be a finite number");

  if (a.edges.empty() == a.graph.empty())
    return fail(kExitUsage, "give either an edge list EDGES or --graph FILE");
  EdgeList list;
  std::vector<int> flags;
  const std::string& source = a.graph.empty() ? a.edges : a.graph;
  if (!a.graph.empty()) {
    if (!a.nodes.empty() || a.base != "0")
      return fail(kExitUsage, "--nodes and --base go with an edge list only");
    dcr::Network net;
    const GraphFileOutcome read = loadGraphFile({a.graph, a.terminals, a.diameter, "", a.p}, net);
    if (read.status != kExitOk) return fail(read.status, read.message);
    // A problem file holds one link per node pair, all at one p: parallel
    // cables would silently become one.
    std::vector<std::pair<int, int>> seen;
    for (const dcr::Link& l : net.links) {
      if (l.u == l.v)
        return fail(kExitBadInput, a.graph + ": " + net.name(l.u) +
                                       " has a self-loop, which a problem file cannot hold");
      seen.emplace_back(std::min(l.u, l.v), std::max(l.u, l.v));
      list.edges.push_back({seen.back().first, seen.back().second, 0});
    }
    std::sort(seen.begin(), seen.end());
    if (auto twice = std::adjacent_find(seen.begin(), seen.end()); twice != seen.end())
      return fail(kExitBadInput,
                  a.graph + ": " + net.name(twice->first) + " - " + net.name(twice->second) +
                      " are joined by parallel links, which a problem file cannot hold (one "
                      "link per pair, one p for all); dcr-tool solve --graph takes them");
    list.nodes = net.nodes;
    flags.assign(net.nodes, 0);
    for (int t : net.terminals)
      flags[t] = 1;
  } else {
    std::string text;
    if (const InputRead why = readInput(a.edges, text); why != InputRead::kOk)
      return fail(why == InputRead::kUnreadable ? kExitInputUnreadable : kExitBadInput,
                  inputProblem(why, "edge list", a.edges));
    if (std::string bad = parseEdgeList(text, base, nodes, list); !bad.empty())
      return fail(kExitBadInput, a.edges + ": " + bad);
    if (std::string bad = parseTerminals(a.terminals, base, list.nodes, flags); !bad.empty())
      return fail(kExitUsage, "--terminals " + a.terminals + ": " + bad);
  }

  Problem problem;
  if (std::string bad = makeProblem(list, flags, diameter, p, threshold, problem); !bad.empty())
    return fail(kExitBadInput, source + ": " + bad);
  for (const std::string& warning : problemWarnings(problem, base, true))
    warn(source, warning);
  if (!writeOutput(a.output, problemText(problem)))
    return fail(kExitOutputFailed, "cannot write '" + (a.output.empty() ? "-" : a.output) + "'");
  return kExitOk;
}

// ---- show ------------------------------------------------------------

struct ShowArgs {
  std::string file;
  std::string base = "0";
  bool countPaths = true;
};

int runShow(const ShowArgs& a) {
  int base = 0;
  if (!parseIntOption(a.base, 0, 1, base))
    return fail(kExitUsage, "--base " + a.base + ": the first node number must be 0 or 1");
  Problem problem;
  std::string text;
  std::size_t end = 0;
  if (int status = loadProblem(a.file, problem, text, end); status != kExitOk) return status;
  for (const std::string& warning : problemWarnings(problem, base, false))
    warn(a.file, warning);
  if (std::string trailing = trailingTextWarning(text, end); !trailing.empty())
    warn(a.file, trailing);

  const auto number = [base](int node) { return std::to_string(node + base); };
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

  row("problem file", printable(a.file));
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
  out += "edge list (u v, nodes numbered from " + std::to_string(base) + "):\n";
  for (const Edge& e : edgesOf(problem).edges)
    out += "  " + number(e.u) + ' ' + number(e.v) + '\n';
  if (!writeOutput("-", out)) return fail(kExitOutputFailed, "cannot write to standard output");
  if (!failure.empty()) return fail(kExitOutOfMemory, "paths not counted: " + failure);
  return kExitOk;
}

// ---- sweep -----------------------------------------------------------

struct SweepArgs {
  std::string file;
  std::string p;
  std::string diameter;
  std::string threshold;
  std::string plot;
  std::string title;
  bool titleGiven = false;
  bool logUnreliability = false;
  std::string method = "search";
  EstimateArgs estimate;
  std::string timeLimit;
};

int runSweep(const SweepArgs& a) {
  if (a.p.empty() && a.diameter.empty())
    return fail(kExitUsage, "nothing to sweep: give --p FROM:TO:STEP, --diameter FROM:TO, or both");
  std::vector<double> ps;
  std::vector<int> ds;
  if (!a.p.empty()) {
    if (std::string bad = parsePRange(a.p, ps); !bad.empty())
      return fail(kExitUsage, "--p " + a.p + ": " + bad);
  }
  if (!a.diameter.empty()) {
    if (std::string bad = parseDRange(a.diameter, ds); !bad.empty())
      return fail(kExitUsage, "--diameter " + a.diameter + ": " + bad);
  }
  // Every D is solved at every p: the pairs are what is counted, and what
  // the plot keeps in memory.
  if (ps.size() * std::max<std::size_t>(ds.size(), 1) > kMaxSweepValues) {
    return fail(kExitUsage, "--p and --diameter give " + std::to_string(ps.size()) + " x " +
                                std::to_string(ds.size()) + " values to solve; more than " +
                                std::to_string(kMaxSweepValues) + " are refused");
  }
  const bool estimating = a.method == "estimate";
  dcr::Options estimateOptions;
  estimateOptions.method = dcr::Method::kEstimate;
  if (std::string bad = readEstimateOptions(a.estimate, estimateOptions); !bad.empty())
    return fail(kExitUsage, bad);
  if (!a.timeLimit.empty() &&
      (!parseDouble(a.timeLimit, estimateOptions.timeLimit) || estimateOptions.timeLimit < 0))
    return fail(kExitUsage, "--time-limit " + a.timeLimit + ": give seconds, 0 or more");
  const bool estimateOnly = !a.estimate.samples.empty() || !a.estimate.relError.empty() ||
                            !a.estimate.confidence.empty() || !a.estimate.seed.empty() ||
                            !a.timeLimit.empty();
  if (estimateOnly && !estimating)
    return fail(kExitUsage,
                "--samples, --rel-error, --confidence, --seed and --time-limit go with --method "
                "estimate");
  if (!a.estimate.threads.empty() && a.method == "search")
    return fail(kExitUsage, "--threads goes with --method frontier, auto or estimate");
  double threshold = 0;
  if (!a.threshold.empty() && !parseDouble(a.threshold, threshold))
    return fail(kExitUsage,
                "--threshold " + a.threshold + ": the threshold must be a finite number");
  std::string gnuplot;
  PlotRequest plot;
  if (!a.plot.empty()) {
    // All before any solving: a sweep can take long, and a plot that cannot
    // be drawn should not be found out at its end.
    if (std::string bad = plotFormatOf(a.plot, plot.format); !bad.empty())
      return fail(kExitUsage, "--plot " + a.plot + ": " + bad);
    gnuplot = findGnuplot();
    if (gnuplot.empty()) return fail(kExitPlotFailed, gnuplotMissingMessage());
    if (std::string bad = checkWritable(a.plot); !bad.empty())
      return fail(kExitOutputFailed, "--plot " + a.plot + ": cannot write it: " + bad);
  }

  // Against p, one line per D, unless only D takes several values.
  const bool overP = ps.size() > 1 || ds.size() <= 1;

  Problem problem;
  std::string text;
  std::size_t end = 0;
  if (int status = loadProblem(a.file, problem, text, end); status != kExitOk) return status;
  if (ps.empty()) ps.push_back(problem.R);
  if (ds.empty()) ds.push_back(problem.D);
  if (!a.threshold.empty()) problem.R0 = threshold;
  plot.output = a.plot;
  plot.logUnreliability = a.logUnreliability;
  plot.threshold = problem.R0;
  plot.integerX = !overP;
  plot.xLabel = overP ? "edge probability p" : "hop limit D";
  int terminals = 0;
  for (int f : problem.TERMINALS)
    terminals += f == 1;
  plot.title = a.titleGiven
                   ? a.title
                   : std::filesystem::path(a.file).filename().string() + ": " +
                         std::to_string(problem.N) + " nodes, " + std::to_string(problem.M) +
                         " edges, " + std::to_string(terminals) + " terminals";
  if (!overP) plot.series.push_back({"p = " + shortestText(ps[0]), {}, {}, {}, {}});

  const bool frontierRows = a.method != "search" && !estimating;
  if (estimating) {
    char band[64];
    std::snprintf(band, sizeof band, "%g%% confidence interval", 100 * estimateOptions.confidence);
    plot.bandTitle = band;
  }
  if (!writeOutput("-", estimating     ? estimateCsvHeader()
                        : frontierRows ? frontierCsvHeader()
                                       : csvHeader()))
    return fail(kExitOutputFailed, "cannot write to standard output");
  ProgressLine progress;
  const std::size_t total = ps.size() * ds.size();
  std::size_t done = 0;
  for (int D : ds) {
    if (overP) plot.series.push_back({"D = " + std::to_string(D), {}, {}, {}, {}});
    std::optional<dcr::Curve> curve;
    if (estimating) {
      // One set of samples per D serves every p.
      curve = dcr::curve(networkOf(problem, D), ps, estimateOptions);
      if (!curve->ok()) {
        progress.clear();
        return fail(kExitUsage, "D = " + std::to_string(D) + ": " + curve->message);
      }
      for (const dcr::CurvePoint& v : curve->points) {
        if (!writeOutput("-", estimateCsvRow(v, D))) {
          progress.clear();
          return fail(kExitOutputFailed, "cannot write to standard output");
        }
        PlotSeries& series = plot.series.back();
        series.x.push_back(overP ? v.p : D);
        series.y.push_back(a.logUnreliability ? v.unreliability : v.value);
        series.low.push_back(a.logUnreliability ? 1 - v.ciHigh : v.ciLow);
        series.high.push_back(a.logUnreliability ? 1 - v.ciLow : v.ciHigh);
      }
      progress.show("sweep: D = " + std::to_string(D) + " sampled");
      continue;
    }
    if (frontierRows) {
      // One decision diagram per D, read at every p (its build counts in the
      // first row of its D); under auto, dcr's search at each p where the
      // diagram does not fit.
      dcr::Options options;
      options.method = a.method == "frontier" ? dcr::Method::kFrontier : dcr::Method::kAuto;
      options.threshold = problem.R0;
      options.threads = estimateOptions.threads;
      curve = dcr::curve(networkOf(problem, D), ps, options);
      if (!curve->ok()) {
        progress.clear();
        return fail(kExitOutOfMemory,
                    "D = " + std::to_string(D) + ": " +
                        (a.method == "frontier" ? "the frontier engine stopped: " : "") +
                        curve->message +
                        (a.method == "frontier" ? " (try --method auto or search)" : ""));
      }
      if (!curve->note.empty())
        warn(a.file,
             "D = " + std::to_string(D) + ": " + curve->note + "; solved with dcr's search");
    }
    for (std::size_t i = 0; i < ps.size(); ++i) {
      const double p = ps[i];
      progress.show("sweep: " + std::to_string(++done) + "/" + std::to_string(total) +
                    "  p = " + shortestText(p) + "  D = " + std::to_string(D));
      if (curve) {
        const dcr::CurvePoint& v = curve->points[i];
        const bool search = v.method == dcr::Method::kSearch;
        const std::string digits =
            search ? reliabilityDigits(answerText(v.below ? -1.0 : v.value)) : fixed20(v.value);
        if (!writeOutput("-", frontierCsvRow(p, D, search ? "search" : "frontier", digits,
                                             search ? -1 : v.errorBound, v.seconds))) {
          progress.clear();
          return fail(kExitOutputFailed, "cannot write to standard output");
        }
        plot.series.back().x.push_back(overP ? p : D);
        const double nan = std::numeric_limits<double>::quiet_NaN();
        plot.series.back().y.push_back(v.below ? nan
                                       : a.logUnreliability
                                           ? (search ? unreliability(digits) : 1.0 - v.value)
                                           : v.value);
        continue;
      }
      problem.R = p;
      problem.D = D;
      const Solution solution = solve(problem);
      if (!solution.ok) {
        progress.clear();
        return fail(kExitOutOfMemory, "p = " + shortestText(p) + ", D = " + std::to_string(D) +
                                          ": " + solution.error);
      }
      const std::string row =
          frontierRows ? frontierCsvRow(p, D, "search", reliabilityDigits(solution.answer), -1,
                                        solution.seconds)
                       : csvRow(p, D, solution);
      if (!writeOutput("-", row)) {
        progress.clear();
        return fail(kExitOutputFailed, "cannot write to standard output");
      }
      const std::string digits = reliabilityDigits(solution.answer);
      plot.series.back().x.push_back(overP ? p : D);
      const double nan = std::numeric_limits<double>::quiet_NaN();
      plot.series.back().y.push_back(digits.empty()       ? nan
                                     : a.logUnreliability ? unreliability(digits)
                                                          : std::strtod(digits.c_str(), nullptr));
    }
  }
  progress.clear();
  if (!a.plot.empty()) {
    if (std::string bad = drawPlot(plot, gnuplot); !bad.empty())
      return failLines(kExitPlotFailed, "--plot " + a.plot + ": " + bad);
  }
  return kExitOk;
}

// The options of solve, and the estimate's (solve and sweep share them):
// every CLI11 declaration lives in this file, the one that parses.
void addEstimateOptions(CLI::App& cmd, EstimateArgs& a) {
  cmd.add_option("--samples", a.samples, "Estimate: stop after N samples")->type_name("N");
  cmd.add_option("--rel-error", a.relError,
                 "Estimate: stop once the interval's half-width is at most E times the smaller "
                 "of R and 1 - R (default 1e-3)")
      ->type_name("E");
  cmd.add_option("--confidence", a.confidence, "Estimate: of the interval (default 0.95)")
      ->type_name("C");
  cmd.add_option("--seed", a.seed, "Estimate: the same seed gives the same estimate (default 1)")
      ->type_name("S");
  cmd.add_option("--threads", a.threads,
                 "Threads for the frontier sweep and the estimate (default: all cores)")
      ->type_name("N");
}

void addSolveOptions(CLI::App& cmd, SolveArgs& a) {
  cmd.add_option("FILE", a.file, "Problem file in dcr's format, or - for standard input")
      ->type_name("FILE");
  cmd.add_option("--edges", a.edges,
                 "Edge list instead of a problem file: \"u v\" or \"u v p\" a line")
      ->type_name("FILE");
  cmd.add_option("--graph", a.graph,
                 "A GML or GraphML network file instead (the Topology Zoo's, networkx's)")
      ->type_name("FILE");
  cmd.add_option("--terminals", a.terminals,
                 "With --edges: terminal nodes, e.g. 0,3,5, or all; with --graph: node labels, "
                 "e.g. \"New York,Chicago\", #N for the N-th node (from 0), or all")
      ->type_name("LIST");
  cmd.add_option("--diameter,-D", a.diameter,
                 "With --edges or --graph: hop limit D; negative for none")
      ->type_name("D");
  cmd.add_option("--p", a.p,
                 "With --edges or --graph: probability of links that give none themselves")
      ->type_name("P");
  cmd.add_option("--p-attribute", a.pAttribute,
                 "With --graph: the link attribute that holds each link's probability")
      ->type_name("NAME");
  cmd.add_option("--nodes", a.nodes, "With --edges: node count (default: largest number + 1)")
      ->type_name("N");
  cmd.add_option("--base", a.base, "With --edges: first node number (0 or 1)")
      ->capture_default_str();
  cmd.add_option("--method", a.method, "auto, frontier, search or estimate")
      ->check(CLI::IsMember({"auto", "frontier", "search", "estimate"}))
      ->capture_default_str();
  addEstimateOptions(cmd, a.estimate);
  cmd.add_option("--threshold", a.threshold,
                 "Reliability level for a verdict (default: the problem file's)")
      ->type_name("R");
  cmd.add_flag("--decide", a.decide, "Stop as soon as the verdict is certain");
  cmd.add_flag("--exact", a.exact, "Exact rational arithmetic (probabilities as written)");
  cmd.add_flag("--fraction", a.fraction, "With --exact: also print the value as a fraction");
  cmd.add_flag("--polynomial", a.polynomial,
               "Also print N_0..N_m, the working edge sets of each size that meet the condition");
  cmd.add_flag("--importance", a.importance,
               "Also rank the links by Birnbaum importance dR/dp_e and improvement potential "
               "(1 - p_e) dR/dp_e");
  cmd.add_option("--time-limit", a.timeLimit, "Stop after S seconds with the bounds proved so far")
      ->type_name("S");
  cmd.add_option("--memory-limit", a.memoryLimit,
                 "MiB the frontier's levels may take (default: half of the memory)")
      ->type_name("MIB");
  cmd.add_option("--format", a.format, "text or json")
      ->check(CLI::IsMember({"text", "json"}))
      ->capture_default_str();
  cmd.add_flag("--mpi", a.mpi,
               "Under mpirun: spread the frontier's levels (one thread a rank; --memory-limit "
               "is per rank) or the estimate's samples over the job's ranks; rank 0 prints");
  cmd.footer(
      "The frontier engine builds a decision diagram edge by edge: the true value, with a\n"
      "rigorous bound on its rounding error (or exact with --exact), any probability per edge.\n"
      "The search method is dcr's own engine (one probability for all edges). auto picks one\n"
      "per problem and falls back to the search when the frontier outgrows its memory.");
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Companion to dcr: solves networks for their true reliability, writes dcr's problem "
      "files from edge lists, shows them, and sweeps them over p or D.",
      "dcr-tool"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("dcr-tool ") + DCR_VERSION,
                       "Print the version and exit");

  MakeInputArgs make;
  CLI::App* makeCmd =
      app.add_subcommand("make-input", "Write a dcr problem file from an edge list");
  makeCmd->footer(
      "The edge list has one edge \"u v\" a line; '#' starts a comment and blank lines are "
      "ignored.\n"
      "Self loops and repeated edges are refused with their line number. Each node's neighbours\n"
      "are written in increasing order, so one edge set always gives the same file.\n"
      "Without --nodes, a node number far beyond what the edges can join (more than twice the\n"
      "edge count plus " +
      std::to_string(kSpareNodes) + ") is refused as a typo; --nodes allows up to " +
      std::to_string(kMaxNodes) +
      " nodes.\n"
      "Integers are decimal. Warnings on standard error (isolated nodes, a terminal without\n"
      "edges, fewer than two terminals) do not change the file or the exit status.");
  makeCmd->add_option("EDGES", make.edges, "Edge list file, or - for standard input")
      ->type_name("FILE");
  makeCmd
      ->add_option("--graph", make.graph,
                   "A GML or GraphML network file instead; --terminals then names labels "
                   "(#N: the N-th node from 0)")
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
  makeCmd
      ->add_option("--base", make.base,
                   "First node number of the edge list and --terminals: 0 or 1 (default 0)")
      ->type_name("0|1");
  makeCmd
      ->add_option("--nodes", make.nodes,
                   "Node count (default: largest number seen + 1); extra nodes are isolated")
      ->type_name("N");

  ShowArgs show;
  bool noPaths = false;
  CLI::App* showCmd = app.add_subcommand("show", "Print a problem file for a person");
  showCmd->footer(
      "Prints n, m, the terminals, D, p and the threshold, how many terminal pairs, paths of at\n"
      "most D edges and links after merging there are, and the edge list. The file is read and\n"
      "checked exactly as dcr reads it, with the same error messages.\n"
      "Warnings on standard error point at what is usually a mistake: isolated nodes, a terminal\n"
      "without edges, terminal flags other than 0 and 1, fewer than two terminals, and text\n"
      "after the threshold (dcr ignores it). They do not change the printout or the exit "
      "status.");
  showCmd->add_option("FILE", show.file, "Problem file, or - for standard input")
      ->required()
      ->type_name("FILE");
  showCmd->add_option("--base", show.base, "First node number in the printout: 0 or 1 (default 0)")
      ->type_name("0|1");
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
                   "FROM:TO[:STEP] (or one value): decimal hop limits to solve; with --p, every "
                   "D is swept over every p")
      ->type_name("RANGE");
  sweepCmd
      ->add_option("--threshold", sweep.threshold,
                   "Decide against this reliability level instead of the file's")
      ->type_name("R");
  CLI::Option* plotOption =
      sweepCmd
          ->add_option("--plot", sweep.plot,
                       "Also draw reliability against the swept value into this file (needs "
                       "gnuplot); .png, .svg or .pdf picks the format; one line per D")
          ->type_name("FILE");
  sweepCmd
      ->add_option("--title", sweep.title,
                   "Title of the plot (default: the file name and the network's size)")
      ->type_name("TEXT")
      ->needs(plotOption);
  sweepCmd
      ->add_flag("--log-unreliability", sweep.logUnreliability,
                 "Plot 1 - R on a log axis instead of R, to tell values near 1 apart")
      ->needs(plotOption);
  sweepCmd
      ->add_option("--method", sweep.method,
                   "search: dcr's engine and its exact output per value; frontier: the true "
                   "value from one decision diagram per D; auto: frontier, or the search where "
                   "the frontier outgrows its memory; estimate: Monte Carlo with a confidence "
                   "interval, one set of samples for every p")
      ->check(CLI::IsMember({"search", "frontier", "auto", "estimate"}))
      ->capture_default_str();
  addEstimateOptions(*sweepCmd, sweep.estimate);
  sweepCmd
      ->add_option("--time-limit", sweep.timeLimit,
                   "Estimate: stop sampling each D after S seconds")
      ->type_name("S");
  sweepCmd->footer(
      "By default each value is solved with dcr's engine; the CSV on standard output has the\n"
      "columns p,diameter,answer,reliability,seconds: p in shortest round-trip form (the exact\n"
      "double solved), answer YES or NO, reliability the 20 decimals dcr writes (empty for NO).\n"
      "With --method frontier or auto the columns are p,diameter,method,reliability,error_bound,\n"
      "seconds: the true value within error_bound (empty for a row the search solved), and the\n"
      "diagram's build time in the first row of each D.\n"
      "With --method estimate the columns are p,diameter,method,estimate,ci_low,ci_high,\n"
      "std_error,samples,seconds: a statistical estimate of R and its confidence interval\n"
      "(method \"exact\" where no sampling was needed), the sampling time in the first row of\n"
      "each D; --plot shades the interval. Sampling stops when every p meets --rel-error\n"
      "(default 1e-3), or at --samples or --time-limit.\n"
      "A progress line goes to standard error when it is a terminal.\n"
      "At most " +
      std::to_string(kMaxSweepValues) +
      " values a sweep (p values times D values); a STEP below the spacing\n"
      "of doubles near TO is refused.\n"
      "The plot marks NO answers by the threshold line (--threshold moves it). With\n"
      "--log-unreliability, R = 1 (1 - R = 0, which a log axis cannot show) is marked at the\n"
      "bottom. The picture's format, gnuplot and whether the file can be written are checked\n"
      "before solving.");

  SolveArgs solveArgs;
  CLI::App* solveCmd = app.add_subcommand(
      "solve", "The true reliability: exact or with an error bound, per-edge probabilities");
  addSolveOptions(*solveCmd, solveArgs);

  // CLI11 would only say that a subcommand is required; name what was typed.
  const std::string first = argc > 1 ? argv[1] : "";
  if (!first.empty() && first[0] != '-' && first != "make-input" && first != "show" &&
      first != "sweep" && first != "solve") {
    return fail(kExitUsage, "unknown subcommand '" + first +
                                "'; the subcommands are make-input, show, sweep and solve (see "
                                "--help)");
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) {
      app.exit(e);  // --help, --version
      return kExitOk;
    }
    // CLI11's message quotes what was typed; printed escaped like ours.
    printLine(printable(e.what()));
    printLine("Run with --help for more information.");
    return kExitUsage;
  }
  sweep.titleGiven = sweepCmd->count("--title") > 0;

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
    if (solveCmd->parsed()) {
      command = "dcr-tool solve";
      return runSolve(solveArgs, fail);
    }
    command = "dcr-tool sweep";
    return runSweep(sweep);
  } catch (const std::bad_alloc&) {
    return fail(kExitOutOfMemory, "out of memory");
  } catch (const std::exception& e) {
    return fail(kExitOutOfMemory, e.what());
  }
}
