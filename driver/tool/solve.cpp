#include "driver/tool/solve.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <new>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "driver/exit_status.hpp"
#include "driver/problem_file.hpp"
#include "driver/tool/edge_list.hpp"
#include "driver/tool/numbers.hpp"
#include "driver/tool/progress.hpp"
#include "driver/tool/text.hpp"
#include "frontier/frontier.hpp"
#include "graph/my_graph.hpp"
#include "reliability/factor_skeleton.hpp"

namespace {

// ---- the problem as solve sees it ---------------------------------------

struct Loaded {
  frontier::Problem graph;
  std::vector<std::string> pText;  // per edge, the probability as written
  std::optional<double> threshold;
  std::string name;  // for messages
  Problem dcr;       // the same problem in dcr's form, for the path search
  bool dcrValid = false;
};

// Edge list lines may carry a third number, the edge's probability. It is
// taken off before the list goes through make-input's reader, and given
// back to the edge by its line number.
std::string splitProbabilities(const std::string& text, std::map<int, std::string>& byLine) {
  std::string out;
  out.reserve(text.size());
  int line = 1;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string content = text.substr(start, end - start);
    const std::size_t hash = content.find('#');
    const std::string comment = hash == std::string::npos ? "" : content.substr(hash);
    if (hash != std::string::npos) content.resize(hash);
    std::istringstream words(content);
    std::vector<std::string> w;
    for (std::string t; words >> t;)
      w.push_back(t);
    if (w.size() == 3) {
      byLine[line] = w[2];
      out += w[0] + ' ' + w[1] + ' ' + comment;
    } else {
      out += content + comment;
    }
    if (end == text.size()) break;
    out += '\n';
    start = end + 1;
    ++line;
  }
  return out;
}

int loadEdges(const SolveArgs& a, Loaded& in, const Fail& fail) {
  if (a.terminals.empty() || a.diameter.empty())
    return fail(kExitUsage, "--edges needs --terminals and --diameter");
  // Integers are decimal only, as in the other subcommands.
  int D = 0, base = 0, nodes = -1;
  if (!parseInt(a.diameter, D))
    return fail(kExitUsage,
                "--diameter " + a.diameter + ": the hop limit D must be a decimal integer");
  if (!parseInt(a.base, base) || base < 0 || base > 1)
    return fail(kExitUsage, "--base " + a.base + ": the first node number must be 0 or 1");
  if (!a.nodes.empty() && (!parseInt(a.nodes, nodes) || nodes < 0 || nodes > kMaxNodes))
    return fail(kExitUsage, "--nodes " + a.nodes +
                                ": the node count must be a decimal integer from 0 to " +
                                std::to_string(kMaxNodes));
  std::string text;
  if (!readInput(a.edges, text))
    return fail(kExitInputUnreadable, "cannot read the edge list '" + a.edges + "'");
  std::map<int, std::string> byLine;
  const std::string plain = splitProbabilities(text, byLine);
  EdgeList list;
  if (std::string bad = parseEdgeList(plain, base, nodes, list); !bad.empty())
    return fail(kExitBadInput, a.edges + ": " + bad);
  std::vector<int> flags;
  if (std::string bad = parseTerminals(a.terminals, base, list.nodes, flags); !bad.empty())
    return fail(kExitUsage, "--terminals " + a.terminals + ": " + bad);
  in.graph.nodes = list.nodes;
  in.graph.maxHops = D;
  for (int v = 0; v < list.nodes; ++v)
    if (flags[v] == 1) in.graph.terminals.push_back(v);
  const auto isProbability = [](const std::string& text) {
    mpq_class value;
    return parseDecimal(text, value) && value <= 1;
  };
  if (!a.p.empty() && !isProbability(a.p))
    return fail(kExitUsage, "--p " + a.p + ": the probability must be a decimal from 0 to 1");
  // Malformed probabilities in the file first: they are wrong whatever the
  // options say.
  for (const auto& [line, text] : byLine) {
    if (!isProbability(text))
      return fail(kExitBadInput, a.edges + ": line " + std::to_string(line) +
                                     ": the probability '" + text +
                                     "' must be a decimal from 0 to 1, such as 0.9");
  }
  for (const Edge& e : list.edges) {
    in.graph.edges.emplace_back(e.u, e.v);
    const auto it = byLine.find(e.line);
    if (it != byLine.end()) {
      in.pText.push_back(it->second);
    } else if (!a.p.empty()) {
      in.pText.push_back(a.p);
    } else {
      return fail(kExitUsage, a.edges + ": line " + std::to_string(e.line) +
                                  ": the edge has no probability; give one as a third number or "
                                  "give --p for every edge without one");
    }
  }
  in.name = a.edges;
  // dcr's form, for the path search: only when one probability serves all.
  double p = 0;
  if (!in.pText.empty()) p = std::strtod(in.pText[0].c_str(), nullptr);
  if (makeProblem(list, flags, D, p, 0.0, in.dcr).empty()) in.dcrValid = true;
  return kExitOk;
}

int loadFile(const SolveArgs& a, Loaded& in, const Fail& fail) {
  std::string text;
  if (!readInput(a.file, text))
    return fail(kExitInputUnreadable, "cannot read the problem file '" + a.file + "'");
  const ReadOutcome read = readProblem(text, in.dcr);
  if (!read.ok) return fail(kExitBadInput, a.file + ": " + read.error);
  in.dcrValid = true;
  in.name = a.file;
  in.graph = frontierProblemOf(in.dcr, in.dcr.D);
  // The file holds a double; its shortest decimal is the number written
  // whenever the writer used no more digits than a double keeps.
  in.pText.assign(in.graph.edges.size(), shortestText(in.dcr.R));
  in.threshold = in.dcr.R0;
  return kExitOk;
}

// ---- results -------------------------------------------------------------

struct Outcome {
  std::string method;  // "frontier" or "search"
  std::string why;     // how auto chose, or "asked for"
  bool complete = false;
  bool exact = false;
  std::string status;                                    // "complete", "decided", "time limit", ...
  std::string reliability, unreliability, lower, upper;  // printed
  double errorBound = 0;                                 // on reliability (and on unreliability)
  double lowerValue = 0, upperValue = 1;                 // for the verdict
  std::optional<mpq_class> exactValue;
  std::uint64_t states = 0;
  std::uint64_t widest = 0;
  int edgesUsed = 0;
  std::string state;  // the frontier's state kind
  std::string order;  // how the frontier's edge order was made, if named
  std::vector<std::string> polynomial;
  double seconds = 0;
};

bool stoppedWithBounds(frontier::Status s) {
  return s == frontier::Status::kComplete || s == frontier::Status::kDecided ||
         s == frontier::Status::kTimeLimit || s == frontier::Status::kCancelled;
}

struct Request {
  bool exact = false;
  bool polynomial = false;
  double timeLimit = -1;
  std::optional<double> decide;
  std::size_t memoryBytes = 0;
};

void copyStats(const frontier::Stats& s, Outcome& out) {
  out.states = s.statesCreated;
  out.widest = s.widestLevel;
  out.edgesUsed = s.edgesUsed;
  out.state = frontier::kindName(s.kind);
  out.order = s.order;
}

// Runs the frontier engine. Returns its status; fills `out` when the status
// carries a value or bounds.
frontier::Status runFrontier(const Loaded& in, const Request& r, Outcome& out,
                             std::string& message) {
  ProgressLine progress;
  frontier::Options options;
  options.timeLimit = r.timeLimit;
  options.decide = r.decide;
  options.memoryBytes = r.memoryBytes;
  if (progress.enabled()) {
    options.progress = [&](const frontier::Progress& p) {
      char line[200];
      std::snprintf(line, sizeof line, "solve: edge %d/%d  states %llu  R in [%.12f, %.12f]",
                    p.edge, p.edges, static_cast<unsigned long long>(p.states), p.lower, p.upper);
      progress.show(line);
    };
  }
  out.method = "frontier";

  if (r.polynomial) {
    const frontier::Polynomial poly = frontier::reliabilityPolynomial(in.graph, options);
    if (poly.status != frontier::Status::kComplete) {
      message = poly.message;
      return poly.status;
    }
    for (const mpz_class& c : poly.counts)
      out.polynomial.push_back(c.get_str());
  }

  if (r.exact) {
    std::vector<mpq_class> p(in.pText.size());
    for (std::size_t e = 0; e < p.size(); ++e)
      parseDecimal(in.pText[e], p[e]);
    const frontier::ExactResult x = frontier::solveExact(in.graph, p, options);
    progress.clear();
    message = x.message;
    copyStats(x.stats, out);
    // A memory stop still proved bounds (the masses settled so far): auto
    // keeps them when it hands over.
    if (!stoppedWithBounds(x.status) && x.status != frontier::Status::kMemoryLimit) return x.status;
    out.exact = true;
    out.complete = x.status == frontier::Status::kComplete;
    out.status = frontier::statusName(x.status);
    out.lower = fixedDecimals(x.lower, 20);
    out.upper = fixedDecimals(x.upper, 20);
    out.lowerValue = x.lower.get_d();
    out.upperValue = x.upper.get_d();
    if (out.complete) {
      out.exactValue = x.reliability;
      out.reliability = fixedDecimals(x.reliability, 20);
      out.unreliability = scientific(x.unreliability, 20);
    }
    return x.status;
  }

  std::vector<double> p(in.pText.size()), q(in.pText.size());
  for (std::size_t e = 0; e < p.size(); ++e) {
    mpq_class exact;
    parseDecimal(in.pText[e], exact);
    p[e] = nearestDouble(exact);
    q[e] = nearestDouble(1 - exact);
  }
  const frontier::DoubleResult d = frontier::solveDouble(in.graph, p, q, options);
  progress.clear();
  message = d.message;
  copyStats(d.stats, out);
  if (!stoppedWithBounds(d.status) && d.status != frontier::Status::kMemoryLimit) return d.status;
  out.complete = d.status == frontier::Status::kComplete;
  out.status = frontier::statusName(d.status);
  out.lower = fixed20(d.lower);
  out.upper = fixed20(d.upper);
  out.lowerValue = d.lower;
  out.upperValue = d.upper;
  if (out.complete) {
    out.reliability = fixed20(d.reliability);
    out.unreliability = scientific17(d.unreliability);
    out.errorBound = std::max(d.reliabilityError, d.unreliabilityError);
  }
  return d.status;
}

// A bound on the rounding error of the path search, from its sizes. Each
// leaf is a product of at most `numLinks` factors: p^g (the conversion of
// p and g - 1 products: 2g - 1 roundings), or 1 - p^g, whose relative error
// the subtraction magnifies by p^g / (1 - p^g), plus one more; each factor
// costs one more rounding in the product. The leaves, at most steps + 1,
// are summed (or subtracted from 1) one after another. With k roundings in
// all, both sums are within k u / (1 - k u) of the true ones (u = 2^-53),
// to first order in u for the magnified terms.
double searchErrorBound(const myGraph& g, double p) {
  const double u = std::ldexp(1.0, -53);
  double worst = 1;  // roundings per factor
  for (int r = 0; r < g.numLinks; ++r) {
    if (g.linkRecord(r)[0] == -1) continue;
    const double x = g.linkProb[r];
    const double group =
        p > 0 && p < 1 && x > 0 ? std::max(1.0, std::round(std::log(x) / std::log(p))) : 1.0;
    const double works = 2 * group - 1;
    const double fails = x < 1 ? works * x / (1 - x) + 1 : std::numeric_limits<double>::infinity();
    worst = std::max({worst, works, fails});
  }
  const double k = (worst + 1) * g.numLinks + static_cast<double>(g.searchSteps) + 1;
  const double ku = k * u * 1.01;  // the 1% covers the second-order terms
  if (!(ku < 0.5)) return 1.0;
  return std::min(1.0, ku / (1 - ku));
}

// Runs dcr's engine on a problem with one probability for every edge.
// Returns "" or why it could not.
// Watches dcr's search: the progress line, and the time limit.
struct SearchWatch {
  using clock = std::chrono::steady_clock;
  std::optional<clock::time_point> deadline;
  ProgressLine* line = nullptr;
  clock::time_point lastShown{};

  static bool poll(void* self, double sum, double bound, long long steps) {
    SearchWatch& w = *static_cast<SearchWatch*>(self);
    const clock::time_point now = clock::now();
    if (w.line && w.line->enabled() && now - w.lastShown > std::chrono::milliseconds(200)) {
      char text[160];
      std::snprintf(text, sizeof text, "solve: search step %lld  R in [%.12f, %.12f]", steps, sum,
                    bound);
      w.line->show(text);
      w.lastShown = now;
    }
    return w.deadline && now >= *w.deadline;
  }
};

std::string runSearch(const Loaded& in, const std::optional<double>& cutOff,
                      const std::optional<std::chrono::steady_clock::time_point>& deadline,
                      Outcome& out, bool boundPaths) {
  out.method = "search";
  const auto start = std::chrono::steady_clock::now();
  const double p = in.pText.empty() ? 0.0 : std::strtod(in.pText[0].c_str(), nullptr);
  try {
    myGraph g(in.dcr.KAO.data(), in.dcr.FO.data(), in.dcr.TERMINALS.data(), in.dcr.N, in.dcr.M,
              in.dcr.D, p, cutOff.value_or(-std::numeric_limits<double>::infinity()));
    // Under auto the paths get at most 1 GiB: past that the enumeration
    // stops (a search over that many paths would not end anyway) instead
    // of filling the memory first, and auto answers with what it has.
    if (boundPaths) g.memoryLimit = std::min(g.memoryLimit, std::size_t{1} << 30);
    ProgressLine line;
    SearchWatch watcher{deadline, &line};
    const search::watch watch{&SearchWatch::poll, &watcher};
    g.searchWatch = &watch;
    const double result = g.computeReliability();
    line.clear();
    out.states = static_cast<std::uint64_t>(g.searchSteps);
    // The search's own bounds, widened by its rounding error so that they
    // hold for the true value (its sums drift on long searches).
    const double bound = searchErrorBound(g, p);
    out.lowerValue = std::max(0.0, g.reliability - bound);
    out.upperValue = std::min(1.0, g.upperBound + bound);
    out.lower = fixed20(out.lowerValue);
    out.upper = fixed20(out.upperValue);
    out.errorBound = bound;
    if (g.searchStopped) {
      out.status = "time limit";
      out.complete = false;
    } else if (result == -1.0) {
      out.status = "decided";
      out.complete = false;
    } else {
      out.status = "complete";
      out.complete = true;
      out.reliability = fixed20(g.reliability);
      out.unreliability = scientific17(1.0 - g.reliability);
    }
  } catch (const pathStoreFull& full) {
    return "the paths do not fit in memory (" + std::to_string(full.pathsStored) +
           " paths stored); a tighter hop limit D needs fewer paths";
  } catch (const std::bad_alloc&) {
    return "out of memory";
  }
  out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return "";
}

bool sameProbabilityEverywhere(const Loaded& in) {
  if (in.pText.empty()) return true;
  mpq_class first, other;
  parseDecimal(in.pText[0], first);
  for (const std::string& t : in.pText) {
    parseDecimal(t, other);
    if (other != first) return false;
  }
  return true;
}

// ---- output ----------------------------------------------------------------

std::optional<std::string> verdictOf(const Outcome& o, const std::optional<double>& threshold) {
  if (!threshold) return std::nullopt;
  if (o.exactValue) return *o.exactValue >= mpq_class(*threshold) ? "above" : "below";
  if (o.lowerValue >= *threshold) return "above";
  if (o.upperValue < *threshold) return "below";
  return std::nullopt;  // the bounds straddle the threshold
}

std::string textReport(const Outcome& o, const std::optional<double>& threshold, bool fraction) {
  std::string out;
  auto row = [&out](const std::string& label, const std::string& value) {
    out += label;
    out.append(label.size() < 16 ? 16 - label.size() : 1, ' ');
    out += value + '\n';
  };
  row("method", o.method + " (" + o.why + ")");
  if (o.complete) {
    char bound[64];
    std::snprintf(bound, sizeof bound, "  (error at most %.3g)", o.errorBound);
    row("reliability", o.reliability + (o.exact ? "  (exact, rounded to nearest)" : bound));
    row("unreliability", o.unreliability);
    if (fraction && o.exactValue) row("fraction", o.exactValue->get_str());
  } else {
    row("stopped", o.status);
  }
  row("lower bound", o.lower);
  row("upper bound", o.upper);
  if (threshold) {
    const auto v = verdictOf(o, threshold);
    row("threshold", shortestText(*threshold) + ": " +
                         (v ? (*v == "above" ? "above (R >= threshold)" : "below (R < threshold)")
                            : "undecided (the bounds straddle it)"));
  }
  if (!o.polynomial.empty()) {
    row("polynomial", "N_k, k = 0 .. " + std::to_string(o.polynomial.size() - 1) +
                          ": R(p) = sum N_k p^k (1-p)^(m-k)");
    for (std::size_t k = 0; k < o.polynomial.size(); ++k)
      row("  N_" + std::to_string(k), o.polynomial[k]);
  }
  row(o.method == "search" ? "search steps" : "states",
      std::to_string(o.states) +
          (o.method == "frontier"
               ? " (widest level " + std::to_string(o.widest) + ", " + o.state + " state)"
               : ""));
  char secs[32];
  std::snprintf(secs, sizeof secs, "%.3f", o.seconds);
  row("seconds", secs);
  return out;
}

std::string jsonReport(const Outcome& o, const std::optional<double>& threshold, bool fraction) {
  using nlohmann::json;
  json j;
  j["reliability"] = o.complete ? json(o.reliability) : json(nullptr);
  j["unreliability"] = o.complete ? json(o.unreliability) : json(nullptr);
  j["exact"] = o.exact;
  j["error_bound"] = o.exact ? 0.0 : o.errorBound;
  j["method"] = o.method;
  j["reason"] = o.why;
  j["status"] = o.status;
  j["lower"] = o.lower;
  j["upper"] = o.upper;
  j["threshold"] = threshold ? json(*threshold) : json(nullptr);
  const auto v = verdictOf(o, threshold);
  j["verdict"] = v ? json(*v) : json(nullptr);
  j["seconds"] = o.seconds;
  j["states"] = o.states;
  if (o.method == "frontier") j["state"] = o.state;
  if (o.method == "frontier" && !o.order.empty()) j["order"] = o.order;
  if (fraction && o.exactValue) j["fraction"] = o.exactValue->get_str();
  if (!o.polynomial.empty()) j["polynomial"] = o.polynomial;
  return j.dump(2) + "\n";
}

}  // namespace

frontier::Problem frontierProblemOf(const Problem& problem, int D) {
  frontier::Problem graph;
  graph.nodes = problem.N;
  graph.maxHops = D;
  for (int v = 0; v < problem.N; ++v)
    if (problem.TERMINALS[v] == 1) graph.terminals.push_back(v);
  for (const Edge& e : edgesOf(problem).edges)
    graph.edges.emplace_back(e.u, e.v);
  return graph;
}

std::size_t defaultFrontierMemory() {
  return memoryAvailable() / 2;
}

void addSolveOptions(CLI::App& cmd, SolveArgs& a) {
  cmd.add_option("FILE", a.file, "Problem file in dcr's format, or - for standard input")
      ->type_name("FILE");
  cmd.add_option("--edges", a.edges,
                 "Edge list instead of a problem file: \"u v\" or \"u v p\" a line")
      ->type_name("FILE");
  cmd.add_option("--terminals", a.terminals, "With --edges: terminal nodes, e.g. 0,3,5, or all")
      ->type_name("LIST");
  cmd.add_option("--diameter,-D", a.diameter, "With --edges: hop limit D; negative for none")
      ->type_name("D");
  cmd.add_option("--p", a.p, "With --edges: probability of edges whose line gives none")
      ->type_name("P");
  cmd.add_option("--nodes", a.nodes, "With --edges: node count (default: largest number + 1)")
      ->type_name("N");
  cmd.add_option("--base", a.base, "With --edges: first node number (0 or 1)")
      ->capture_default_str();
  cmd.add_option("--method", a.method, "auto, frontier or search")
      ->check(CLI::IsMember({"auto", "frontier", "search"}))
      ->capture_default_str();
  cmd.add_option("--threshold", a.threshold,
                 "Reliability level for a verdict (default: the problem file's)")
      ->type_name("R");
  cmd.add_flag("--decide", a.decide, "Stop as soon as the verdict is certain");
  cmd.add_flag("--exact", a.exact, "Exact rational arithmetic (probabilities as written)");
  cmd.add_flag("--fraction", a.fraction, "With --exact: also print the value as a fraction");
  cmd.add_flag("--polynomial", a.polynomial,
               "Also print N_0..N_m, the working edge sets of each size that meet the condition");
  cmd.add_option("--time-limit", a.timeLimit, "Stop after S seconds with the bounds proved so far")
      ->type_name("S");
  cmd.add_option("--memory-limit", a.memoryLimit,
                 "MiB the frontier's levels may take (default: half of the memory)")
      ->type_name("MIB");
  cmd.add_option("--format", a.format, "text or json")
      ->check(CLI::IsMember({"text", "json"}))
      ->capture_default_str();
  cmd.footer(
      "The frontier engine builds a decision diagram edge by edge: the true value, with a\n"
      "rigorous bound on its rounding error (or exact with --exact), any probability per edge.\n"
      "The search method is dcr's own engine (one probability for all edges). auto picks one\n"
      "per problem and falls back to the search when the frontier outgrows its memory.");
}

int runSolve(const SolveArgs& a, const Fail& fail) {
  const auto start = std::chrono::steady_clock::now();
  if (a.file.empty() == a.edges.empty())
    return fail(kExitUsage, "give either a problem FILE or --edges FILE");
  if (!a.file.empty() &&
      (!a.terminals.empty() || !a.diameter.empty() || !a.p.empty() || !a.nodes.empty()))
    return fail(kExitUsage, "--terminals, --diameter, --p and --nodes go with --edges only");
  if (a.fraction && !a.exact) return fail(kExitUsage, "--fraction needs --exact");

  Request r;
  r.exact = a.exact;
  r.polynomial = a.polynomial;
  std::optional<double> threshold;
  if (!a.threshold.empty()) {
    double t = 0;
    if (!parseDouble(a.threshold, t))
      return fail(kExitUsage,
                  "--threshold " + a.threshold + ": the threshold must be a finite number");
    threshold = t;
  }
  if (!a.timeLimit.empty()) {
    if (!parseDouble(a.timeLimit, r.timeLimit) || r.timeLimit < 0)
      return fail(kExitUsage, "--time-limit " + a.timeLimit + ": give seconds, 0 or more");
  }
  r.memoryBytes = defaultFrontierMemory();
  if (!a.memoryLimit.empty()) {
    double mib = 0;
    if (!parseDouble(a.memoryLimit, mib) || !(mib > 0) || mib > 1e9)
      return fail(kExitUsage, "--memory-limit " + a.memoryLimit + ": give MiB, more than 0");
    r.memoryBytes = std::max<std::size_t>(1, static_cast<std::size_t>(mib * 1048576.0));
  }

  Loaded in;
  const int loaded = a.file.empty() ? loadEdges(a, in, fail) : loadFile(a, in, fail);
  if (loaded != kExitOk) return loaded;
  if (!threshold) threshold = in.threshold;
  if (a.decide) {
    if (!threshold) return fail(kExitUsage, "--decide needs a threshold (--threshold R)");
    r.decide = *threshold;
  }
  if (in.graph.terminals.size() < 2)
    return fail(kExitBadInput, in.name + ": the problem has " +
                                   std::to_string(in.graph.terminals.size()) +
                                   " terminals; the reliability needs at least two");

  const bool uniform = sameProbabilityEverywhere(in);
  const int n = in.graph.nodes, D = in.graph.maxHops;
  const bool noLimit = D < 0 || D >= n - 1;
  const std::size_t K = in.graph.terminals.size();

  std::string method = a.method, why = "asked for";
  if (method == "search") {
    if (!uniform) return fail(kExitUsage, "--method search needs one probability for every edge");
    if (a.exact || a.polynomial)
      return fail(kExitUsage, "--exact and --polynomial need the frontier method");
  } else if (method == "auto") {
    if (a.exact || a.polynomial || !uniform) {
      method = "frontier";
      why = a.exact        ? "exact arithmetic: only the frontier engine has it"
            : a.polynomial ? "a polynomial: only the frontier engine counts it"
                           : "per-edge probabilities: only the frontier engine takes them";
    } else {
      method = "frontier";
      why = noLimit ? "no hop limit binds"
                    : std::to_string(K) + " terminals, hop limit " + std::to_string(D);
    }
  }

  Outcome out;
  std::string message;
  // auto may hand over to the path search when the frontier stops; with a
  // time limit the frontier then gets the larger share and the search the
  // rest, and the answer keeps the best bounds either proved.
  const bool mayHandOver = a.method == "auto" && method == "frontier" && uniform && !a.exact &&
                           !a.polynomial && in.dcrValid;
  std::optional<Outcome> frontierBounds;
  if (method == "frontier") {
    Request fr = r;
    if (mayHandOver && r.timeLimit > 0) fr.timeLimit = 0.7 * r.timeLimit;
    const frontier::Status s = runFrontier(in, fr, out, message);
    if (s == frontier::Status::kTooFewTerminals)
      return fail(kExitBadInput, in.name + ": " + message);
    if (s == frontier::Status::kInvalidInput) return fail(kExitBadInput, in.name + ": " + message);
    const bool stoppedShort = s == frontier::Status::kMemoryLimit ||
                              s == frontier::Status::kUnsupported ||
                              (s == frontier::Status::kTimeLimit && fr.timeLimit < r.timeLimit);
    if (mayHandOver && stoppedShort) {
      if (stoppedWithBounds(s) || s == frontier::Status::kMemoryLimit) frontierBounds = out;
      why = "the frontier stopped (" +
            (message.empty() ? std::string(frontier::statusName(s)) : message) +
            (s == frontier::Status::kTimeLimit ? ", after 70% of the time limit" : "") +
            "); handed over to the path search";
      method = "search";
      out = Outcome{};
    } else if (a.method == "auto" && s == frontier::Status::kMemoryLimit) {
      // Nothing to hand over to (per-edge probabilities, exact, a
      // polynomial): the bounds proved before the memory ran out.
      why += "; the frontier stopped at --memory-limit with the bounds proved so far";
    } else if (!stoppedWithBounds(s)) {
      return fail(kExitOutOfMemory, "the frontier engine stopped: " + message +
                                        (s == frontier::Status::kMemoryLimit
                                             ? " (raise --memory-limit, or try --method search)"
                                             : ""));
    }
  }
  if (method == "search") {
    if (!in.dcrValid) return fail(kExitBadInput, in.name + ": too many edges for the path search");
    std::optional<std::chrono::steady_clock::time_point> deadline;
    if (r.timeLimit >= 0)
      deadline = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                             std::chrono::duration<double>(r.timeLimit));
    std::string bad = runSearch(in, r.decide, deadline, out, a.method == "auto");
    if (!bad.empty() && !frontierBounds && !mayHandOver)
      return fail(kExitOutOfMemory, "the path search stopped: " + bad);
    if (!bad.empty() && !frontierBounds) {
      // Neither engine could run at all: say so, with the only bounds known.
      frontierBounds = Outcome{};
      frontierBounds->method = "frontier";
      frontierBounds->status = "memory limit";
      frontierBounds->lower = fixed20(0.0);
      frontierBounds->upper = fixed20(1.0);
    }
    if (!bad.empty()) {
      // The search could not start: the frontier's bounds are the answer.
      out = *frontierBounds;
      why += ", which stopped too (" + bad + "): the frontier's bounds stand";
    } else if (frontierBounds && !out.complete) {
      // Both stopped: the tighter of the proved bounds.
      if (frontierBounds->lowerValue > out.lowerValue)
        out.lowerValue = frontierBounds->lowerValue, out.lower = frontierBounds->lower;
      if (frontierBounds->upperValue < out.upperValue)
        out.upperValue = frontierBounds->upperValue, out.upper = frontierBounds->upper;
    }
  }
  out.why = why;
  out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  const std::string report = a.format == "json" ? jsonReport(out, threshold, a.fraction)
                                                : textReport(out, threshold, a.fraction);
  if (std::fwrite(report.data(), 1, report.size(), stdout) != report.size() ||
      std::fflush(stdout) != 0)
    return fail(kExitOutputFailed, "cannot write to standard output");
  return kExitOk;
}
