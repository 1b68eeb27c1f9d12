// Samples per second of the estimate against a straightforward estimator
// measured in the same run: one sample at a time, each link drawn with a
// 64-bit Mersenne Twister, then a breadth-first search bounded by D from
// each terminal that stops at the first terminal out of reach.
//
//   estimate_bench [NET ...]   (default: eon19 at D = 7 and Cogentco at D = 30)
//
// NET is a name in ../shared/networks and a hop limit, as eon19:7; all
// nodes are terminals, every link works with p = 0.9. Each engine runs for
// about two seconds; the estimate with 1 and 2 threads.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "estimate/estimate.hpp"

namespace {

using Clock = std::chrono::steady_clock;

bool readEdges(const std::string& path, estimate::Problem& pr) {
  std::ifstream in(path);
  if (!in) return false;
  int n = 0;
  for (std::string line; std::getline(in, line);) {
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    int u = 0, v = 0;
    if (!(words >> u >> v)) continue;
    pr.edges.emplace_back(u, v);
    n = std::max({n, u + 1, v + 1});
  }
  pr.nodes = n;
  for (int v = 0; v < n; ++v)
    pr.terminals.push_back(v);
  return true;
}

// The straightforward estimator: samples per second.
double oneAtATime(const estimate::Problem& pr, double p, double seconds, double& estimate) {
  std::vector<std::vector<std::pair<int, int>>> adj(pr.nodes);  // (neighbour, edge)
  for (std::size_t e = 0; e < pr.edges.size(); ++e) {
    adj[pr.edges[e].first].push_back({pr.edges[e].second, static_cast<int>(e)});
    adj[pr.edges[e].second].push_back({pr.edges[e].first, static_cast<int>(e)});
  }
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  std::vector<char> works(pr.edges.size());
  std::vector<int> dist(pr.nodes), queue;
  const int D = pr.maxHops < 0 ? pr.nodes : pr.maxHops;
  std::uint64_t samples = 0, up = 0;
  const auto start = Clock::now();
  while (std::chrono::duration<double>(Clock::now() - start).count() < seconds) {
    for (int k = 0; k < 1000; ++k, ++samples) {
      for (auto& w : works)
        w = uniform(rng) < p;
      bool ok = true;
      for (std::size_t a = 0; a + 1 < pr.terminals.size() && ok; ++a) {
        std::fill(dist.begin(), dist.end(), -1);
        queue.assign(1, pr.terminals[a]);
        dist[pr.terminals[a]] = 0;
        for (std::size_t i = 0; i < queue.size(); ++i) {
          const int v = queue[i];
          if (dist[v] == D) continue;
          for (auto [w, e] : adj[v])
            if (works[e] && dist[w] < 0) dist[w] = dist[v] + 1, queue.push_back(w);
        }
        for (std::size_t b = a + 1; b < pr.terminals.size() && ok; ++b)
          ok = dist[pr.terminals[b]] >= 0;
      }
      up += ok ? 1 : 0;
    }
  }
  estimate = static_cast<double>(up) / static_cast<double>(samples);
  return static_cast<double>(samples) / std::chrono::duration<double>(Clock::now() - start).count();
}

double engine(const estimate::Problem& pr, int threads, double seconds, double& value) {
  estimate::Options o;
  o.sampler = estimate::Sampler::kCrude;
  o.relError = 0;
  o.timeLimit = seconds;
  o.threads = threads;
  const estimate::Result r = estimate::estimateReliability(pr, o);
  value = r.estimate;
  return static_cast<double>(r.samples) / r.seconds;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> nets;
  for (int i = 1; i < argc; ++i)
    nets.push_back(argv[i]);
  if (nets.empty()) nets = {"eon19:7", "Cogentco:30"};
  std::printf("%-14s %14s %14s %14s %8s %8s\n", "network:D", "one-at-a-time", "1 thread",
              "2 threads", "1t/base", "2t/1t");
  for (const std::string& net : nets) {
    const std::size_t colon = net.find(':');
    estimate::Problem pr;
    if (colon == std::string::npos ||
        !readEdges(std::string(DCR_NETWORKS) + "/" + net.substr(0, colon) + ".edges", pr)) {
      std::fprintf(stderr, "estimate_bench: cannot read %s (NAME:D)\n", net.c_str());
      return 1;
    }
    pr.maxHops = std::stoi(net.substr(colon + 1));
    pr.p.assign(pr.edges.size(), 0.9);
    double a = 0, b = 0, c = 0;
    const double base = oneAtATime(pr, 0.9, 2.0, a);
    const double one = engine(pr, 1, 2.0, b);
    const double two = engine(pr, 2, 2.0, c);
    std::printf("%-14s %14.0f %14.0f %14.0f %7.1fx %7.2fx   R ~ %.5f / %.5f / %.5f\n", net.c_str(),
                base, one, two, one / base, two / one, a, b, c);
  }
  return 0;
}
