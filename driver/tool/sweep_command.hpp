// Running the engine for dcr-tool: one solve, structure counts for `show`,
// and the value ranges and CSV rows of `sweep`.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "api/dcr.hpp"
#include "driver/problem_file.hpp"

// --p FROM:TO:STEP, or one value P. Values are FROM + i*STEP, each computed
// afresh so no rounding error builds up along the range. The range stops at
// the last value not beyond TO; when that value comes within a billionth of
// a STEP of TO (as 0.1 + 3*0.2 = 0.7000000000000001 does for TO = 0.7), TO
// itself is used, so the end the user typed is always hit exactly and never
// overshot. Every value must lie in [0, 1]. Returns "" or what is wrong.
std::string parsePRange(std::string_view text, std::vector<double>& values);

// --diameter FROM:TO[:STEP], or one value D; integers, STEP 1 by default.
std::string parseDRange(std::string_view text, std::vector<int>& values);

// Ranges longer than this are refused as almost certainly a typo.
inline constexpr std::size_t kMaxSweepValues = 100000;

struct Solution {
  bool ok = false;
  std::string answer;  // answerText(): exactly what dcr writes to "output"
  double seconds = 0;  // wall time of constructing and solving
  std::string error;   // when !ok: why the engine gave up
};

// Solves `problem` as dcr does: one myGraph, computeReliability() once.
Solution solve(const Problem& problem);

struct Structure {
  std::size_t pairs = 0;      // terminal pairs
  std::size_t paths = 0;      // paths of at most D edges over all pairs
  int linksOnPaths = 0;       // edges lying on at least one of those paths
  int linksAfterMerging = 0;  // what remains once equivalent links are folded
};

// Runs the engine's stages up to link merging. Returns "" or why it failed.
std::string countStructure(const Problem& problem, Structure& out);

// CSV: header line, then one row a solved value; both end in '\n'.
//   p         shortest round-trip text, so the row names the exact double
//   diameter  D
//   answer    YES or NO
//   reliability  the 20 decimals dcr writes; empty for NO
//   seconds   wall time
std::string csvHeader();
std::string csvRow(double p, int D, const Solution& solution);

// The rows of a sweep that asks for the true value: which engine gave it,
// its 20 decimals, and the bound on its rounding error (negative: none,
// for a row dcr's search solved).
std::string frontierCsvHeader();
std::string frontierCsvRow(double p, int D, const std::string& method,
                           const std::string& reliability, double errorBound, double seconds);

// The rows of `sweep --method estimate`: the estimate of R, its interval,
// standard error and sample count, shortest round-trip text each.
std::string estimateCsvHeader();
std::string estimateCsvRow(const dcr::CurvePoint& point, int D);

// The reliability digits of an answer text, "" for "NO".
std::string reliabilityDigits(const std::string& answer);

// 1 - R for reliability digits such as "0.99999999999999999999", worked
// out on the decimal digits so nothing is lost before the final rounding
// to a double (1 - 0.99999999999999999999 in doubles would be 0). NaN if
// `digits` is not a decimal number from 0 to 1.
double unreliability(const std::string& digits);
