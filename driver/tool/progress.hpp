// A one-line progress report on standard error, rewritten in place; only
// when a person is watching, so logs and pipes stay clean.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

class ProgressLine {
 public:
  ProgressLine() : enabled_(::isatty(STDERR_FILENO) == 1) {}
  ~ProgressLine() { clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  bool enabled() const { return enabled_; }

  void show(const std::string& line) {
    if (!enabled_) return;
    std::fprintf(stderr, "\r%s%*s", line.c_str(),
                 width_ > line.size() ? int(width_ - line.size()) : 0, "");
    std::fflush(stderr);
    width_ = line.size();
  }

  void clear() {
    if (!enabled_ || width_ == 0) return;
    std::fprintf(stderr, "\r%*s\r", int(width_), "");
    std::fflush(stderr);
    width_ = 0;
  }

 private:
  bool enabled_;
  std::size_t width_ = 0;
};
