// Whether the estimate's intervals mean what they say, measured against the
// frontier engine's exact values (rational arithmetic, so the reference
// carries no error of its own).
//
//   estimate_coverage coverage [--runs N] [--jobs J]
//       Six problems, N seeded runs each (seeds 1 .. N, default 1000), one
//       thread per run and J runs at once (default 2): how often the 95%
//       interval holds the exact R. The runs' results do not depend on J.
//   estimate_coverage rare [--exact-limit S]
//       The permutation sampler on 1 - R as p -> 1 with a fixed budget of
//       100k samples, then the time auto takes to a 10% relative error at
//       p = 0.9999 with two threads. S (default 60) bounds each exact solve.
//
// Networks come from ../shared/networks; D is counted from the largest
// distance between the chosen terminals. Tables are printed as markdown.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "estimate/estimate.hpp"
#include "frontier/frontier.hpp"

namespace {

struct Net {
  std::string name;
  int nodes = 0;
  std::vector<std::pair<int, int>> edges;
};

Net readNet(const std::string& name) {
  Net net;
  net.name = name;
  std::ifstream in(std::string(DCR_NETWORKS) + "/" + name + ".edges");
  if (!in) {
    std::fprintf(stderr, "estimate_coverage: cannot read %s.edges\n", name.c_str());
    std::exit(1);
  }
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line.substr(0, line.find('#')));
    int u = 0, v = 0;
    if (!(words >> u >> v)) continue;
    net.edges.emplace_back(u, v);
    net.nodes = std::max({net.nodes, u + 1, v + 1});
  }
  return net;
}

// The largest hop distance between two of the terminals (all nodes when
// `terminals` is empty): D is set relative to it so that it binds.
int spread(const Net& net, std::vector<int> terminals) {
  std::vector<std::vector<int>> adj(net.nodes);
  for (auto [u, v] : net.edges)
    adj[u].push_back(v), adj[v].push_back(u);
  if (terminals.empty())
    for (int v = 0; v < net.nodes; ++v)
      terminals.push_back(v);
  int widest = 0;
  for (int s : terminals) {
    std::vector<int> dist(net.nodes, -1), queue{s};
    dist[s] = 0;
    for (std::size_t i = 0; i < queue.size(); ++i)
      for (int w : adj[queue[i]])
        if (dist[w] < 0) dist[w] = dist[queue[i]] + 1, queue.push_back(w);
    for (int t : terminals)
      widest = std::max(widest, dist[t]);
  }
  return widest;
}

estimate::Problem makeProblem(const Net& net, const std::vector<int>& terminals, int extraHops,
                              double p) {
  estimate::Problem pr;
  pr.nodes = net.nodes;
  pr.edges = net.edges;
  pr.p.assign(net.edges.size(), p);
  pr.terminals = terminals;
  if (pr.terminals.empty())
    for (int v = 0; v < net.nodes; ++v)
      pr.terminals.push_back(v);
  pr.maxHops = spread(net, terminals) + extraHops;
  return pr;
}

// R and 1 - R of the very problem the estimate sees: p is taken as the
// exact value of its double. ok = false when the frontier stops short.
struct Exact {
  bool ok = false;
  double r = 0, q = 0, seconds = 0;
  std::string status;
};

Exact exact(const estimate::Problem& pr, double timeLimit) {
  frontier::Problem g;
  g.nodes = pr.nodes;
  g.edges = pr.edges;
  g.terminals = pr.terminals;
  g.maxHops = pr.maxHops;
  std::vector<mpq_class> p;
  for (double x : pr.p)
    p.emplace_back(x);
  frontier::Options o;
  o.timeLimit = timeLimit;
  const frontier::ExactResult x = frontier::solveExact(g, p, o);
  Exact e;
  e.ok = x.status == frontier::Status::kComplete;
  e.status = frontier::statusName(x.status);
  e.seconds = x.stats.seconds;
  if (e.ok) e.r = x.reliability.get_d(), e.q = x.unreliability.get_d();
  return e;
}

const char* samplerName(estimate::Sampler s) {
  switch (s) {
    case estimate::Sampler::kAuto:
      return "auto";
    case estimate::Sampler::kCrude:
      return "crude";
    case estimate::Sampler::kPermutation:
      return "permutation";
  }
  return "?";
}

// ---- coverage ----

struct Case {
  const char* net;
  std::vector<int> terminals;  // empty: all nodes
  int extraHops;
  double p;
  estimate::Sampler sampler;
  double relError;            // the stopping rule: relError, or
  std::uint64_t samples = 0;  // a fixed count when relError is 0
};

int coverage(int runs, int jobs) {
  using estimate::Sampler;
  // Both samplers, each asked for and picked by auto (cost239 sits at
  // auto's switch, so its pilot goes either way); two problems at p >= 0.999.
  // A cap under auto must exceed the 4096-sample crude pilot, or auto never
  // leaves it.
  const std::vector<Case> cases = {
      {"nobel-us", {}, 1, 0.9, Sampler::kAuto, 0.02},
      {"arpanet20", {0, 7, 12, 19}, 1, 0.9, Sampler::kCrude, 0, 20000},
      {"eon19", {}, 2, 0.9, Sampler::kPermutation, 0, 2048},
      {"cost239", {}, 1, 0.9, Sampler::kAuto, 0.1},
      {"nobel-us", {}, 2, 0.999, Sampler::kAuto, 0.05},
      {"eon19", {0, 6, 11, 17}, 2, 0.9999, Sampler::kAuto, 0, 16384},
  };
  const double z = 1.959963984540054, nominal = 0.95;
  std::printf(
      "%d runs per problem, seeds 1 .. %d, one thread each, 95%% intervals. If they hold\n"
      "exactly 95%%, the coverage of %d runs falls in %.1f .. %.1f %% with probability "
      "0.95.\n\n",
      runs, runs, runs, 100 * (nominal - z * std::sqrt(nominal * (1 - nominal) / runs)),
      100 * (nominal + z * std::sqrt(nominal * (1 - nominal) / runs)));
  std::printf(
      "| network | n / links | K | D | p | exact R | exact 1 - R | sampler (asked: used) "
      "| stop | mean samples | mean s/run | coverage | its 95%% range | misses low / high "
      "|\n|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
  for (const Case& c : cases) {
    const Net net = readNet(c.net);
    const estimate::Problem pr = makeProblem(net, c.terminals, c.extraHops, c.p);
    const Exact ex = exact(pr, -1);
    if (!ex.ok) {
      std::printf("| %s | exact: %s |\n", c.net, ex.status.c_str());
      continue;
    }
    std::vector<estimate::Result> results(runs);
    std::atomic<int> next{0};
    auto work = [&] {
      for (int i; (i = next++) < runs;) {
        estimate::Options o;
        o.seed = static_cast<std::uint64_t>(i) + 1;
        o.threads = 1;
        o.sampler = c.sampler;
        o.relError = c.relError;
        o.samples = c.samples;
        results[i] = estimate::estimateReliability(pr, o);
      }
    };
    std::vector<std::thread> pool;
    for (int j = 0; j < jobs; ++j)
      pool.emplace_back(work);
    for (std::thread& t : pool)
      t.join();

    int held = 0, low = 0, high = 0, crude = 0, bad = 0;
    double samples = 0, seconds = 0;
    for (const estimate::Result& r : results) {
      if (r.status != estimate::Status::kComplete) ++bad;
      // The interval lies wholly below R ("low") or above it.
      if (r.ciHigh < ex.r)
        ++low;
      else if (r.ciLow > ex.r)
        ++high;
      else
        ++held;
      crude += r.sampler == "crude";
      samples += static_cast<double>(r.samples);
      seconds += r.seconds;
    }
    const double cov = static_cast<double>(held) / runs;
    // Wilson score interval of the observed coverage.
    const double centre = (cov + z * z / (2 * runs)) / (1 + z * z / runs),
                 half = z / (1 + z * z / runs) *
                        std::sqrt(cov * (1 - cov) / runs + z * z / (4.0 * runs * runs));
    std::string used = crude == runs ? "crude"
                       : crude == 0  ? "permutation"
                                     : std::to_string(crude) + " crude, " +
                                          std::to_string(runs - crude) + " permutation";
    char stop[64];
    if (c.relError > 0)
      std::snprintf(stop, sizeof stop, "relError %g", c.relError);
    else
      std::snprintf(stop, sizeof stop, "%llu samples", static_cast<unsigned long long>(c.samples));
    std::printf(
        "| %s | %d / %zu | %s | %d | %g | %.8g | %.4e | %s: %s | %s | %.0f | %.4f | %.1f %% "
        "| %.1f .. %.1f %% | %d / %d |\n",
        c.net, pr.nodes, pr.edges.size(),
        c.terminals.empty() ? "all" : std::to_string(c.terminals.size()).c_str(), pr.maxHops, c.p,
        ex.r, ex.q, samplerName(c.sampler), used.c_str(), stop, samples / runs, seconds / runs,
        100 * cov, 100 * (centre - half), 100 * (centre + half), low, high);
    if (bad > 0) std::printf("(%d runs did not complete)\n", bad);
    std::fflush(stdout);
  }
  return 0;
}

// ---- rare events ----

int rare(double exactLimit) {
  const std::vector<double> ps = {0.99, 0.999, 0.9999, 0.99999};
  const std::vector<const char*> nets = {"nobel-us", "eon19", "germany50", "nobel-eu"};
  std::map<std::string, double> exactAt9999;  // for the timing table below
  std::printf(
      "Permutation sampler, 100 000 samples, one thread; all terminals, D = diameter + "
      "2.\n\n| network | n / links | D | p | exact 1 - R | estimate 1 - R | observed "
      "rel. error | interval rel. half-width | seconds |\n|---|---|---|---|---|---|---|---|"
      "---|\n");
  for (const char* name : nets) {
    const Net net = readNet(name);
    // The frontier's work does not depend on p: one failed solve settles all four.
    bool reachable = true;
    for (double p : ps) {
      const estimate::Problem pr = makeProblem(net, {}, 2, p);
      Exact ex;
      if (reachable) {
        ex = exact(pr, exactLimit);
        reachable = ex.ok;
        if (!ex.ok)
          std::fprintf(stderr, "%s D = %d: exact solve stopped (%s after %.1f s)\n", name,
                       pr.maxHops, ex.status.c_str(), ex.seconds);
      }
      estimate::Options o;
      o.sampler = estimate::Sampler::kPermutation;
      o.relError = 0;
      o.samples = 100000;
      o.threads = 1;
      const estimate::Result r = estimate::estimateReliability(pr, o);
      const double half = (r.ciHigh - r.ciLow) / 2;
      char exactText[32] = "not reached", errText[32] = "-";
      if (ex.ok) {
        if (p == 0.9999) exactAt9999[name] = ex.q;
        std::snprintf(exactText, sizeof exactText, "%.4e", ex.q);
        std::snprintf(errText, sizeof errText, "%.2f %%",
                      100 * std::fabs(r.unreliability - ex.q) / ex.q);
      }
      std::printf("| %s | %d / %zu | %d | %g | %s | %.4e | %s | %.2f %% | %.2f |\n", name, pr.nodes,
                  pr.edges.size(), pr.maxHops, p, exactText, r.unreliability, errText,
                  100 * half / r.unreliability, r.seconds);
      std::fflush(stdout);
    }
  }

  std::printf(
      "\nTo a 10%% relative error at p = 0.9999: auto, two threads, all terminals, D = "
      "diameter + 2 (time limit 60 s).\n\n| network | D | sampler | samples | seconds | "
      "estimate 1 - R | observed rel. error | interval rel. half-width | stopped by "
      "|\n|---|---|---|---|---|---|---|---|---|\n");
  for (const char* name : {"nobel-us", "eon19", "germany50"}) {
    const estimate::Problem pr = makeProblem(readNet(name), {}, 2, 0.9999);
    estimate::Options o;
    o.relError = 0.1;
    o.threads = 2;
    o.timeLimit = 60;
    const estimate::Result r = estimate::estimateReliability(pr, o);
    char errText[32] = "-";
    if (auto it = exactAt9999.find(name); it != exactAt9999.end())
      std::snprintf(errText, sizeof errText, "%.1f %%",
                    100 * std::fabs(r.unreliability - it->second) / it->second);
    std::printf("| %s | %d | %s | %llu | %.2f | %.4e | %s | %.1f %% | %s |\n", name, pr.maxHops,
                r.sampler.c_str(), static_cast<unsigned long long>(r.samples), r.seconds,
                r.unreliability, errText, 100 * (r.ciHigh - r.ciLow) / 2 / r.unreliability,
                r.reason.c_str());
    std::fflush(stdout);
  }
  return 0;
}

int usage() {
  std::fprintf(stderr,
               "usage: estimate_coverage coverage [--runs N] [--jobs J]\n"
               "       estimate_coverage rare [--exact-limit SECONDS]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string mode = argv[1];
  int runs = 1000, jobs = 2;
  double exactLimit = 60;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return usage();
    if (arg == "--runs")
      runs = std::atoi(argv[++i]);
    else if (arg == "--jobs")
      jobs = std::atoi(argv[++i]);
    else if (arg == "--exact-limit")
      exactLimit = std::atof(argv[++i]);
    else
      return usage();
  }
  if (runs < 1 || jobs < 1) return usage();
  if (mode == "coverage") return coverage(runs, jobs);
  if (mode == "rare") return rare(exactLimit);
  return usage();
}
