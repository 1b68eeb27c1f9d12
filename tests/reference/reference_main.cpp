// dcr-reference: dcr's file handling around the straightforward engine, for
// byte-for-byte comparisons with dcr on whole problem files.
#include <cstdio>

#include "driver/problem_file.hpp"
#include "tests/reference/reference_engine.hpp"

int main() {
  std::string text;
  if (!readWholeFile("input", text)) return 1;
  Problem problem;
  if (!readProblem(text, problem).ok) return 3;
  reference::myGraph peow(problem.KAO.data(), problem.FO.data(), problem.TERMINALS.data(),
                          problem.N, problem.M, problem.D, problem.R, problem.R0);
  const double result = peow.computeReliability();
  std::FILE* output = std::fopen("output", "w");
  if (!output) return 2;
  if (result != -1.0)
    std::fprintf(output, "YES\r\n%.20f", result);
  else
    std::fprintf(output, "NO");
  return std::fclose(output) == 0 ? 0 : 2;
}
