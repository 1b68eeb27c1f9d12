// Times computeReliability of the product engine (myGraph) and of the
// straightforward reference engine (reference::myGraph) on small problems
// held in memory. Each iteration constructs a fresh object, since an object
// serves exactly one computation. The "steps" counter is the number of
// factoring steps per second (the engine's own count, `searchSteps`; both
// engines take the same steps).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "reliability/my_graph.hpp"
#include "tests/reference/reference_engine.hpp"
#include "tests/support/problems.hpp"

namespace {

struct Case {
  std::string name;
  Problem problem;
};

const std::vector<Case>& cases() {
  static const std::vector<Case> all = {
      // Two far-apart nodes of the dodecahedron, every path of at most 6 edges.
      {"dodecahedron_2t_D6", examples::dodecahedron({0, 17}, 6, 0.9, 0.9)},
      // 4x4 grid, the four corners as terminals, hop limit 6.
      {"grid4x4_corners_D6", examples::grid(4, 4, {0, 3, 12, 15}, 6, 0.9, 0.8)},
      // Dense random graph, four terminals, D = 3; the threshold lies above
      // the reliability, so the search stops with "NO" part way through.
      {"random9_4t_D3_cut", examples::randomGraph(2, 9, 0.6, 4, 3, 0.8, 0.9995)},
  };
  return all;
}

std::uint64_t stepsOf(const Problem& p) {
  myGraph g(p.KAO.data(), p.FO.data(), p.TERMINALS.data(), p.N, p.M, p.D, p.R, p.R0);
  g.computeReliability();
  return static_cast<std::uint64_t>(g.searchSteps);
}

template <class Graph>
void run(benchmark::State& state, const Problem& p, std::uint64_t steps) {
  for (auto _ : state) {
    Graph g(p.KAO.data(), p.FO.data(), p.TERMINALS.data(), p.N, p.M, p.D, p.R, p.R0);
    benchmark::DoNotOptimize(g.computeReliability());
  }
  state.counters["steps"] =
      benchmark::Counter(static_cast<double>(steps), benchmark::Counter::kIsIterationInvariantRate);
}

int registerAll() {
  for (const Case& c : cases()) {
    const std::uint64_t steps = stepsOf(c.problem);
    const Problem* p = &c.problem;
    benchmark::RegisterBenchmark(("dcr/" + c.name).c_str(), [p, steps](benchmark::State& s) {
      run<myGraph>(s, *p, steps);
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("reference/" + c.name).c_str(), [p, steps](benchmark::State& s) {
      run<reference::myGraph>(s, *p, steps);
    })->Unit(benchmark::kMillisecond);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  registerAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
