// dcr: reads one problem from "input" in the working directory and writes
// its answer to "output": "YES\r\n" and the reliability with 20 decimals,
// or "NO" when the reliability is certain to be below the threshold.
//
// On any failure "output" is left empty (it is emptied before reading, so no
// stale answer survives), one line on standard error says what went wrong,
// and the exit status tells the class of failure (see exit_status.hpp).
#include <cstdio>
#include <new>
#include <string>

#include "driver/answer.hpp"
#include "driver/exit_status.hpp"
#include "driver/problem_file.hpp"
#include "graph/my_graph.hpp"

namespace {

int report(int status, const std::string& message) {
  std::fprintf(stderr, "dcr: %s\n", message.c_str());
  return status;
}

}  // namespace

int main() {
  std::string text;
  const bool inputRead = readWholeFile("input", text);
  std::FILE* output = std::fopen("output", "w");
  if (!inputRead) {
    if (output) std::fclose(output);
    return report(kExitInputUnreadable, "cannot read the file \"input\" in the working directory");
  }
  if (!output)
    return report(kExitOutputFailed, "cannot create the file \"output\" in the working directory");

  Problem problem;
  const ReadOutcome read = readProblem(text, problem);
  if (!read.ok) {
    std::fclose(output);
    return report(kExitBadInput, "input: " + read.error);
  }
  text.clear();
  text.shrink_to_fit();

  double result = 0.0;
  try {
    myGraph peow(problem.KAO.data(), problem.FO.data(), problem.TERMINALS.data(), problem.N,
                 problem.M, problem.D, problem.R, problem.R0);
    result = peow.computeReliability();
  } catch (const pathStoreFull& full) {
    std::fclose(output);
    return report(kExitOutOfMemory,
                  "the paths do not fit in memory: " + std::to_string(full.pathsStored) +
                      " paths stored when enumerating the paths between nodes " +
                      std::to_string(full.source + 1) + " and " + std::to_string(full.target + 1) +
                      " (terminal pair " + std::to_string(full.pairIndex + 1) +
                      "); a tighter hop limit D needs fewer paths");
  } catch (const std::bad_alloc&) {
    std::fclose(output);
    return report(kExitOutOfMemory, "out of memory; a tighter hop limit D needs fewer paths");
  }

  const std::string answer = answerText(result);
  const bool written = std::fwrite(answer.data(), 1, answer.size(), output) == answer.size();
  const bool closed = std::fclose(output) == 0;
  if (!written || !closed) return report(kExitOutputFailed, "cannot write the file \"output\"");
  return kExitAnswered;
}
