#include "driver/tool/sweep_command.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include "driver/answer.hpp"
#include "driver/tool/edge_list.hpp"
#include "driver/tool/solve_command.hpp"

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
  if (from == to) {
    values.push_back(from);
    return "";
  }
  // Below the spacing of doubles near TO, neighbouring values would round
  // to the same double and the same p would be solved again and again.
  const double spacing = std::nextafter(to, 2.0) - to;
  if (step < spacing) {
    return "STEP " + std::string(parts[2]) + " is below the spacing of doubles near TO (" +
           shortestText(spacing) + "), so p values would repeat";
  }
  const double tolerance = 1e-9 * step;
  // A first bound on the count keeps the loop short whatever the numbers;
  // the values themselves are counted below.
  if ((to - from) / step > static_cast<double>(kMaxSweepValues) + 1.0) return tooMany();
  for (std::size_t i = 0;; ++i) {
    double x = from + static_cast<double>(i) * step;
    if (std::fabs(x - to) <= tolerance) x = to;
    if (x > to) break;
    if (!values.empty() && x <= values.back()) {
      values.clear();
      return "STEP " + std::string(parts[2]) + " is below the spacing of doubles near " +
             shortestText(x) + ", so p values would repeat";
    }
    if (values.size() == kMaxSweepValues) {
      values.clear();
      return tooMany();
    }
    values.push_back(x);
    if (x == to) break;
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
      return name + " '" + std::string(parts[i]) + "' is not a decimal integer";
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
  const dcr::SearchRun run = dcr::searchRun(networkOf(problem, problem.D), problem.R, problem.R0);
  Solution s;
  s.ok = run.error == dcr::ErrorKind::kNone;
  if (s.ok)
    s.answer = answerText(run.value);
  else
    s.error = run.message;
  s.seconds = run.seconds;
  return s;
}

std::string countStructure(const Problem& problem, Structure& out) {
  dcr::PathCounts c;
  const std::string bad = dcr::countPaths(networkOf(problem, problem.D), c);
  out = Structure{c.pairs, c.paths, c.linksOnPaths, c.linksAfterMerging};
  return bad;
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

double unreliability(const std::string& digits) {
  const std::size_t point = digits.find('.');
  const std::string whole = digits.substr(0, point);
  const std::string fraction = point == std::string::npos ? "" : digits.substr(point + 1);
  const auto isDigits = [](const std::string& t) {
    return std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (!isDigits(fraction) || (whole != "0" && whole != "1")) return std::nan("");
  if (whole == "1") {
    return fraction.find_first_not_of('0') == std::string::npos ? 0.0 : std::nan("");
  }
  // 1 - 0.d1d2...dk = 0.(9-d1)(9-d2)...(9-dk) + 10^-k.
  std::string complement = fraction;
  for (char& c : complement)
    c = static_cast<char>('9' - (c - '0'));
  std::size_t i = complement.size();
  while (i > 0 && complement[i - 1] == '9')
    complement[--i] = '0';
  if (i == 0) return 1.0;  // R = 0
  ++complement[i - 1];
  return std::strtod(("0." + complement).c_str(), nullptr);
}

std::string frontierCsvHeader() {
  return "p,diameter,method,reliability,error_bound,seconds\n";
}

std::string frontierCsvRow(double p, int D, const std::string& method,
                           const std::string& reliability, double errorBound, double seconds) {
  char bound[32] = "", time[32];
  if (errorBound >= 0) std::snprintf(bound, sizeof bound, "%.3g", errorBound);
  std::snprintf(time, sizeof time, "%.6f", seconds);
  return shortestText(p) + ',' + std::to_string(D) + ',' + method + ',' + reliability + ',' +
         bound + ',' + time + '\n';
}

std::string estimateCsvHeader() {
  return "p,diameter,method,estimate,ci_low,ci_high,std_error,samples,seconds\n";
}

std::string estimateCsvRow(const dcr::CurvePoint& v, int D) {
  char time[32];
  std::snprintf(time, sizeof time, "%.6f", v.seconds);
  return shortestText(v.p) + ',' + std::to_string(D) + ',' + (v.exact ? "exact" : "estimate") +
         ',' + shortestText(v.value) + ',' + shortestText(v.ciLow) + ',' + shortestText(v.ciHigh) +
         ',' + shortestText(v.stdError) + ',' + std::to_string(v.samples) + ',' + time + '\n';
}
