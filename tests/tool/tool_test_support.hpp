// Helpers for the dcr-tool tests: private folders, whole-file I/O and
// running the built dcr and dcr-tool programs.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_folder.hpp"

namespace tooltest {

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void writeFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

using TempDir = testsupport::TempFolder;

inline std::string shellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s)
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct Ran {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs `program` with `args` in `dir`, standard input from /dev/null.
// `env` is prepended to the command, e.g. "PATH=/nonexistent".
inline Ran run(const std::filesystem::path& dir, const std::string& program,
               const std::vector<std::string>& args, const std::string& env = "") {
  std::string cmd = "cd " + shellQuote(dir.string()) + " && " + env + (env.empty() ? "" : " ") +
                    "exec " + shellQuote(program);
  for (const std::string& a : args)
    cmd += ' ' + shellQuote(a);
  cmd += " <" + shellQuote("/dev/null") + " >.run-out 2>.run-err";
  const int raw = std::system(cmd.c_str());
  Ran r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = readFile(dir / ".run-out");
  r.err = readFile(dir / ".run-err");
  return r;
}

// Runs the built dcr on `input` in a fresh folder and returns "output".
inline std::string dcrOutput(const std::string& input) {
  TempDir dir;
  writeFile(dir / "input", input);
  const Ran r = run(dir.path(), DCR_BIN, {});
  if (r.status != 0) return "dcr failed (" + std::to_string(r.status) + "): " + r.err;
  return readFile(dir / "output");
}

inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    out.push_back(line);
  return out;
}

inline std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(sep, start);
    out.push_back(text.substr(start, at - start));
    if (at == std::string::npos) return out;
    start = at + 1;
  }
}

}  // namespace tooltest
