#include "driver/tool/solve_command.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "api/numbers.hpp"
#include "driver/exit_status.hpp"
#include "driver/problem_file.hpp"
#include "driver/tool/edge_list.hpp"
#include "driver/tool/graph_file.hpp"
#include "driver/tool/progress.hpp"
#include "driver/tool/text.hpp"
#include "frontier/exchange.hpp"
#if DCR_HAVE_MPI
#include "frontier/mpi_exchange.hpp"
#endif

namespace {

// ---- the problem as solve sees it ---------------------------------------

struct Loaded {
  dcr::Network network;
  std::optional<double> threshold;
  std::string name;  // for messages
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
  if (const InputRead why = readInput(a.edges, text); why != InputRead::kOk)
    return fail(why == InputRead::kUnreadable ? kExitInputUnreadable : kExitBadInput,
                inputProblem(why, "edge list", a.edges));
  std::map<int, std::string> byLine;
  const std::string plain = splitProbabilities(text, byLine);
  EdgeList list;
  if (std::string bad = parseEdgeList(plain, base, nodes, list); !bad.empty())
    return fail(kExitBadInput, a.edges + ": " + bad);
  std::vector<int> flags;
  if (std::string bad = parseTerminals(a.terminals, base, list.nodes, flags); !bad.empty())
    return fail(kExitUsage, "--terminals " + a.terminals + ": " + bad);
  dcr::Network& net = in.network;
  net.nodes = list.nodes;
  net.maxHops = D;
  for (int v = 0; v < list.nodes; ++v)
    if (flags[v] == 1) net.terminals.push_back(v);
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
    const auto it = byLine.find(e.line);
    const std::string* text = it != byLine.end() ? &it->second : !a.p.empty() ? &a.p : nullptr;
    if (text == nullptr)
      return fail(kExitUsage, a.edges + ": line " + std::to_string(e.line) +
                                  ": the edge has no probability; give one as a third number or "
                                  "give --p for every edge without one");
    dcr::Link link{e.u, e.v, 0};
    parseDecimal(*text, link.p);
    net.links.push_back(link);
  }
  in.name = a.edges;
  return kExitOk;
}

int loadGraph(const SolveArgs& a, Loaded& in, const Fail& fail) {
  if (a.terminals.empty() || a.diameter.empty())
    return fail(kExitUsage, "--graph needs --terminals and --diameter");
  int D = 0;
  if (!parseInt(a.diameter, D))
    return fail(kExitUsage,
                "--diameter " + a.diameter + ": the hop limit D must be a decimal integer");
  const GraphFileOutcome read =
      loadGraphFile({a.graph, a.terminals, a.diameter, a.pAttribute, a.p}, in.network);
  if (read.status != kExitOk) return fail(read.status, read.message);
  in.network.maxHops = D;
  in.name = a.graph;
  return kExitOk;
}

int loadFile(const SolveArgs& a, Loaded& in, const Fail& fail) {
  std::string text;
  if (const InputRead why = readInput(a.file, text); why != InputRead::kOk)
    return fail(why == InputRead::kUnreadable ? kExitInputUnreadable : kExitBadInput,
                inputProblem(why, "problem file", a.file));
  Problem problem;
  const ReadOutcome read = readProblem(text, problem);
  if (!read.ok) return fail(kExitBadInput, a.file + ": " + read.error);
  in.name = a.file;
  in.network = networkOf(problem, problem.D);
  in.threshold = problem.R0;
  return kExitOk;
}

// ---- output ----------------------------------------------------------------

// The numbers of a result as printed: 20 decimals, exact ones rounded to
// nearest from the fraction.
struct Printed {
  std::string reliability, unreliability, lower, upper;
};

Printed printedOf(const dcr::Result& r) {
  Printed p;
  if (r.complete) {
    p.reliability = r.exactValue ? fixedDecimals(*r.exactValue, 20) : fixed20(r.value);
    p.unreliability = r.exactUnreliability ? scientific(*r.exactUnreliability, 20)
                                           : scientific17(r.unreliability);
  }
  // Bounds are cut outward: the printed digits bound R too.
  p.lower = r.exactLower ? fixedDecimals(*r.exactLower, 20, Rounding::kDown)
                         : fixed20(r.lower, Rounding::kDown);
  p.upper = r.exactUpper ? fixedDecimals(*r.exactUpper, 20, Rounding::kUp)
                         : fixed20(r.upper, Rounding::kUp);
  return p;
}

// What Result::work counts for the method that answered.
const char* workUnit(const dcr::Result& o) {
  switch (o.method) {
    case dcr::Method::kSearch:
      return "search steps";
    case dcr::Method::kEstimate:
      return "samples";
    default:
      return "states";
  }
}

std::string textReport(const dcr::Network& network, const dcr::Result& o,
                       const std::optional<double>& threshold, bool fraction) {
  const Printed p = printedOf(o);
  const bool search = o.method == dcr::Method::kSearch;
  std::string out;
  auto row = [&out](const std::string& label, const std::string& value) {
    out += label;
    out.append(label.size() < 16 ? 16 - label.size() : 1, ' ');
    out += value + '\n';
  };
  row("method", std::string(dcr::methodName(o.method)) + " (" + o.reason + ")");
  if (o.estimated) {
    char line[160];
    std::snprintf(line, sizeof line, "%.10f  (a statistical estimate, not a bound)", o.estimate);
    row("estimate", line);
    std::snprintf(line, sizeof line, "[%.10f, %.10f]  (%g%% confidence interval)", o.ciLow,
                  o.ciHigh, 100 * o.confidence);
    row("interval", line);
    std::snprintf(line, sizeof line, "%.6e", o.unreliabilityEstimate);
    row("unreliability", line + std::string("  (estimate)"));
    std::snprintf(line, sizeof line, "%.3e", o.stdError);
    row("std error", line);
    row("samples", std::to_string(o.samples) + " (" + o.sampler + " sampling, seed " +
                       std::to_string(o.seed) + ")");
  } else if (o.complete) {
    char bound[64];
    std::snprintf(bound, sizeof bound, "  (error at most %.3g)", o.errorBound);
    row("reliability", p.reliability + (o.exact ? "  (exact, rounded to nearest)" : bound));
    row("unreliability", p.unreliability);
    if (fraction && o.exactValue) row("fraction", o.exactValue->get_str());
  } else {
    row("stopped", o.status);
  }
  row("lower bound", p.lower);
  row("upper bound", p.upper);
  if (threshold) {
    const auto v = o.verdict(threshold);
    row("threshold", shortestText(*threshold) + ": " +
                         (v ? (*v == "above" ? "above (R >= threshold)" : "below (R < threshold)")
                            : "undecided (the bounds straddle it)"));
  }
  if (!o.polynomial.empty()) {
    row("polynomial", "N_k, k = 0 .. " + std::to_string(o.polynomial.size() - 1) +
                          ": R(p) = sum N_k p^k (1-p)^(m-k)");
    for (std::size_t k = 0; k < o.polynomial.size(); ++k)
      row("  N_" + std::to_string(k), o.polynomial[k].get_str());
  }
  if (!o.importance.empty()) {
    char bound[64] = "";
    if (o.estimated)
      std::snprintf(bound, sizeof bound, "; estimates with their standard error");
    else if (!o.exact)
      std::snprintf(bound, sizeof bound, "; error at most %.3g", o.importanceError);
    row("importance",
        std::string("dR/dp_e, (1 - p_e) dR/dp_e, link; most important first") + bound);
    for (const dcr::LinkImportance& li : o.importance) {
      const dcr::Link& l = network.links[li.link];
      char values[96];
      if (!o.estimated)
        std::snprintf(values, sizeof values, "%.15f  %.15f", li.birnbaum, li.potential);
      else if (std::isnan(li.birnbaum))
        std::snprintf(values, sizeof values, "%-34s", "unknown (p_e is 0 or 1)");
      else
        std::snprintf(values, sizeof values, "%.6e ± %.1e  %.6e", li.birnbaum, li.stdError,
                      li.potential);
      const std::string text = li.exactBirnbaum ? fixedDecimals(*li.exactBirnbaum, 20) + "  " +
                                                      fixedDecimals(*li.exactPotential, 20)
                                                : values;
      out += "  " + text + "  " + network.name(l.u) + " - " + network.name(l.v) + "\n";
    }
  }
  if (o.method != dcr::Method::kEstimate)
    row(workUnit(o),
        std::to_string(o.work) +
            (search ? ""
                    : " (widest level " + std::to_string(o.widest) + ", " + o.state + " state)"));
  char secs[32];
  std::snprintf(secs, sizeof secs, "%.3f", o.seconds);
  row("seconds", secs);
  return out;
}

std::string jsonReport(const dcr::Network& network, const dcr::Result& o,
                       const std::optional<double>& threshold, bool fraction) {
  using nlohmann::json;
  const Printed p = printedOf(o);
  const bool frontier = o.method == dcr::Method::kFrontier;
  json j;
  j["reliability"] = o.complete ? json(p.reliability) : json(nullptr);
  j["unreliability"] = o.complete ? json(p.unreliability) : json(nullptr);
  j["exact"] = o.exact;
  j["error_bound"] = o.exact                      ? json(0.0)
                     : o.estimated && !o.complete ? json(nullptr)
                                                  : json(o.errorBound);
  if (o.estimated) {
    j["estimate"] = o.estimate;
    j["unreliability_estimate"] = o.unreliabilityEstimate;
    j["std_error"] = o.stdError;
    j["ci_low"] = o.ciLow;
    j["ci_high"] = o.ciHigh;
    j["confidence"] = o.confidence;
    j["samples"] = o.samples;
    j["seed"] = o.seed;
    j["sampler"] = o.sampler;
  }
  j["method"] = dcr::methodName(o.method);
  j["reason"] = o.reason;
  j["status"] = o.status;
  j["lower"] = p.lower;
  j["upper"] = p.upper;
  j["threshold"] = threshold ? json(*threshold) : json(nullptr);
  const auto v = o.verdict(threshold);
  j["verdict"] = v ? json(*v) : json(nullptr);
  j["seconds"] = o.seconds;
  // Named "states" since the first version; what it counts is the
  // method's work, and work_unit says which.
  j["states"] = o.work;
  j["work_unit"] = workUnit(o);
  if (frontier) j["state"] = o.state;
  if (frontier && !o.order.empty()) j["order"] = o.order;
  if (fraction && o.exactValue) j["fraction"] = o.exactValue->get_str();
  if (!o.polynomial.empty()) {
    std::vector<std::string> counts;
    for (const mpz_class& c : o.polynomial)
      counts.push_back(c.get_str());
    j["polynomial"] = counts;
  }
  if (!o.importance.empty()) {
    json links = json::array();
    for (const dcr::LinkImportance& li : o.importance) {
      const dcr::Link& l = network.links[li.link];
      json x;
      x["link"] = li.link;
      x["u"] = network.name(l.u);
      x["v"] = network.name(l.v);
      const bool known = !std::isnan(li.birnbaum);
      x["birnbaum"] = known ? json(li.birnbaum) : json(nullptr);
      x["potential"] = known ? json(li.potential) : json(nullptr);
      if (o.estimated) x["std_error"] = known ? json(li.stdError) : json(nullptr);
      if (li.exactBirnbaum) x["birnbaum_fraction"] = li.exactBirnbaum->get_str();
      if (li.exactPotential) x["potential_fraction"] = li.exactPotential->get_str();
      links.push_back(x);
    }
    j["importance"] = links;
    j["importance_error_bound"] = o.exact       ? json(0.0)
                                  : o.estimated ? json(nullptr)
                                                : json(o.importanceError);
  }
  return j.dump(2) + "\n";
}

}  // namespace

dcr::Network networkOf(const Problem& problem, int D) {
  dcr::Network n;
  n.nodes = problem.N;
  n.maxHops = D;
  for (int v = 0; v < problem.N; ++v)
    if (problem.TERMINALS[v] == 1) n.terminals.push_back(v);
  // The file holds a double; its shortest decimal is the number written
  // whenever the writer used no more digits than a double keeps.
  mpq_class p;
  parseDecimal(shortestText(problem.R), p);
  for (const Edge& e : edgesOf(problem).edges)
    n.links.push_back({e.u, e.v, p});
  // The search takes the file's own adjacency, as dcr does.
  n.searchOffsets = problem.KAO;
  n.searchNeighbours = problem.FO;
  return n;
}

std::string readEstimateOptions(const EstimateArgs& a, dcr::Options& o) {
  auto count = [](const std::string& text, std::uint64_t& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    value = std::strtoull(text.c_str(), nullptr, 10);
    return errno == 0;
  };
  if (!a.samples.empty() && (!count(a.samples, o.samples) || o.samples == 0))
    return "--samples " + a.samples + ": give a whole number, 1 or more";
  if (!a.seed.empty() && !count(a.seed, o.seed))
    return "--seed " + a.seed + ": give a whole number";
  if (!a.threads.empty()) {
    std::uint64_t t = 0;
    if (!count(a.threads, t) || t == 0 || t > 4096)
      return "--threads " + a.threads + ": give a number from 1 to 4096";
    o.threads = static_cast<int>(t);
  }
  if (!a.relError.empty() && (!parseDouble(a.relError, o.relError) || !(o.relError >= 0)))
    return "--rel-error " + a.relError + ": give a number, 0 or more";
  if (!a.confidence.empty() &&
      (!parseDouble(a.confidence, o.confidence) || !(o.confidence > 0 && o.confidence < 1)))
    return "--confidence " + a.confidence + ": give a number between 0 and 1";
  return "";
}

int runSolve(const SolveArgs& a, const Fail& failOnce) {
  // Under MPI every rank runs this; rank 0 alone speaks.
  std::unique_ptr<frontier::Exchange> ranks;
  if (a.mpi) {
#if DCR_HAVE_MPI
    ranks = frontier::startMpi();
#else
    return failOnce(kExitUsage,
                    "--mpi: this dcr-tool was built without MPI (install libopenmpi-dev and "
                    "openmpi-bin, then build again)");
#endif
  }
  const bool quiet = ranks && ranks->rank() != 0;
  const Fail fail = quiet ? Fail([](int status, const std::string&) { return status; }) : failOnce;
  if (a.mpi && (a.polynomial || a.importance))
    return fail(kExitUsage,
                "--mpi runs the frontier's solve (double or --exact): not with --polynomial or "
                "--importance");
  if (a.mpi && a.method == "search")
    return fail(kExitUsage, "--mpi runs the frontier or the estimate: not --method search");
  if (int(!a.file.empty()) + int(!a.edges.empty()) + int(!a.graph.empty()) != 1)
    return fail(kExitUsage, "give one of a problem FILE, --edges FILE or --graph FILE");
  if (!a.file.empty() &&
      (!a.terminals.empty() || !a.diameter.empty() || !a.p.empty() || !a.nodes.empty()))
    return fail(kExitUsage,
                "--terminals, --diameter, --p and --nodes go with --edges or --graph only");
  if (!a.pAttribute.empty() && a.graph.empty())
    return fail(kExitUsage, "--p-attribute goes with --graph only");
  if (!a.graph.empty() && (!a.nodes.empty() || a.base != "0"))
    return fail(kExitUsage, "--nodes and --base go with --edges only");
  if (a.fraction && !a.exact) return fail(kExitUsage, "--fraction needs --exact");

  dcr::Options o;
  o.method = a.method == "search"     ? dcr::Method::kSearch
             : a.method == "frontier" ? dcr::Method::kFrontier
                                      : dcr::Method::kAuto;
  o.method = a.method == "estimate" ? dcr::Method::kEstimate : o.method;
  o.exact = a.exact;
  if (std::string bad = readEstimateOptions(a.estimate, o); !bad.empty())
    return fail(kExitUsage, bad);
  o.polynomial = a.polynomial;
  o.importance = a.importance;
  if (!a.threshold.empty()) {
    double t = 0;
    if (!parseDouble(a.threshold, t))
      return fail(kExitUsage,
                  "--threshold " + a.threshold + ": the threshold must be a finite number");
    o.threshold = t;
  }
  if (!a.timeLimit.empty()) {
    if (!parseDouble(a.timeLimit, o.timeLimit) || o.timeLimit < 0)
      return fail(kExitUsage, "--time-limit " + a.timeLimit + ": give seconds, 0 or more");
  }
  if (!a.memoryLimit.empty()) {
    double mib = 0;
    if (!parseDouble(a.memoryLimit, mib) || !(mib > 0) || mib > 1e9)
      return fail(kExitUsage, "--memory-limit " + a.memoryLimit + ": give MiB, more than 0");
    o.memoryBytes = std::max<std::size_t>(1, static_cast<std::size_t>(mib * 1048576.0));
  }

  Loaded in;
  const int loaded = !a.graph.empty()   ? loadGraph(a, in, fail)
                     : !a.edges.empty() ? loadEdges(a, in, fail)
                                        : loadFile(a, in, fail);
  if (loaded != kExitOk) return loaded;
  if (!o.threshold) o.threshold = in.threshold;
  if (a.decide) {
    if (!o.threshold) return fail(kExitUsage, "--decide needs a threshold (--threshold R)");
    o.decide = true;
  }

  o.exchange = ranks.get();
  ProgressLine progress;
  if (progress.enabled() && !quiet)
    o.progress = [&progress](const dcr::Progress& p) {
      char line[200];
      if (std::string(p.engine) == "search")
        std::snprintf(line, sizeof line, "solve: search step %llu  R in [%.12f, %.12f]",
                      static_cast<unsigned long long>(p.work), p.lower, p.upper);
      else
        std::snprintf(line, sizeof line, "solve: edge %d/%d  states %llu  R in [%.12f, %.12f]",
                      p.edge, p.edges, static_cast<unsigned long long>(p.work), p.lower, p.upper);
      progress.show(line);
    };
  const dcr::Result out = dcr::solve(in.network, o);
  progress.clear();
  switch (out.error) {
    case dcr::ErrorKind::kNone:
      break;
    case dcr::ErrorKind::kInvalidNetwork:
      return fail(kExitBadInput, in.name + ": " + out.message);
    case dcr::ErrorKind::kInvalidOptions:
      return fail(kExitUsage, "--method " + a.method + ": " + out.message);
    case dcr::ErrorKind::kEngineStopped:
      return fail(kExitOutOfMemory,
                  out.message + (out.status == "memory limit"
                                     ? " (raise --memory-limit, or try --method search)"
                                     : ""));
  }

  const std::string report = a.format == "json"
                                 ? jsonReport(in.network, out, o.threshold, a.fraction)
                                 : textReport(in.network, out, o.threshold, a.fraction);
  if (quiet) return kExitOk;
  if (std::fwrite(report.data(), 1, report.size(), stdout) != report.size() ||
      std::fflush(stdout) != 0)
    return fail(kExitOutputFailed, "cannot write to standard output");
  return kExitOk;
}
