// count_steps: reads "input" from the working directory like dcr, replays
// the reference search with a step counter, writes dcr's answer text to
// "output" (so it can be compared byte for byte with dcr-reference) and
// prints "steps <count>" on standard output.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "bench/step_count.hpp"
#include "driver/answer.hpp"
#include "driver/problem_file.hpp"
#include "tests/reference/reference_engine.hpp"

int main() {
  std::string text;
  if (!readWholeFile("input", text)) {
    std::fprintf(stderr, "count_steps: cannot read \"input\"\n");
    return 1;
  }
  Problem problem;
  const ReadOutcome read = readProblem(text, problem);
  if (!read.ok) {
    std::fprintf(stderr, "count_steps: input: %s\n", read.error.c_str());
    return 3;
  }
  reference::myGraph graph(problem.KAO.data(), problem.FO.data(), problem.TERMINALS.data(),
                           problem.N, problem.M, problem.D, problem.R, problem.R0);
  const StepCount count = countSteps(graph);
  const std::string answer = answerText(count.result);
  std::FILE* output = std::fopen("output", "w");
  if (!output) return 2;
  const bool ok = std::fwrite(answer.data(), 1, answer.size(), output) == answer.size();
  if (std::fclose(output) != 0 || !ok) return 2;
  std::printf("steps %" PRIu64 "\npaths %d\nlinks %d\n", count.steps, graph.numPaths,
              graph.numLinks);
  return 0;
}
