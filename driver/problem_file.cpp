#include "driver/problem_file.hpp"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
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

// The bytes being read: a text in memory, or a file read a block at a time,
// so that what the reader holds is the values it converted, never the text
// (blanks and comments of any length cost nothing).
class Source {
 public:
  explicit Source(std::string_view text) : cur_(text.data()), end_(text.data() + text.size()) {}
  explicit Source(std::FILE* file) : file_(file) {}

  // The next byte, or -1 at the end of the text (or on a read error).
  int peek() {
    if (cur_ == end_ && !refill()) return -1;
    return static_cast<unsigned char>(*cur_);
  }
  void advance() { ++cur_; }
  bool failed() const { return failed_; }

 private:
  bool refill() {
    if (!file_ || failed_) return false;
    const std::size_t got = std::fread(buffer_, 1, sizeof buffer_, file_);
    if (got == 0) {
      failed_ = std::ferror(file_) != 0;
      return false;
    }
    cur_ = buffer_;
    end_ = buffer_ + got;
    return true;
  }

  const char* cur_ = nullptr;
  const char* end_ = nullptr;
  std::FILE* file_ = nullptr;
  bool failed_ = false;
  char buffer_[1 << 16];
};

// Where a value starts, for messages.
struct Place {
  long long line = 1;
  long long column = 1;
  long long offset = 0;  // bytes before it
  std::string text() const {
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
  }
};

// A cursor over the text that performs the scanf-style conversions one at
// a time and, on failure, says what went wrong and where.
class Cursor {
 public:
  explicit Cursor(Source& source) : in_(source) {}

  // "%d" (list = false) or "%d," (list = true).
  bool readInt(int& value, bool list, const std::string& what) {
    skipBlanks();
    start_ = here_;
    std::string token;  // for the message only: sign, then at most kShown digits
    bool negative = false;
    if (peek() == '+' || peek() == '-') {
      negative = peek() == '-';
      take(token);
    }
    long long magnitude = 0;
    bool any = false;
    while (peek() >= 0 && std::isdigit(peek())) {
      if (magnitude <= static_cast<long long>(INT_MAX) + 1)
        magnitude = magnitude * 10 + (peek() - '0');
      any = true;
      take(token);
    }
    if (!any)
      return token.empty() ? expected(what, "an integer")
                           : fail(what + ": expected an integer, found '" + token + "'");
    const long long v = negative ? -magnitude : magnitude;
    if (v < INT_MIN || v > INT_MAX)
      return fail(what + ": " + token + " is outside the range of an integer");
    value = static_cast<int>(v);
    if (list && peek() == ',') step();
    lastWasList_ = list;
    return true;
  }

  // "%lf". The characters a number can be made of are gathered and handed to
  // the C library's own "%lf" conversion, so exactly what it accepts is
  // accepted, with the same value and the same length taken: "inf" and
  // "infinity" are numbers, "infin" is not.
  bool readDouble(double& value, const std::string& what) {
    skipBlanks();
    start_ = here_;
    std::string token;
    for (int c = peek(); c >= 0; c = peek()) {
      if (!(std::isalnum(c) || c == '.' || c == '+' || c == '-' || c == '(' || c == ')' ||
            c == '_'))
        break;
      token += static_cast<char>(c);
      step();
    }
    if (token.empty()) return expected(what, "a number");
    double v = 0;
    int used = 0;
    if (std::sscanf(token.c_str(), "%lf%n", &v, &used) != 1 || used <= 0)
      return fail(what + ": " + shown(token) + " is not a number");
    // What the conversion left belongs to the next read ("0.5e0.5" is the
    // number 0.5e0 and then .5). No token holds a line end, so the place
    // moves along the line.
    if (static_cast<std::size_t>(used) < token.size()) {
      pending_.assign(token, static_cast<std::size_t>(used), std::string::npos);
      pendingAt_ = 0;
      here_ = start_;
      here_.column += used;
      here_.offset += used;
      prevBlank_ = false;
    }
    value = v;
    lastWasList_ = false;
    return true;
  }

  // Records an error about the value read last.
  bool failValue(const std::string& message) { return fail(message); }

  const Place& valueStart() const { return start_; }
  long long consumed() const { return here_.offset; }
  const std::string& error() const { return error_; }
  bool readFailed() const { return in_.failed(); }

 private:
  static constexpr std::size_t kShown = 24;

  // Up to kShown characters of a token, escaped, and "..." if there is more.
  static std::string shown(const std::string& token) {
    std::string out = "'";
    for (std::size_t i = 0; i < token.size() && i < kShown; ++i)
      out += token[i];
    return out + (token.size() > kShown ? "...'" : "'");
  }

  int peek() {
    if (pendingAt_ < pending_.size()) return static_cast<unsigned char>(pending_[pendingAt_]);
    return in_.peek();
  }

  void step() {
    ++here_.offset;
    if (peek() == '\n') {
      ++here_.line;
      here_.column = 1;
    } else {
      ++here_.column;
    }
    prevBlank_ = isBlank(static_cast<char>(peek()));
    if (pendingAt_ < pending_.size())
      ++pendingAt_;
    else
      in_.advance();
  }

  void take(std::string& token) {
    if (token.size() < kShown) token += static_cast<char>(peek());
    step();
  }

  void skipBlanks() {
    while (peek() >= 0 && isBlank(static_cast<char>(peek())))
      step();
  }

  bool expected(const std::string& what, const char* kind) {
    const int c = peek();
    if (c < 0) {
      if (in_.failed()) return fail(what + ": the file cannot be read");
      return fail(what + ": missing (the file ends before it)");
    }
    std::string message = what + ": expected " + kind + ", found " + showChar(static_cast<char>(c));
    if (c == ',' && prevBlank_ && lastWasList_)
      message += " (a comma must follow its value directly, with no blank in between)";
    else if (c == ',' && !lastWasList_)
      message += " (only list elements may be followed by a comma)";
    return fail(message);
  }

  bool fail(const std::string& message) {
    error_ = start_.text() + ": " + message;
    return false;
  }

  Source& in_;
  Place here_;   // place of the next byte
  Place start_;  // place of the value read last
  bool prevBlank_ = false;
  bool lastWasList_ = false;
  std::string pending_;  // bytes given back by the last number, read before the source's
  std::size_t pendingAt_ = 0;
  std::string error_;
};

// The place of every neighbour number, kept for the one message that
// names a value after all of them are read (an edge listed under one end
// only). Lines and columns beyond 2^32 are shown as 2^32 - 1.
struct CompactPlace {
  std::uint32_t line, column;
  static std::uint32_t clamp(long long v) {
    return v > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(v);
  }
};

ReadOutcome readFrom(Source& source, Problem& out) {
  ReadOutcome outcome;
  Cursor in(source);
  auto failed = [&] {
    outcome.error = in.error();
    outcome.unreadable = in.readFailed();
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
  std::vector<CompactPlace> places;
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
    places.push_back(
        {CompactPlace::clamp(in.valueStart().line), CompactPlace::clamp(in.valueStart().column)});
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
      const CompactPlace at = places[static_cast<std::size_t>(idx)];
      outcome.error = Place{at.line, at.column, 0}.text() + ": the " + ordinal(idx + 1) +
                      " neighbour number: node " + std::to_string(from + 1) + " lists node " +
                      std::to_string(w + 1) + ", but node " + std::to_string(w + 1) +
                      " does not list node " + std::to_string(from + 1);
      return outcome;
    }
  }

  outcome.ok = true;
  outcome.end = static_cast<std::size_t>(in.consumed());
  return outcome;
}

}  // namespace

ReadOutcome readProblem(std::string_view text, Problem& out) {
  Source source(text);
  return readFrom(source, out);
}

ReadOutcome readProblem(std::FILE* file, Problem& out) {
  Source source(file);
  return readFrom(source, out);
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
