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
#include "reliability/my_graph.hpp"

namespace {

int report(int status, const std::string& message) {
  std::fprintf(stderr, "dcr: %s\n", message.c_str());
  return status;
}

constexpr const char* kUsage =
    "usage: dcr  (reads \"input\" and writes \"output\" in the working directory)";

// dcr does its job without arguments; --help and --version answer and touch
// no file, and anything else is refused before a file is opened, so a
// mistyped call never empties an earlier "output".
int answerArguments(int argc, char** argv) {
  const std::string arg = argv[1];
  if (argc == 2 && arg == "--help") {
    std::printf(
        "%s\n\n"
        "Decides whether the probability that every pair of terminal nodes is joined by a path\n"
        "of at most D working edges reaches a threshold, and computes it when it does.\n"
        "\"output\" gets \"YES\", a line end (CR LF) and the reliability with 20 decimals, or\n"
        "\"NO\". On any failure \"output\" is left empty, one line on standard error says why,\n"
        "and the exit status is 1 (\"input\" unreadable), 2 (\"output\" not writable),\n"
        "3 (malformed problem) or 4 (out of memory).\n\n"
        "  --help     print this text\n"
        "  --version  print the version\n",
        kUsage);
    return std::fflush(stdout) == 0 ? kExitAnswered : kExitOutputFailed;
  }
  if (argc == 2 && arg == "--version") {
    std::printf("dcr %s\n", DCR_VERSION);
    return std::fflush(stdout) == 0 ? kExitAnswered : kExitOutputFailed;
  }
  std::fprintf(stderr, "%s\n", kUsage);
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) return answerArguments(argc, argv);

  // Both files are opened before anything is read, so that "output" is
  // emptied even when reading fails: no stale answer survives a failed run.
  std::FILE* input = std::fopen("input", "r");
  std::FILE* output = std::fopen("output", "w");
  if (!input) {
    if (output) std::fclose(output);
    return report(kExitInputUnreadable, "cannot read the file \"input\" in the working directory");
  }
  if (!output) {
    std::fclose(input);
    return report(kExitOutputFailed, "cannot create the file \"output\" in the working directory");
  }

  Problem problem;
  ReadOutcome read;
  try {
    read = readProblem(input, problem);
  } catch (const std::bad_alloc&) {
    std::fclose(input);
    std::fclose(output);
    return report(kExitOutOfMemory, "out of memory while reading \"input\"");
  }
  std::fclose(input);
  if (!read.ok) {
    std::fclose(output);
    if (read.unreadable)
      return report(kExitInputUnreadable, "cannot read the file \"input\": " + read.error);
    return report(kExitBadInput, "input: " + read.error);
  }

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
