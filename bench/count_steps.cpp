// count_steps: reads "input" from the working directory like dcr, runs the
// engine, writes dcr's answer text to "output" (so it can be compared byte
// for byte with dcr-reference) and prints on standard output the engine's
// own step count (`searchSteps`: entries into a factoring step, the root's
// included), the number of paths and of link records, and the search form
// that ran.
#include <cstdio>
#include <string>

#include "driver/answer.hpp"
#include "driver/problem_file.hpp"
#include "reliability/my_graph.hpp"

namespace {

const char* formName(myGraph::searchForm form) {
  switch (form) {
    case myGraph::searchForm::table:
      return "table";
    case myGraph::searchForm::trailedMasks:
      return "trailed-masks";
    case myGraph::searchForm::snapshotMasks:
      return "snapshot-masks";
    case myGraph::searchForm::plainSnapshotMasks:
      return "plain-snapshot-masks";
    case myGraph::searchForm::onePair:
      return "one-pair";
    case myGraph::searchForm::chosen:
      break;
  }
  return "none";
}

}  // namespace

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
  myGraph graph(problem.KAO.data(), problem.FO.data(), problem.TERMINALS.data(), problem.N,
                problem.M, problem.D, problem.R, problem.R0);
  const std::string answer = answerText(graph.computeReliability());
  std::FILE* output = std::fopen("output", "w");
  if (!output) return 2;
  const bool ok = std::fwrite(answer.data(), 1, answer.size(), output) == answer.size();
  if (std::fclose(output) != 0 || !ok) return 2;
  std::printf("steps %lld\npaths %d\nlinks %d\nform %s\n", graph.searchSteps, graph.numPaths,
              graph.numLinks, formName(graph.searchRan));
  return 0;
}
