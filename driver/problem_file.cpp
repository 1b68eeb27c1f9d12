#include "driver/problem_file.hpp"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

std::string ordinal(long long k) {
  const char* suffix = "th";
  if (k % 100 < 11 || k % 100 > 13) {
    if (k % 10 == 1) suffix = "st";
    if (k % 10 == 2) suffix = "nd";
    if (k % 10 == 3) suffix = "rd";
  }
  return std::to_string(k) + suffix;
}

bool isBlank(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

std::string showChar(char c) {
  if (std::isprint(static_cast<unsigned char>(c))) return std::string("'") + c + "'";
  char buf[16];
  std::snprintf(buf, sizeof buf, "byte 0x%02x", static_cast<unsigned char>(c));
  return buf;
}

// A cursor over the text that performs the scanf-style conversions one at
// a time and, on failure, says what went wrong and where.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}

  // "%d" (list = false) or "%d," (list = true).
  bool readInt(int& value, bool list, const std::string& what) {
    skipBlanks();
    start_ = pos_;
    std::size_t p = pos_;
    if (p < text_.size() && (text_[p] == '+' || text_[p] == '-')) ++p;
    const bool negative = p > pos_ && text_[pos_] == '-';
    const std::size_t digits = p;
    long long magnitude = 0;
    while (p < text_.size() && std::isdigit(static_cast<unsigned char>(text_[p]))) {
      if (magnitude <= static_cast<long long>(INT_MAX) + 1)
        magnitude = magnitude * 10 + (text_[p] - '0');
      ++p;
    }
    if (p == digits) return expected(what, "an integer");
    const long long v = negative ? -magnitude : magnitude;
    if (v < INT_MIN || v > INT_MAX) {
      return fail(start_, what + ": " + std::string(text_.substr(start_, p - start_)) +
                              " is outside the range of an integer");
    }
    value = static_cast<int>(v);
    pos_ = p;
    if (list && pos_ < text_.size() && text_[pos_] == ',') ++pos_;
    lastWasList_ = list;
    return true;
  }

  // "%lf".
  bool readDouble(double& value, const std::string& what) {
    skipBlanks();
    start_ = pos_;
    // The longest run of characters a number can hold (digits, sign, point,
    // exponent, hex digits, inf and nan spellings); strtod decides how much
    // of it is the number.
    std::size_t p = pos_;
    while (p < text_.size()) {
      const unsigned char c = static_cast<unsigned char>(text_[p]);
      if (!(std::isalnum(c) || c == '.' || c == '+' || c == '-' || c == '(' || c == ')' ||
            c == '_'))
        break;
      ++p;
    }
    const std::string token(text_.substr(pos_, p - pos_));
    char* end = nullptr;
    const double v = std::strtod(token.c_str(), &end);
    if (end == token.c_str()) return expected(what, "a number");
    value = v;
    pos_ += static_cast<std::size_t>(end - token.c_str());
    lastWasList_ = false;
    return true;
  }

  // Records an error about the value read last.
  bool failValue(const std::string& message) { return fail(start_, message); }

  std::size_t valueStart() const { return start_; }
  const std::string& error() const { return error_; }

  std::string where(std::size_t at) const {
    long long line = 1, column = 1;
    for (std::size_t i = 0; i < at && i < text_.size(); ++i) {
      if (text_[i] == '\n') {
        ++line;
        column = 1;
      } else {
        ++column;
      }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
  }

 private:
  void skipBlanks() {
    while (pos_ < text_.size() && isBlank(text_[pos_]))
      ++pos_;
  }

  bool expected(const std::string& what, const char* kind) {
    if (start_ >= text_.size()) return fail(start_, what + ": missing (the file ends before it)");
    const char c = text_[start_];
    std::string message = what + ": expected " + kind + ", found " + showChar(c);
    if (c == ',' && start_ > 0 && isBlank(text_[start_ - 1]) && lastWasList_)
      message += " (a comma must follow its value directly, with no blank in between)";
    else if (c == ',' && !lastWasList_)
      message += " (only list elements may be followed by a comma)";
    return fail(start_, message);
  }

  bool fail(std::size_t at, const std::string& message) {
    error_ = where(at) + ": " + message;
    return false;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t start_ = 0;
  bool lastWasList_ = false;
  std::string error_;
};

// Line and column of the value with the given index (0-based, counting
// from N); every value before it is known to be a readable integer.
std::string whereIsValue(std::string_view text, long long index) {
  Cursor c(text);
  int ignored = 0;
  for (long long k = 0; k <= index; ++k)
    c.readInt(ignored, k >= 2, "");
  return c.where(c.valueStart());
}

}  // namespace

ReadOutcome readProblem(std::string_view text, Problem& out) {
  ReadOutcome outcome;
  Cursor in(text);
  auto failed = [&] {
    outcome.error = in.error();
    return outcome;
  };

  if (!in.readInt(out.N, false, "the number of nodes N")) return failed();
  if (out.N < 0) {
    in.failValue("the number of nodes N is " + std::to_string(out.N) + "; it cannot be negative");
    return failed();
  }
  if (!in.readInt(out.M, false, "the number of edges M")) return failed();
  if (out.M < 0) {
    in.failValue("the number of edges M is " + std::to_string(out.M) + "; it cannot be negative");
    return failed();
  }
  const long long n = out.N;
  const long long twoM = 2LL * out.M;

  // Lists grow as values are actually read: a short file that declares a
  // huge N fails on its missing values, not on an allocation.
  for (long long i = 0; i <= n; ++i) {
    int v = 0;
    const std::string what = "the " + ordinal(i + 1) + " offset";
    if (!in.readInt(v, true, what)) return failed();
    std::string problem;
    if (i == 0 && v != 0) {
      problem = what + " is " + std::to_string(v) + "; the offsets start at 0";
    } else if (i > 0 && v < out.KAO.back()) {
      problem = what + " is " + std::to_string(v) + ", smaller than the offset before it (" +
                std::to_string(out.KAO.back()) + ")";
    } else if (v > twoM || (i == n && v != twoM)) {
      problem = what + " is " + std::to_string(v) +
                "; the offsets must end at 2M = " + std::to_string(twoM) +
                ", the length of the neighbour list";
    }
    if (!problem.empty()) {
      in.failValue(problem);
      return failed();
    }
    out.KAO.push_back(v);
  }

  // The neighbour list: numbers 1..N, no node its own neighbour, no
  // neighbour twice under one node. `seenUnder[w]` is the last node that
  // listed w.
  std::vector<int> seenUnder(static_cast<std::size_t>(n), -1);
  int u = 0;
  for (long long idx = 0; idx < twoM; ++idx) {
    while (out.KAO[u + 1] <= idx)
      ++u;
    int w = 0;
    const std::string what = "the " + ordinal(idx + 1) + " neighbour number";
    if (!in.readInt(w, true, what)) return failed();
    std::string problem;
    if (w < 1 || w > n) {
      problem = what + " is " + std::to_string(w) +
                "; neighbour numbers run from 1 to N = " + std::to_string(n);
    } else if (w - 1 == u) {
      problem = what + ": node " + std::to_string(w) + " is listed as its own neighbour";
    } else if (seenUnder[w - 1] == u) {
      problem = what + ": node " + std::to_string(w) +
                " is listed twice among the neighbours of node " + std::to_string(u + 1);
    }
    if (!problem.empty()) {
      in.failValue(problem);
      return failed();
    }
    seenUnder[w - 1] = u;
    out.FO.push_back(w);
  }

  for (long long i = 0; i < n; ++i) {
    int flag = 0;
    if (!in.readInt(flag, true, "the " + ordinal(i + 1) + " terminal flag")) return failed();
    out.TERMINALS.push_back(flag);
  }
  if (!in.readInt(out.D, false, "the hop limit D")) return failed();
  if (!in.readDouble(out.R, "the edge probability p")) return failed();
  if (!(out.R >= 0.0 && out.R <= 1.0)) {
    in.failValue("the edge probability p is " +
                 std::string(std::isnan(out.R) ? "not a number" : "outside [0, 1]"));
    return failed();
  }
  if (!in.readDouble(out.R0, "the threshold")) return failed();
  if (std::isnan(out.R0)) {
    in.failValue("the threshold is not a number");
    return failed();
  }

  // Every edge must be listed under both of its ends. For each node w,
  // every node that lists w must itself be listed by w.
  std::vector<int> revStart(static_cast<std::size_t>(n) + 1, 0);
  for (int w : out.FO)
    ++revStart[w];
  for (long long i = 0; i < n; ++i)
    revStart[i + 1] += revStart[i];
  std::vector<int> revFrom(out.FO.size()), revIndex(out.FO.size());
  {
    std::vector<int> fill(revStart.begin(), revStart.end() - 1);
    int node = 0;
    for (long long idx = 0; idx < twoM; ++idx) {
      while (out.KAO[node + 1] <= idx)
        ++node;
      const int w = out.FO[idx] - 1;
      revFrom[fill[w]] = node;
      revIndex[fill[w]++] = static_cast<int>(idx);
    }
  }
  std::fill(seenUnder.begin(), seenUnder.end(), -1);
  for (long long w = 0; w < n; ++w) {
    for (int k = out.KAO[w]; k < out.KAO[w + 1]; ++k)
      seenUnder[out.FO[k] - 1] = static_cast<int>(w);
    for (int k = revStart[w]; k < revStart[w + 1]; ++k) {
      const int from = revFrom[k];
      if (seenUnder[from] == w) continue;
      const long long idx = revIndex[k];
      outcome.error = whereIsValue(text, 2 + (n + 1) + idx) + ": the " + ordinal(idx + 1) +
                      " neighbour number: node " + std::to_string(from + 1) + " lists node " +
                      std::to_string(w + 1) + ", but node " + std::to_string(w + 1) +
                      " does not list node " + std::to_string(from + 1);
      return outcome;
    }
  }

  outcome.ok = true;
  return outcome;
}

bool readWholeFile(const std::string& path, std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  text.clear();
  char buffer[1 << 16];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    text.append(buffer, got);
  const bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}
