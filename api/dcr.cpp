#include "api/dcr.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <new>
#include <thread>

#include "estimate/estimate.hpp"
#include "frontier/frontier.hpp"
#include "graph/adjacency.hpp"
#include "reliability/factor_skeleton.hpp"
#include "reliability/my_graph.hpp"

namespace dcr {

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

Result failure(ErrorKind kind, std::string message) {
  Result r;
  r.error = kind;
  r.message = std::move(message);
  return r;
}

// Terminals named twice count once, as the engines take them (the
// network is checked first: every terminal is a node).
std::size_t distinctTerminals(const Network& n) {
  std::vector<int> t = n.terminals;
  std::sort(t.begin(), t.end());
  return static_cast<std::size_t>(std::unique(t.begin(), t.end()) - t.begin());
}

bool stoppedWithBounds(frontier::Status s) {
  return s == frontier::Status::kComplete || s == frontier::Status::kDecided ||
         s == frontier::Status::kTimeLimit || s == frontier::Status::kCancelled;
}

frontier::Problem frontierProblem(const Network& n) {
  frontier::Problem g;
  g.nodes = n.nodes;
  g.maxHops = n.maxHops;
  g.terminals = n.terminals;
  for (const Link& l : n.links)
    g.edges.emplace_back(l.u, l.v);
  return g;
}

void copyStats(const frontier::Stats& s, Result& out) {
  out.work = s.statesCreated;
  out.widest = s.widestLevel;
  out.linksUsed = s.edgesUsed;
  out.state = frontier::kindName(s.kind);
  out.order = s.order;
}

frontier::Options frontierOptions(const Options& o, double timeLimit) {
  frontier::Options f;
  f.timeLimit = timeLimit;
  if (o.decide && o.threshold) f.decide = *o.threshold;
  f.memoryBytes = o.memoryBytes != 0 ? o.memoryBytes : defaultMemory();
  f.threads = o.threads > 0 ? o.threads
                            : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  f.exchange = o.exchange;
  if (f.exchange != nullptr) f.threads = 1;  // a rank per core
  if (o.progress)
    f.progress = [&o](const frontier::Progress& p) {
      Progress q;
      q.engine = "frontier";
      q.edge = p.edge;
      q.edges = p.edges;
      q.work = p.states;
      q.lower = p.lower;
      q.upper = p.upper;
      o.progress(q);
    };
  f.cancelled = o.cancelled;
  return f;
}

// Runs the frontier engine. Returns its status; fills `out` when the status
// carries a value or bounds (a memory stop's bounds included: auto keeps
// them when it hands over).
frontier::Status runFrontier(const Network& n, const Options& o, double timeLimit, Result& out,
                             std::string& message) {
  const frontier::Problem g = frontierProblem(n);
  const frontier::Options options = frontierOptions(o, timeLimit);
  out.method = Method::kFrontier;
  if (o.polynomial) {
    const frontier::Polynomial poly = frontier::reliabilityPolynomial(g, options);
    if (poly.status != frontier::Status::kComplete) {
      // Stopped: the counts prove no bounds on R, so [0, 1] stands.
      message = poly.message;
      copyStats(poly.stats, out);
      out.status = frontier::statusName(poly.status);
      return poly.status;
    }
    out.polynomial = poly.counts;
  }
  std::vector<mpq_class> exactP;
  if (o.exact)
    for (const Link& l : n.links)
      exactP.push_back(l.p);
  if (o.exact && o.importance) {
    const frontier::ExactImportanceResult x = frontier::importanceExact(g, exactP, options);
    message = x.message;
    copyStats(x.stats, out);
    out.status = frontier::statusName(x.status);  // stopped: no bounds beyond [0, 1]
    if (x.status != frontier::Status::kComplete) return x.status;
    out.exact = out.complete = true;
    out.exactValue = out.exactLower = out.exactUpper = x.reliability;
    out.exactUnreliability = 1 - x.reliability;
    out.value = out.lower = out.upper = nearestDouble(x.reliability);
    out.unreliability = nearestDouble(*out.exactUnreliability);
    for (std::size_t e = 0; e < n.links.size(); ++e) {
      LinkImportance li;
      li.link = static_cast<int>(e);
      li.exactBirnbaum = x.birnbaum[e];
      li.exactPotential = x.potential[e];
      li.birnbaum = nearestDouble(x.birnbaum[e]);
      li.potential = nearestDouble(x.potential[e]);
      out.importance.push_back(li);
    }
    return x.status;
  }
  if (o.exact) {
    const frontier::ExactResult x = frontier::solveExact(g, exactP, options);
    message = x.message;
    copyStats(x.stats, out);
    if (!stoppedWithBounds(x.status) && x.status != frontier::Status::kMemoryLimit) return x.status;
    out.exact = true;
    out.complete = x.status == frontier::Status::kComplete;
    out.status = frontier::statusName(x.status);
    out.exactLower = x.lower;
    out.exactUpper = x.upper;
    out.lower = nearestDouble(x.lower);
    out.upper = nearestDouble(x.upper);
    if (out.complete) {
      out.exactValue = x.reliability;
      out.exactUnreliability = x.unreliability;
      out.value = nearestDouble(x.reliability);
      out.unreliability = nearestDouble(x.unreliability);
    }
    return x.status;
  }
  std::vector<double> p, q;
  for (const Link& l : n.links) {
    p.push_back(nearestDouble(l.p));
    q.push_back(nearestDouble(1 - l.p));
  }
  if (o.importance) {
    const frontier::ImportanceResult x = frontier::importanceDouble(g, p, q, options);
    message = x.message;
    copyStats(x.stats, out);
    out.status = frontier::statusName(x.status);  // stopped: no bounds beyond [0, 1]
    if (x.status != frontier::Status::kComplete) return x.status;
    out.complete = true;
    out.status = frontier::statusName(x.status);
    out.value = x.reliability;
    out.unreliability = 1.0 - x.reliability;
    out.errorBound = x.reliabilityError;
    out.lower = std::max(0.0, x.reliability - x.reliabilityError);
    out.upper = std::min(1.0, x.reliability + x.reliabilityError);
    out.importanceError = x.birnbaumError;
    out.potentialError = x.potentialError;
    for (std::size_t e = 0; e < n.links.size(); ++e)
      out.importance.push_back({static_cast<int>(e), x.birnbaum[e], x.potential[e], {}, {}});
    return x.status;
  }
  const frontier::DoubleResult d = frontier::solveDouble(g, p, q, options);
  message = d.message;
  copyStats(d.stats, out);
  if (!stoppedWithBounds(d.status) && d.status != frontier::Status::kMemoryLimit) return d.status;
  out.complete = d.status == frontier::Status::kComplete;
  out.status = frontier::statusName(d.status);
  out.lower = d.lower;
  out.upper = d.upper;
  if (out.complete) {
    out.value = d.reliability;
    out.unreliability = d.unreliability;
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

// Watches dcr's search: progress, cancel and the deadline.
struct SearchWatch {
  const Options* options = nullptr;
  std::optional<Clock::time_point> deadline;
  Clock::time_point lastShown{};

  static bool poll(void* self, double sum, double bound, long long steps) {
    SearchWatch& w = *static_cast<SearchWatch*>(self);
    const Clock::time_point now = Clock::now();
    if (w.options->progress && now - w.lastShown > std::chrono::milliseconds(200)) {
      Progress p;
      p.engine = "search";
      p.work = static_cast<std::uint64_t>(steps);
      p.lower = sum;
      p.upper = bound;
      w.options->progress(p);
      w.lastShown = now;
    }
    if (w.options->cancelled && w.options->cancelled()) return true;
    return w.deadline && now >= *w.deadline;
  }
};

// dcr's adjacency for the network: the one it came with, or one built
// from the links with each node's neighbours ascending.
void searchAdjacency(const Network& n, std::vector<int>& offsets, std::vector<int>& neighbours) {
  if (!n.searchOffsets.empty()) {
    offsets = n.searchOffsets;
    neighbours = n.searchNeighbours;
    return;
  }
  std::vector<std::pair<int, int>> edges;
  for (const Link& l : n.links)
    edges.emplace_back(l.u, l.v);
  adjacencyLists lists = adjacencyOf(n.nodes, edges);
  offsets = std::move(lists.offsets);
  neighbours = std::move(lists.neighbours);
}

// Runs dcr's engine (one p for every link). Returns "" or why it could not.
std::string runSearch(const Network& n, const Options& o,
                      const std::optional<Clock::time_point>& deadline, bool boundPaths,
                      Result& out) {
  out.method = Method::kSearch;
  const double p = n.links.empty() ? 0.0 : nearestDouble(n.links[0].p);
  std::vector<int> offsets, neighbours, flags(n.nodes, 0);
  searchAdjacency(n, offsets, neighbours);
  for (int t : n.terminals)
    flags[t] = 1;
  const std::optional<double> cutOff = o.decide ? o.threshold : std::nullopt;
  try {
    myGraph g(offsets.data(), neighbours.data(), flags.data(), n.nodes,
              static_cast<int>(neighbours.size() / 2), n.maxHops, p,
              cutOff.value_or(-std::numeric_limits<double>::infinity()));
    // Under auto the paths get at most 1 GiB: past that the enumeration
    // stops (a search over that many paths would not end anyway) instead
    // of filling the memory first, and auto answers with what it has.
    if (boundPaths) g.memoryLimit = std::min(g.memoryLimit, std::size_t{1} << 30);
    SearchWatch watcher{&o, deadline};
    const search::watch watch{&SearchWatch::poll, &watcher};
    g.searchWatch = &watch;
    const double result = g.computeReliability();
    out.work = static_cast<std::uint64_t>(g.searchSteps);
    // The search's own bounds, widened by its rounding error so that they
    // hold for the true value (its sums drift on long searches).
    const double bound = searchErrorBound(g, p);
    out.lower = std::max(0.0, g.reliability - bound);
    out.upper = std::min(1.0, g.upperBound + bound);
    out.errorBound = bound;
    if (g.searchStopped) {
      out.status = o.cancelled && o.cancelled() ? "cancelled" : "time limit";
    } else if (result == -1.0) {
      out.status = "decided";
    } else {
      out.status = "complete";
      out.complete = true;
      out.value = g.reliability;
      out.unreliability = 1.0 - g.reliability;
    }
  } catch (const pathsStopped&) {
    // Stopped before the search began: nothing proved beyond [0, 1].
    out.status = o.cancelled && o.cancelled() ? "cancelled" : "time limit";
    out.lower = 0, out.upper = 1, out.errorBound = 0;
  } catch (const pathStoreFull& full) {
    return "the paths do not fit in memory (" + std::to_string(full.pathsStored) +
           " paths stored); a tighter hop limit D needs fewer paths";
  } catch (const std::bad_alloc&) {
    return "out of memory";
  }
  return "";
}

// Runs the Monte Carlo estimate; `out` keeps the bounds proved before (or
// [0, 1]), and the estimate and its interval are clipped to them.
// Unasked (auto's last resort), a run that drew no sample leaves `out` as
// it was.
estimate::Problem estimateProblem(const Network& n) {
  estimate::Problem pr;
  pr.nodes = n.nodes;
  pr.maxHops = n.maxHops;
  pr.terminals = n.terminals;
  std::sort(pr.terminals.begin(), pr.terminals.end());
  pr.terminals.erase(std::unique(pr.terminals.begin(), pr.terminals.end()), pr.terminals.end());
  for (const Link& l : n.links) {
    pr.edges.emplace_back(l.u, l.v);
    pr.p.push_back(nearestDouble(l.p));
  }
  return pr;
}

estimate::Options estimateOptions(const Options& o, double timeLimit) {
  estimate::Options eo;
  eo.samples = o.samples;
  eo.relError = o.relError;
  eo.timeLimit = timeLimit;
  eo.confidence = o.confidence;
  eo.seed = o.seed;
  eo.threads = o.threads;
  eo.exchange = o.exchange;
  if (o.exchange != nullptr && o.threads == 0) eo.threads = 1;  // a rank per core
  eo.importance = o.importance;
  eo.cancelled = o.cancelled;
  if (o.progress)
    eo.progress = [&o](const estimate::Progress& p) {
      Progress q;
      q.engine = "estimate";
      q.work = p.samples;
      q.lower = p.estimate - p.halfWidth;
      q.upper = p.estimate + p.halfWidth;
      o.progress(q);
    };
  return eo;
}

void runEstimate(const Network& n, const Options& o, double timeLimit, bool asked, Result& out) {
  const estimate::Result e =
      estimate::estimateReliability(estimateProblem(n), estimateOptions(o, timeLimit));
  // Settled without a sample (no terminal pair can ever meet, or the links
  // with p = 1 already join them all): the value is known exactly.
  const bool settled = e.status == estimate::Status::kComplete && e.sampler == "exact";
  if (!asked && e.samples == 0 && !settled) return;
  out.method = Method::kEstimate;
  out.complete = false;
  out.estimated = e.samples > 0;
  if (settled) {
    out.complete = true;
    out.status = "complete";
    out.value = out.lower = out.upper = e.estimate;
    out.unreliability = 1 - e.estimate;
    out.errorBound = 0;
    out.seed = e.seed;
    out.sampler = e.sampler;
    if (!e.reason.empty()) out.estimateReason = e.reason;
    return;
  }
  out.status = e.status == estimate::Status::kComplete    ? "estimate"
               : e.status == estimate::Status::kTimeLimit ? "time limit"
               : e.status == estimate::Status::kCancelled ? "cancelled"
                                                          : "invalid input";
  out.estimate = std::clamp(e.estimate, out.lower, out.upper);
  out.unreliabilityEstimate = std::clamp(e.unreliability, 1 - out.upper, 1 - out.lower);
  out.stdError = e.stdError;
  out.ciLow = std::clamp(e.ciLow, out.lower, out.upper);
  out.ciHigh = std::clamp(e.ciHigh, out.lower, out.upper);
  out.confidence = e.confidence;
  out.samples = e.samples;
  out.seed = e.seed;
  out.sampler = e.sampler;
  out.work = e.samples;
  if (!e.reason.empty()) out.estimateReason = e.reason;
  for (std::size_t l = 0; l < e.importance.size(); ++l) {
    const double q = 1 - nearestDouble(n.links[l].p);
    LinkImportance li;
    li.link = static_cast<int>(l);
    li.birnbaum = e.importance[l];
    li.potential = q * e.importance[l];
    li.stdError = e.importanceStdError[l];
    out.importance.push_back(li);
  }
}

// Most important first; ties keep the links' order, and links whose
// importance is unknown (NaN) come last.
void rankImportance(Result& out) {
  std::stable_sort(out.importance.begin(), out.importance.end(),
                   [](const LinkImportance& a, const LinkImportance& b) {
                     if (a.exactBirnbaum && b.exactBirnbaum)
                       return *a.exactBirnbaum > *b.exactBirnbaum;
                     if (std::isnan(a.birnbaum) || std::isnan(b.birnbaum))
                       return !std::isnan(a.birnbaum) && std::isnan(b.birnbaum);
                     return a.birnbaum > b.birnbaum;
                   });
}

bool simple(const Network& n) {
  std::vector<std::pair<int, int>> seen;
  for (const Link& l : n.links) {
    if (l.u == l.v) return false;
    seen.emplace_back(std::min(l.u, l.v), std::max(l.u, l.v));
  }
  std::sort(seen.begin(), seen.end());
  return std::adjacent_find(seen.begin(), seen.end()) == seen.end();
}

// What every engine needs of a network; `terminals` adds the rule of two
// terminals or more (dcr's own run takes fewer, and answers for them).
std::string checkNetwork(const Network& n, bool terminals = true) {
  if (n.nodes < 0) return "the node count is negative";
  if (!n.labels.empty() && n.labels.size() != static_cast<std::size_t>(n.nodes))
    return "the labels do not match the node count";
  for (std::size_t i = 0; i < n.links.size(); ++i) {
    const Link& l = n.links[i];
    if (l.u < 0 || l.u >= n.nodes || l.v < 0 || l.v >= n.nodes)
      return "link " + std::to_string(i) + " names a node outside 0.." +
             std::to_string(n.nodes - 1);
    if (l.p < 0 || l.p > 1)
      return "link " + n.name(l.u) + " - " + n.name(l.v) + ": the probability " + l.p.get_str() +
             " is outside [0, 1]";
  }
  std::vector<char> seen(n.nodes, 0);
  int distinct = 0;
  for (int t : n.terminals) {
    if (t < 0 || t >= n.nodes) return "terminal " + std::to_string(t) + " is not a node";
    if (!seen[t]) seen[t] = 1, ++distinct;
  }
  if (terminals && distinct < 2)
    return "the network has " + std::to_string(distinct) +
           " terminals; the reliability needs at least two";
  if (!n.searchOffsets.empty()) {
    const auto& kao = n.searchOffsets;
    bool fits = kao.size() == static_cast<std::size_t>(n.nodes) + 1 && kao.front() == 0 &&
                static_cast<std::size_t>(kao.back()) == n.searchNeighbours.size();
    for (std::size_t i = 1; fits && i < kao.size(); ++i)
      fits = kao[i - 1] <= kao[i];
    for (int w : n.searchNeighbours)
      fits = fits && w >= 1 && w <= n.nodes;
    if (!fits) return "the search adjacency does not fit the nodes";
  }
  return "";
}

// Keeps the value inside its own bounds: the bounds and the value come from
// different sums, and each may be off by its rounding error.
void clampToBounds(Result& r) {
  if (!r.complete) return;
  if (r.value < r.lower) r.value = r.lower;
  if (r.value > r.upper) r.value = r.upper;
}

}  // namespace

bool Network::uniform() const {
  for (const Link& l : links)
    if (l.p != links.front().p) return false;
  return true;
}

std::string Network::name(int v) const {
  if (v >= 0 && static_cast<std::size_t>(v) < labels.size()) return labels[v];
  return std::to_string(v);
}

const char* methodName(Method m) {
  switch (m) {
    case Method::kFrontier:
      return "frontier";
    case Method::kSearch:
      return "search";
    case Method::kEstimate:
      return "estimate";
    default:
      return "auto";
  }
}

std::optional<std::string> Result::verdict(const std::optional<double>& threshold) const {
  if (!threshold || std::isnan(*threshold)) return std::nullopt;
  // Exact bounds against the threshold's exact value, as the exact sweep
  // decides: their nearest doubles may sit on the other side of it. An
  // infinite threshold (a file may hold one) needs no exact value.
  if (exactLower && exactUpper && std::isfinite(*threshold)) {
    const mpq_class t(*threshold);
    if (*exactLower >= t) return "above";
    if (*exactUpper < t) return "below";
    return std::nullopt;
  }
  if (lower >= *threshold) return "above";
  if (upper < *threshold) return "below";
  return std::nullopt;  // the bounds straddle the threshold
}

std::size_t defaultMemory() {
  return memoryAvailable() / 2;
}

Result solve(const Network& n, const Options& o) {
  const auto start = Clock::now();
  if (std::string bad = checkNetwork(n); !bad.empty())
    return failure(ErrorKind::kInvalidNetwork, bad);
  if (o.decide && !o.threshold)
    return failure(ErrorKind::kInvalidOptions, "deciding needs a threshold");
  // The command line refuses these as it reads them; the library's callers
  // (the Python module) get the same answer here.
  if (o.threshold && std::isnan(*o.threshold))
    return failure(ErrorKind::kInvalidOptions, "the threshold is not a number");
  if (std::isnan(o.timeLimit))
    return failure(ErrorKind::kInvalidOptions, "the time limit is not a number");
  if (o.threads < 0)
    return failure(ErrorKind::kInvalidOptions, "threads must be 0 (all cores) or more");
  const bool uniform = n.uniform();
  const bool searchable = uniform && simple(n);
  const bool frontierOnly = o.exact || o.polynomial || o.importance;

  Method method = o.method;
  std::string why = "asked for";
  if (method == Method::kEstimate) {
    if (o.exact || o.polynomial)
      return failure(ErrorKind::kInvalidOptions,
                     "exact values and polynomials need the frontier method");
    if (o.decide)
      return failure(ErrorKind::kInvalidOptions, "a statistical estimate proves no verdict");
    Result out;
    runEstimate(n, o, o.timeLimit, true, out);
    rankImportance(out);
    out.reason = why + (out.estimateReason.empty() ? "" : "; " + out.estimateReason);
    out.seconds = seconds(start);
    return out;
  }
  if (method == Method::kSearch) {
    if (!uniform)
      return failure(ErrorKind::kInvalidOptions,
                     "the search method needs one probability for every link");
    if (!searchable)
      return failure(ErrorKind::kInvalidOptions,
                     "the search method takes no parallel links or self-loops");
    if (frontierOnly)
      return failure(ErrorKind::kInvalidOptions,
                     "exact values, polynomials and importance need the frontier method");
  } else if (method == Method::kAuto) {
    method = Method::kFrontier;
    const int D = n.maxHops;
    const bool noLimit = D < 0 || D >= n.nodes - 1;
    why = o.exact        ? "exact arithmetic: only the frontier engine has it"
          : o.polynomial ? "a polynomial: only the frontier engine counts it"
          : o.importance ? "importance: only the frontier engine gives it"
          : !uniform     ? "per-edge probabilities: only the frontier engine takes them"
          : noLimit
              ? "no hop limit binds"
              : std::to_string(distinctTerminals(n)) + " terminals, hop limit " + std::to_string(D);
  }

  Result out;
  std::string message;
  // auto may hand over to the path search when the frontier stops; with a
  // time limit the frontier then gets the larger share and the search the
  // rest, and the answer keeps the best bounds either proved.
  const bool mayHandOver =
      o.method == Method::kAuto && method == Method::kFrontier && searchable && !frontierOnly;
  // ... and when no exact engine finishes, a Monte Carlo estimate follows
  // with the rest of the time.
  const bool mayEstimate = o.method == Method::kAuto && !frontierOnly && !o.decide;
  const double frontierShare = mayHandOver ? (mayEstimate ? 0.6 : 0.7) : (mayEstimate ? 0.8 : 1.0);
  const double searchShare = mayEstimate ? 0.8 : 1.0;
  std::optional<Result> frontierBounds;
  if (method == Method::kFrontier) {
    const double limit = o.timeLimit > 0 ? frontierShare * o.timeLimit : o.timeLimit;
    const frontier::Status s = runFrontier(n, o, limit, out, message);
    if (s == frontier::Status::kTooFewTerminals || s == frontier::Status::kInvalidInput)
      return failure(ErrorKind::kInvalidNetwork, message);
    const bool stoppedShort = s == frontier::Status::kMemoryLimit ||
                              s == frontier::Status::kUnsupported ||
                              (s == frontier::Status::kTimeLimit && limit < o.timeLimit);
    if (mayHandOver && stoppedShort) {
      if (stoppedWithBounds(s) || s == frontier::Status::kMemoryLimit) frontierBounds = out;
      why = "the frontier stopped (" +
            (message.empty() ? std::string(frontier::statusName(s)) : message) +
            (s == frontier::Status::kTimeLimit
                 ? ", after " + std::to_string(static_cast<int>(frontierShare * 100 + 0.5)) +
                       "% of the time limit"
                 : "") +
            "); handed over to the path search";
      method = Method::kSearch;
      out = Result{};
    } else if (o.method == Method::kAuto && s == frontier::Status::kMemoryLimit) {
      // Nothing to hand over to (per-edge probabilities, exact, a
      // polynomial): the bounds proved before the memory ran out.
      why += "; the frontier stopped at its memory limit with the bounds proved so far";
    } else if (!stoppedWithBounds(s)) {
      std::string what = "the frontier engine stopped: " + message;
      if (s == frontier::Status::kMemoryLimit && (out.lower > 0 || out.upper < 1)) {
        char bounds[96];
        std::snprintf(bounds, sizeof bounds, "; proved before it stopped: %.12f <= R <= %.12f",
                      out.lower, out.upper);
        what += bounds;
      }
      Result r = failure(ErrorKind::kEngineStopped, what);
      r.status = frontier::statusName(s);
      r.lower = s == frontier::Status::kMemoryLimit ? out.lower : 0;
      r.upper = s == frontier::Status::kMemoryLimit ? out.upper : 1;
      return r;
    }
  }
  if (method == Method::kSearch) {
    std::optional<Clock::time_point> deadline;
    if (o.timeLimit >= 0)
      deadline = start + std::chrono::duration_cast<Clock::duration>(
                             std::chrono::duration<double>(searchShare * o.timeLimit));
    const std::string bad = runSearch(n, o, deadline, o.method == Method::kAuto, out);
    if (!bad.empty() && !frontierBounds && !mayHandOver)
      return failure(ErrorKind::kEngineStopped, "the path search stopped: " + bad);
    if (!bad.empty() && !frontierBounds) {
      // Neither engine could run at all: say so, with the only bounds known.
      frontierBounds = Result{};
      frontierBounds->method = Method::kFrontier;
      frontierBounds->status = "memory limit";
    }
    if (!bad.empty()) {
      // The search could not start: the frontier's bounds are the answer.
      out = *frontierBounds;
      why += ", which stopped too (" + bad + "): the frontier's bounds stand";
    } else if (frontierBounds && !out.complete) {
      // Both stopped: the tighter of the proved bounds.
      out.lower = std::max(out.lower, frontierBounds->lower);
      out.upper = std::min(out.upper, frontierBounds->upper);
    }
  }
  const bool stoppedShort = out.status == "time limit" || out.status == "memory limit";
  if (mayEstimate && !out.complete && stoppedShort) {
    const double left = o.timeLimit >= 0 ? std::max(0.0, o.timeLimit - seconds(start)) : -1.0;
    runEstimate(n, o, left, false, out);
    if (out.estimated)
      why += "; no exact engine finished: a Monte Carlo estimate within the proved bounds" +
             (out.estimateReason.empty() ? std::string() : " (" + out.estimateReason + ")");
  }
  clampToBounds(out);
  rankImportance(out);
  out.reason = why;
  out.seconds = seconds(start);
  return out;
}

Curve curve(const Network& n, const std::vector<double>& ps, const Options& o) {
  const auto start = Clock::now();
  Curve c;
  if (std::string bad = checkNetwork(n); !bad.empty()) {
    c.error = ErrorKind::kInvalidNetwork;
    c.message = bad;
    return c;
  }
  if (o.method == Method::kEstimate) {
    // One set of samples for every p (common random numbers).
    const auto results =
        estimate::estimateCurve(estimateProblem(n), ps, estimateOptions(o, o.timeLimit));
    for (std::size_t i = 0; i < ps.size(); ++i) {
      const estimate::Result& e = results[i];
      if (e.status == estimate::Status::kInvalidInput) {
        c.error = ErrorKind::kInvalidOptions;
        c.message = e.message;
        c.points.clear();
        return c;
      }
      CurvePoint point;
      point.p = ps[i];
      point.method = Method::kEstimate;
      point.value = e.estimate;
      point.unreliability = e.unreliability;
      point.errorBound = -1;
      point.ciLow = e.ciLow;
      point.ciHigh = e.ciHigh;
      point.stdError = e.stdError;
      point.samples = e.samples;
      point.exact = e.sampler == "exact";
      c.points.push_back(point);
      c.work = std::max<std::uint64_t>(c.work, e.samples);
      if (c.note.empty() && !e.reason.empty() && e.reason != "exact") c.note = e.reason;
    }
    c.seconds = seconds(start);
    if (!c.points.empty()) c.points[0].seconds = c.seconds;
    return c;
  }
  if (o.method != Method::kSearch) {
    const frontier::Diagram diagram =
        frontier::Diagram::build(frontierProblem(n), frontierOptions(o, o.timeLimit));
    const frontier::Status s = diagram.status();
    const std::string why = diagram.message().empty() ? frontier::statusName(s) : diagram.message();
    if (s == frontier::Status::kComplete) {
      c.work = diagram.stats().statesCreated;
      for (double p : ps) {
        CurvePoint point;
        point.p = p;
        if (p >= 0 && p <= 1) {
          const frontier::Diagram::Value v = diagram.evaluate(p, nearestDouble(1 - mpq_class(p)));
          point.value = std::clamp(v.reliability, v.lower, v.upper);
          point.errorBound = v.error;
          point.lower = v.lower;
          point.upper = v.upper;
        }
        c.points.push_back(point);
      }
      if (!c.points.empty()) c.points[0].seconds = seconds(start);
      c.seconds = seconds(start);
      return c;
    }
    if (s == frontier::Status::kInvalidInput || s == frontier::Status::kTooFewTerminals ||
        o.method == Method::kFrontier) {
      c.error = s == frontier::Status::kInvalidInput || s == frontier::Status::kTooFewTerminals
                    ? ErrorKind::kInvalidNetwork
                    : ErrorKind::kEngineStopped;
      c.message = why;
      return c;
    }
    c.note = why;
  }
  if (!simple(n)) {
    c.error = ErrorKind::kInvalidOptions;
    c.message = "the search takes no parallel links or self-loops";
    return c;
  }
  const double cutOff = o.threshold.value_or(-std::numeric_limits<double>::infinity());
  for (double p : ps) {
    const SearchRun run = searchRun(n, p, cutOff);
    if (!run.ok()) {
      c.error = run.error;
      char at[64];
      std::snprintf(at, sizeof at, "p = %.17g: ", p);
      c.message = at + run.message;
      c.points.clear();
      return c;
    }
    CurvePoint point;
    point.p = p;
    point.method = Method::kSearch;
    point.below = run.value == -1.0;
    point.value = point.below ? 0 : run.value;
    point.errorBound = -1;
    point.seconds = run.seconds;
    c.points.push_back(point);
  }
  c.seconds = seconds(start);
  return c;
}

SearchRun searchRun(const Network& n, double p, double threshold) {
  const auto start = Clock::now();
  SearchRun run;
  std::vector<int> offsets, neighbours, flags(std::max(n.nodes, 0), 0);
  if (std::string bad = checkNetwork(n, false); !bad.empty()) {
    run.error = ErrorKind::kInvalidNetwork;
    run.message = bad;
    return run;
  }
  searchAdjacency(n, offsets, neighbours);
  for (int t : n.terminals)
    flags[t] = 1;
  try {
    myGraph g(offsets.data(), neighbours.data(), flags.data(), n.nodes,
              static_cast<int>(neighbours.size() / 2), n.maxHops, p, threshold);
    run.value = g.computeReliability();
  } catch (const std::bad_alloc&) {
    run.error = ErrorKind::kEngineStopped;
    run.message = "the paths do not fit in memory; a tighter hop limit D needs fewer paths";
  } catch (const std::exception& e) {
    run.error = ErrorKind::kEngineStopped;
    run.message = e.what();
  }
  run.seconds = seconds(start);
  return run;
}

std::string countPaths(const Network& n, PathCounts& out) {
  out = PathCounts{};
  if (std::string bad = checkNetwork(n, false); !bad.empty()) return bad;
  std::vector<int> offsets, neighbours, flags(n.nodes, 0);
  searchAdjacency(n, offsets, neighbours);
  for (int t : n.terminals)
    flags[t] = 1;
  const double p = n.links.empty() ? 0.0 : nearestDouble(n.links[0].p);
  try {
    myGraph g(offsets.data(), neighbours.data(), flags.data(), n.nodes,
              static_cast<int>(neighbours.size() / 2), n.maxHops, p, 0.0);
    g.findAllPaths();
    out.pairs = g.terminalPairs.size();
    for (const auto& pair : g.terminalPairs)
      out.paths += pair.paths.size();
    g.buildPathState();
    g.buildLinkInfo();
    out.linksOnPaths = g.numLinks;
    // Sorting does not change how many links remain.
    g.prepareLinks(true, false);
    for (int r = 0; r < g.numLinks; ++r)
      if (g.linkRecord(r)[0] != -1) ++out.linksAfterMerging;
  } catch (const std::bad_alloc&) {
    return "the paths do not fit in memory; a tighter hop limit D needs fewer paths";
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

}  // namespace dcr
