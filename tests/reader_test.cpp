// Reading problem files: the accepted layouts, and the rejected ones with
// the place of the offending value.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "driver/problem_file.hpp"

namespace {

// The triangle 0-1-2 with terminals 0 and 1, D = 2, p = 0.5, threshold 0.5.
const char* const kTriangle = "3 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n2 0.5 0.5\n";

void expectTriangle(const Problem& p) {
  EXPECT_EQ(p.N, 3);
  EXPECT_EQ(p.M, 3);
  EXPECT_EQ(p.KAO, (std::vector<int>{0, 2, 4, 6}));
  EXPECT_EQ(p.FO, (std::vector<int>{2, 3, 1, 3, 1, 2}));
  EXPECT_EQ(p.TERMINALS, (std::vector<int>{1, 1, 0}));
  EXPECT_EQ(p.D, 2);
  EXPECT_EQ(p.R, 0.5);
  EXPECT_EQ(p.R0, 0.5);
}

TEST(Reader, CommaAndBlankLayoutsReadAlike) {
  const char* layouts[] = {
      kTriangle,
      "3 3 0, 2, 4, 6, 2, 3, 1, 3, 1, 2, 1, 1, 0, 2 0.5 0.5",
      "3 3 0 2 4 6 2 3 1 3 1 2 1 1 0 2 0.5 0.5",
      "3\n3\n0,2,\n4 6\n2,3,\t1,3,\n1,2,\r\n1,1,0\n2\n0.5\n0.5",
      // Signs and exponents as "%d" and "%lf" take them; nothing after the threshold counts.
      "  3 3 0,2,4,6,2,3,1,3,1,2,1,1,0,+2 5e-1 .5garbage",
      "3 3 0,2,4,6, 2,3,1,3,1,2, 1,1,0, 2 0.5 0.5, and then some words 7 8,",
  };
  for (const char* text : layouts) {
    SCOPED_TRACE(text);
    Problem p;
    const ReadOutcome r = readProblem(text, p);
    ASSERT_TRUE(r.ok) << r.error;
    expectTriangle(p);
  }
}

TEST(Reader, EndIsWhereTheThresholdStops) {
  const std::string body = "3 3 0,2,4,6, 2,3,1,3,1,2, 1,1,0, 2 0.5 ";
  for (const std::string tail : {"0.5", "0.5\n", "0.5 more words", "5e-1x", "1e+x"}) {
    Problem p;
    const ReadOutcome r = readProblem(body + tail, p);
    ASSERT_TRUE(r.ok) << r.error;
    const std::size_t number = tail.find_first_of(" \nx");
    EXPECT_EQ(r.end, body.size() + (number == std::string::npos ? tail.size() : number)) << tail;
  }
}

TEST(Reader, FlagsAreReadAsWritten) {
  // Which flags mark terminals is the engine's business: the reader keeps them.
  Problem p;
  ASSERT_TRUE(readProblem("4 0 0,0,0,0,0, 1,0,2,-1, 1 0.5 0.5", p).ok);
  EXPECT_EQ(p.TERMINALS, (std::vector<int>{1, 0, 2, -1}));
  EXPECT_TRUE(p.FO.empty());
}

TEST(Reader, RejectsMalformedInputAtTheOffendingValue) {
  struct Bad {
    const char* text;
    const char* where;
  };
  const Bad cases[] = {
      {"3 x\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n2 0.5 0.5\n", "line 1, column 3"},
      {"3 3\n0 ,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n2 0.5 0.5\n", "line 2, column 3"},
      {"3, 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n2 0.5 0.5\n", "line 1, column 2"},
      {"3 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n2, 0.5 0.5\n", "line 5, column 2"},
      {"-3 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n2 0.5 0.5\n", "line 1, column 1"},
      {"3 3\n1,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n2 0.5 0.5\n", "line 2, column 1"},
      {"3 3\n0,4,2,6,\n2,3,1,3,1,2,\n1,1,0,\n2 0.5 0.5\n", "line 2, column 5"},
      {"3 3\n0,2,4,5,\n2,3,1,3,1,2,\n1,1,0,\n2 0.5 0.5\n", "line 2, column 7"},
      {"3 3\n0,2,4,6,\n2,3,1,3,1,4,\n1,1,0,\n2 0.5 0.5\n", "line 3, column 11"},
      {"3 3\n0,2,4,6,\n1,3,1,3,1,2,\n1,1,0,\n2 0.5 0.5\n", "line 3, column 1"},
      {"3 3\n0,2,4,6,\n2,2,1,3,1,2,\n1,1,0,\n2 0.5 0.5\n", "line 3, column 3"},
      {"3 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n99999999999 0.5 0.5\n", "line 5, column 1"},
      {"3 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n2 1.5 0.5\n", "line 5, column 3"},
      {"3 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n2 nan 0.5\n", "line 5, column 3"},
      {"3 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n2 0.5 nan\n", "line 5, column 7"},
      {"3 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n2 0.5", "line 5, column 6"},
      {"3 3\n0,2,4,6,\n2,3,1,", "line 3, column 7"},
      // Node 1 lists node 2 and node 3 lists node 2, but node 2 lists only node 1.
      {"3 2\n0,2,3,4,\n2,3,1,2,\n1,1,0,\n2 0.5 0.5\n", "line 3, column"},
      {"", "line 1, column 1"},
  };
  for (const Bad& c : cases) {
    SCOPED_TRACE(c.text);
    Problem p;
    const ReadOutcome r = readProblem(c.text, p);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find(c.where), std::string::npos) << r.error;
    EXPECT_EQ(r.error.find('\n'), std::string::npos) << r.error;
  }
}

}  // namespace

// The last three values against the C library's own conversions, run the
// way the format prescribes ("%d", "%lf", "%lf" on one stream): whatever
// they accept must be read alike, to the bit, and whatever they refuse
// must be refused. "infin" is the classic trap: a prefix of "infinity" that
// "%lf" rejects although "inf" on its own is a number.
namespace {

struct Scanned {
  bool converted = false;  // all three conversions succeeded
  int D = 0;
  double p = 0, threshold = 0;
};

Scanned scanTail(const std::string& tail) {
  Scanned s;
  std::string copy = tail;
  std::FILE* f = fmemopen(copy.data(), copy.size(), "r");
  if (!f) return s;
  s.converted = std::fscanf(f, "%d", &s.D) == 1 && std::fscanf(f, "%lf", &s.p) == 1 &&
                std::fscanf(f, "%lf", &s.threshold) == 1;
  std::fclose(f);
  return s;
}

bool sameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

TEST(Reader, NumbersAreWhatTheLibraryConversionTakes) {
  const char* pTokens[] = {"0.5",   "1e", "1e+",  "0x1p-1", "0X1.8P-1", ".5garbage", "0.5e0.5",
                           "5e-1x", "0x", "inf",  "infin",  "nan",      "+",         ".",
                           "1.",    "-0", "0.5e", "1e+x",   "0.25 1e"};
  const char* thresholdTokens[] = {"0.5",     "inf",    "INFINITY", "infin", "infi",
                                   "infinit", "+infin", "-inf",     "infx",  "infix",
                                   "nan",     "nan(1)", "1e",       "0x",    "0x1p",
                                   "2.5x",    "-",      "",         "1e+",   "infinityx"};
  int compared = 0;
  for (const char* p : pTokens) {
    for (const char* t : thresholdTokens) {
      const std::string tail = std::string("2 ") + p + " " + t + "\n";
      SCOPED_TRACE(tail);
      const Scanned want = scanTail(tail);
      Problem got;
      const ReadOutcome r = readProblem("3 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n" + tail, got);
      const bool valid =
          want.converted && want.p >= 0.0 && want.p <= 1.0 && !std::isnan(want.threshold);
      EXPECT_EQ(r.ok, valid) << r.error;
      if (r.ok && valid) {
        EXPECT_EQ(got.D, want.D);
        EXPECT_TRUE(sameBits(got.R, want.p)) << got.R << " vs " << want.p;
        EXPECT_TRUE(sameBits(got.R0, want.threshold)) << got.R0 << " vs " << want.threshold;
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 40);  // the table must exercise accepted spellings, not only failures
}

// The file reader reads a block at a time: values, numbers given back and
// places must come out the same when they straddle a block's end.
TEST(Reader, FileReaderAgreesWithTheTextReaderAcrossBlocks) {
  for (std::size_t pad : {65536 - 40, 65536 - 37, 65536 - 35, 65536 - 33, 65536 - 31, 131072 - 3}) {
    for (const char* tail : {"2 0.5e0.5\n", "2 0.5 infin\n", "2 1e+x\n", "2 0.5 0.5\n"}) {
      const std::string text =
          std::string(pad, ' ') + "3 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n" + tail;
      SCOPED_TRACE(std::to_string(pad) + " " + tail);
      std::FILE* f = std::tmpfile();
      ASSERT_NE(f, nullptr);
      ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), f), text.size());
      std::rewind(f);
      Problem fromFile, fromText;
      const ReadOutcome a = readProblem(f, fromFile);
      std::fclose(f);
      const ReadOutcome b = readProblem(text, fromText);
      EXPECT_EQ(a.ok, b.ok);
      EXPECT_EQ(a.error, b.error);
      EXPECT_FALSE(a.unreadable);
      if (a.ok && b.ok) {
        EXPECT_TRUE(sameBits(fromFile.R, fromText.R));
        EXPECT_TRUE(sameBits(fromFile.R0, fromText.R0));
        EXPECT_EQ(fromFile.FO, fromText.FO);
      }
    }
  }
}

TEST(Reader, AFolderIsUnreadableNotMalformed) {
  std::FILE* f = std::fopen("/", "r");
  if (!f) GTEST_SKIP() << "this system does not open folders as files";
  Problem p;
  const ReadOutcome r = readProblem(f, p);
  std::fclose(f);
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.unreadable);
}
