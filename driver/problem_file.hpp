// Reading a problem file.
//
// The file is a fixed sequence of scanf-style conversions:
//
//   N  M  KAO[0..N]  FO[0..2M-1]  TERMINALS[0..N-1]  D  R  R0
//
// "%d" for N, M and D, "%d," for every list element (one comma may follow
// directly), "%lf" for R and R0. Any white space separates values; nothing
// after R0 is looked at. The reader accepts exactly what those conversions
// accept for a well-formed file, and rejects everything else with a message
// naming the value and its line and column, because a wrong problem must
// never produce an answer.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

struct Problem {
  int N = 0;                   // nodes
  int M = 0;                   // undirected edges
  std::vector<int> KAO;        // N + 1 offsets into FO, from 0 to 2M
  std::vector<int> FO;         // 2M neighbour numbers, counted from 1
  std::vector<int> TERMINALS;  // N flags; 1 marks a terminal
  int D = 0;                   // hop limit; negative means none
  double R = 0.0;              // edge working probability
  double R0 = 0.0;             // threshold
};

struct ReadOutcome {
  bool ok = false;
  bool unreadable = false;  // !ok because reading the file failed, not its text
  std::string error;        // "line L, column C: ..." when !ok
  std::size_t end = 0;      // when ok: bytes up to the end of the threshold; the rest is unread
};

// Parses and checks `text`. On success fills `out`; on failure `out` holds
// whatever was read so far.
ReadOutcome readProblem(std::string_view text, Problem& out);

// The same, reading `file` as it goes: memory holds the converted values,
// never the text, so a file of any length costs only what its values need.
// Nothing after the threshold is read. Throws std::bad_alloc when the
// values themselves do not fit.
ReadOutcome readProblem(std::FILE* file, Problem& out);

// Reads the whole file at `path` into `text`; false if it cannot be read.
bool readWholeFile(const std::string& path, std::string& text);
