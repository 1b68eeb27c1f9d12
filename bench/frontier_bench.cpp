// frontier_bench: times the frontier engine on one named instance.
//
//   frontier_bench --list                      instance names, one a line
//   frontier_bench NAME [double|exact|curve|poly|importance] [--levels] [--memory MiB]
//                  [--kind distance|profile|connectivity] [--time S] [--one-order]
//
// curve: one Diagram, then R(p) at p = 0.00, 0.01, .., 1.00 (the value shown
// is R(0.9)); poly: the reliability polynomial (the value shown is R(0.9));
// importance: every edge's Birnbaum importance at p = 0.9 (the value shown
// is R and the largest importance).
//
// Prints one tab-separated line: name, mode, status, wall seconds, CPU
// seconds, peak RSS (MiB), states created, widest level, widest state
// (bytes), reliability. CPU time is the steadier one on a shared machine.
// --levels adds one line per level with its state count. Peak RSS is the
// whole process's, so run one instance per process (frontier_run.sh does).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "frontier/frontier.hpp"
#include "tests/frontier/problems.hpp"

namespace {

using frontier_test::grid;

// dcr's problem file: N M, N + 1 offsets, 2M neighbours from 1, N flags;
// commas may follow numbers. Only the graph is taken from it.
frontier::Problem dodecahedron(const std::vector<int>& terminals, int D) {
  std::ifstream in(DCR_EXAMPLES "/dodecahedron/input");
  std::stringstream text;
  text << in.rdbuf();
  std::string s = text.str();
  for (char& c : s)
    if (c == ',') c = ' ';
  std::istringstream nums(s);
  int n = 0, m = 0;
  nums >> n >> m;
  std::vector<int> offsets(n + 1), adj(2 * m);
  for (int& x : offsets)
    nums >> x;
  for (int& x : adj)
    nums >> x;
  frontier::Problem pr;
  pr.nodes = n;
  pr.maxHops = D;
  for (int u = 0; u < n; ++u)
    for (int k = offsets[u]; k < offsets[u + 1]; ++k)
      if (u < adj[k] - 1) pr.edges.push_back({u, adj[k] - 1});
  pr.terminals = terminals;
  if (pr.terminals.empty())
    for (int v = 0; v < n; ++v)
      pr.terminals.push_back(v);
  return pr;
}

struct Instance {
  std::string name;
  frontier::Problem problem;
};

// A network's edge list ("u v" a line, # comments), nodes from 0.
bool readEdges(const std::string& path, frontier::Problem& pr) {
  std::ifstream in(path);
  if (!in) return false;
  pr = frontier::Problem{};
  for (std::string line; std::getline(in, line);) {
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    int u = 0, v = 0;
    if (words >> u >> v) {
      pr.edges.push_back({u, v});
      pr.nodes = std::max({pr.nodes, u + 1, v + 1});
    }
  }
  return true;
}

// Hop distances from every node (the network is small).
std::vector<std::vector<int>> allDistances(const frontier::Problem& pr) {
  std::vector<std::vector<int>> adj(pr.nodes), dist(pr.nodes);
  for (auto [u, v] : pr.edges)
    adj[u].push_back(v), adj[v].push_back(u);
  for (int s = 0; s < pr.nodes; ++s) {
    dist[s].assign(pr.nodes, 1 << 20);
    std::vector<int> queue{s};
    dist[s][s] = 0;
    for (std::size_t at = 0; at < queue.size(); ++at)
      for (int w : adj[queue[at]])
        if (dist[s][w] > dist[s][queue[at]] + 1)
          dist[s][w] = dist[s][queue[at]] + 1, queue.push_back(w);
  }
  return dist;
}

int largestDistance(const std::vector<std::vector<int>>& dist, const std::vector<int>& among) {
  int worst = 0;
  for (int a : among)
    for (int b : among)
      worst = std::max(worst, dist[a][b]);
  return worst;
}

// The real topologies: every node a terminal at D = diameter + 1, + 2, + 3,
// and 2, 4, 8 and 12 terminals (a fixed pseudo-random choice per network)
// at D = their largest distance + 2.
void networkInstances(std::vector<Instance>& all) {
  const char* names[] = {"Abilene",   "Sprint",   "cost239",      "polska",        "nobel-us",
                         "atlanta",   "eon19",    "Internet2",    "arpanet20",     "AttMpls",
                         "janos-us",  "nobel-eu", "Arpanet19728", "Janetbackbone", "Geant2012",
                         "germany50", "Cogentco"};
  for (const char* name : names) {
    frontier::Problem pr;
    if (!readEdges(std::string(DCR_NETWORKS) + "/" + name + ".edges", pr)) continue;
    const auto dist = allDistances(pr);
    std::vector<int> everyone(pr.nodes);
    for (int v = 0; v < pr.nodes; ++v)
      everyone[v] = v;
    const int diameter = largestDistance(dist, everyone);
    for (int extra : {1, 2, 3}) {
      frontier::Problem x = pr;
      x.terminals = everyone;
      x.maxHops = diameter + extra;
      all.push_back({std::string(name) + "_all_D" + std::to_string(x.maxHops), x});
    }
    std::uint64_t state = std::hash<std::string>{}(name) | 1;  // splitmix64 from the name
    auto next = [&state] {
      std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      return z ^ (z >> 31);
    };
    std::vector<int> shuffled = everyone;
    for (int i = pr.nodes - 1; i > 0; --i)
      std::swap(shuffled[i], shuffled[next() % (i + 1)]);
    for (int K : {2, 4, 8, 12}) {
      if (K > pr.nodes) continue;
      frontier::Problem x = pr;
      x.terminals.assign(shuffled.begin(), shuffled.begin() + K);
      std::sort(x.terminals.begin(), x.terminals.end());
      x.maxHops = largestDistance(dist, x.terminals) + 2;
      all.push_back(
          {std::string(name) + "_" + std::to_string(K) + "t_D" + std::to_string(x.maxHops), x});
    }
  }
}

std::vector<Instance> instances() {
  std::vector<Instance> all;
  all.push_back({"grid5_D8", grid(5, 8)});
  all.push_back({"grid5_D10", grid(5, 10)});
  for (int D : {10, 12, 14, 16})
    all.push_back({"grid6_D" + std::to_string(D), grid(6, D)});
  all.push_back({"grid8_D14", grid(8, 14)});
  all.push_back({"grid8_D16", grid(8, 16)});
  all.push_back({"grid10_D18", grid(10, 18)});
  all.push_back({"grid8_nolimit", grid(8, -1)});
  all.push_back({"grid10_nolimit", grid(10, -1)});
  all.push_back({"grid12_nolimit", grid(12, -1)});
  // For the scaling table's projections; minutes each.
  all.push_back({"grid9_nolimit", grid(9, -1)});
  all.push_back({"grid11_nolimit", grid(11, -1)});
  all.push_back({"grid13_nolimit", grid(13, -1)});
  all.push_back({"grid14_nolimit", grid(14, -1)});
  all.push_back({"grid15_nolimit", grid(15, -1)});
  // The example's three terminals (nodes 1, 6, 13 counted from 1) and 20.
  all.push_back({"dodeca_4t_D7", dodecahedron({0, 5, 12, 19}, 7)});
  for (int D : {5, 7, 9})
    all.push_back({"dodeca_20t_D" + std::to_string(D), dodecahedron({}, D)});
  networkInstances(all);
  return all;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--list") == 0) {
    for (const auto& i : instances())
      std::printf("%s\n", i.name.c_str());
    return 0;
  }
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: frontier_bench --list | NAME [double|exact|curve|poly|importance] "
                 "[--levels] [--memory MiB] [--threads N]\n");
    return 2;
  }
  const std::string name = argv[1];
  std::string mode = "double";
  bool levels = false;
  frontier::Options options;
  for (int a = 2; a < argc; ++a) {
    const std::string arg = argv[a];
    if (arg == "--levels")
      levels = true;
    else if (arg == "--one-order")
      options.race = false;
    else if (arg == "--kind" && a + 1 < argc) {
      const std::string k = argv[++a];
      options.kind = k == "distance"       ? frontier::StateKind::kDistance
                     : k == "profile"      ? frontier::StateKind::kProfile
                     : k == "connectivity" ? frontier::StateKind::kConnectivity
                                           : frontier::StateKind::kAuto;
    } else if (arg == "--time" && a + 1 < argc)
      options.timeLimit = std::stod(argv[++a]);
    else if (arg == "--threads" && a + 1 < argc)
      options.threads = std::stoi(argv[++a]);
    else if (arg == "--memory" && a + 1 < argc)
      options.memoryBytes = std::stoull(argv[++a]) << 20;
    else
      mode = arg;
  }
  for (const auto& inst : instances()) {
    if (inst.name != name) continue;
    const auto& pr = inst.problem;
    const auto start = std::chrono::steady_clock::now();
    frontier::Stats stats;
    frontier::Status status;
    std::string value;
    if (mode == "curve") {
      const auto dg = frontier::Diagram::build(pr, options);
      stats = dg.stats();
      status = dg.status();
      double at09 = 0, worst = 0;
      std::vector<std::pair<double, double>> points;
      for (int k = 0; k <= 100; ++k)
        points.push_back({k / 100.0, (100 - k) / 100.0});
      if (status == frontier::Status::kComplete) {
        const auto values = dg.evaluate(points);
        for (const auto& v : values)
          worst = std::max(worst, v.error);
        at09 = values[90].reliability;
      }
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.15f (101 points, error <= %.1e)", at09, worst);
      value = buf;
    } else if (mode == "poly") {
      const auto poly = frontier::reliabilityPolynomial(pr, options);
      stats = poly.stats;
      status = poly.status;
      char buf[64];
      std::snprintf(
          buf, sizeof buf, "%.15f",
          status == frontier::Status::kComplete ? poly.evaluate(mpq_class(9, 10)).get_d() : 0.0);
      value = buf;
    } else if (mode == "importance") {
      const auto r = frontier::importanceDouble(pr, std::vector<double>(pr.edges.size(), 0.9),
                                                std::vector<double>(pr.edges.size(), 0.1), options);
      stats = r.stats;
      status = r.status;
      const double top =
          r.birnbaum.empty() ? 0.0 : *std::max_element(r.birnbaum.begin(), r.birnbaum.end());
      char buf[96];
      std::snprintf(buf, sizeof buf, "%.15f+-%.1e (largest I %.15f+-%.1e)", r.reliability,
                    r.reliabilityError, top, r.birnbaumError);
      value = buf;
    } else if (mode == "exact") {
      const auto r = frontier::solveExact(
          pr, std::vector<mpq_class>(pr.edges.size(), mpq_class(9, 10)), options);
      stats = r.stats;
      status = r.status;
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.15f", r.reliability.get_d());
      value = buf;
    } else {
      const auto r = frontier::solveDouble(pr, std::vector<double>(pr.edges.size(), 0.9),
                                           std::vector<double>(pr.edges.size(), 0.1), options);
      stats = r.stats;
      status = r.status;
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.15f+-%.1e", r.reliability, r.reliabilityError);
      value = buf;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    const double cpu = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec +
                       ru.ru_stime.tv_usec / 1e6;
    std::printf("%s\t%s\t%s\t%.3f\t%.3f\t%.1f\t%llu\t%llu\t%d\t%s\t%s\n", name.c_str(),
                mode.c_str(), frontier::statusName(status), seconds, cpu, ru.ru_maxrss / 1024.0,
                static_cast<unsigned long long>(stats.statesCreated),
                static_cast<unsigned long long>(stats.widestLevel), stats.stateBytes, value.c_str(),
                frontier::kindName(stats.kind));
    if (levels && !stats.order.empty()) std::printf("order\t%s\n", stats.order.c_str());
    if (levels)
      for (std::size_t i = 0; i < stats.levelStates.size(); ++i)
        std::printf("level %zu\t%llu\n", i, static_cast<unsigned long long>(stats.levelStates[i]));
    return status == frontier::Status::kComplete ? 0 : 1;
  }
  std::fprintf(stderr, "frontier_bench: no instance %s (see --list)\n", name.c_str());
  return 2;
}
