#include "driver/tool/sweep.hpp"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <new>

#include "driver/answer.hpp"
#include "driver/tool/edge_list.hpp"
#include "graph/my_graph.hpp"

namespace {

std::vector<std::string_view> splitColons(std::string_view text) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = text.find(':', start);
    parts.push_back(text.substr(start, colon - start));
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  return parts;
}

std::string tooMany() {
  return "the range has more than " + std::to_string(kMaxSweepValues) + " values";
}

const char kOutOfMemory[] =
    "the paths do not fit in memory; a tighter hop limit D needs fewer paths";

}  // namespace

std::string parsePRange(std::string_view text, std::vector<double>& values) {
  values.clear();
  const auto parts = splitColons(text);
  if (parts.size() != 1 && parts.size() != 3) return "expected FROM:TO:STEP or a single value";
  static const char* const kNames[] = {"FROM", "TO", "STEP"};
  double v[3] = {0, 0, 0};
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::string name = parts.size() == 1 ? "the value" : kNames[i];
    if (!parseDouble(parts[i], v[i]))
      return name + " '" + std::string(parts[i]) + "' is not a number";
    if (i < 2 && !(v[i] >= 0.0 && v[i] <= 1.0))
      return name + " " + std::string(parts[i]) + " is outside [0, 1]";
  }
  if (parts.size() == 1) {
    values.push_back(v[0]);
    return "";
  }
  const double from = v[0], to = v[1], step = v[2];
  if (!(step > 0.0)) return "STEP " + std::string(parts[2]) + " must be positive";
  if (from > to) return "FROM " + std::string(parts[0]) + " is beyond TO " + std::string(parts[1]);
  const double tolerance = 1e-9 * step;
  const double span = (to - from) / step;
  if (span >= static_cast<double>(kMaxSweepValues)) return tooMany();
  const long long count = static_cast<long long>(std::floor(span + 1e-9)) + 1;
  for (long long i = 0; i < count; ++i) {
    double x = from + static_cast<double>(i) * step;
    if (std::fabs(x - to) <= tolerance) x = to;
    if (x > to) break;
    values.push_back(x);
  }
  return "";
}

std::string parseDRange(std::string_view text, std::vector<int>& values) {
  values.clear();
  const auto parts = splitColons(text);
  if (parts.size() > 3) return "expected FROM:TO, FROM:TO:STEP or a single value";
  static const char* const kNames[] = {"FROM", "TO", "STEP"};
  int v[3] = {0, 0, 1};
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::string name = parts.size() == 1 ? "the value" : kNames[i];
    if (!parseInt(parts[i], v[i]))
      return name + " '" + std::string(parts[i]) + "' is not an integer";
  }
  if (parts.size() == 1) {
    values.push_back(v[0]);
    return "";
  }
  if (v[2] <= 0) return "STEP " + std::string(parts[2]) + " must be positive";
  if (v[0] > v[1])
    return "FROM " + std::string(parts[0]) + " is beyond TO " + std::string(parts[1]);
  const long long count = (static_cast<long long>(v[1]) - v[0]) / v[2] + 1;
  if (count > static_cast<long long>(kMaxSweepValues)) return tooMany();
  for (long long i = 0; i < count; ++i)
    values.push_back(static_cast<int>(v[0] + i * v[2]));
  return "";
}

Solution solve(const Problem& problem) {
  Solution s;
  const auto start = std::chrono::steady_clock::now();
  try {
    myGraph graph(problem.KAO.data(), problem.FO.data(), problem.TERMINALS.data(), problem.N,
                  problem.M, problem.D, problem.R, problem.R0);
    s.answer = answerText(graph.computeReliability());
    s.ok = true;
  } catch (const std::bad_alloc&) {
    s.error = kOutOfMemory;
  } catch (const std::exception& e) {
    s.error = e.what();
  }
  s.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return s;
}

std::string countStructure(const Problem& problem, Structure& out) {
  out = Structure{};
  try {
    myGraph graph(problem.KAO.data(), problem.FO.data(), problem.TERMINALS.data(), problem.N,
                  problem.M, problem.D, problem.R, problem.R0);
    graph.findAllPaths();
    out.pairs = graph.terminalPairs.size();
    for (const auto& pair : graph.terminalPairs)
      out.paths += pair.paths.size();
    graph.buildPathState();
    graph.buildLinkInfo();
    out.linksOnPaths = graph.numLinks;
    // Sorting does not change how many links remain.
    graph.prepareLinks(true, false);
    for (int r = 0; r < graph.numLinks; ++r)
      if (graph.linkRecord(r)[0] != -1) ++out.linksAfterMerging;
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

std::string csvHeader() {
  return "p,diameter,answer,reliability,seconds\n";
}

std::string reliabilityDigits(const std::string& answer) {
  static const std::string kYes = "YES\r\n";
  return answer.compare(0, kYes.size(), kYes) == 0 ? answer.substr(kYes.size()) : std::string();
}

std::string csvRow(double p, int D, const Solution& solution) {
  const bool yes = solution.answer != "NO";
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.6f", solution.seconds);
  return shortestText(p) + ',' + std::to_string(D) + ',' + (yes ? "YES" : "NO") + ',' +
         reliabilityDigits(solution.answer) + ',' + seconds + '\n';
}
