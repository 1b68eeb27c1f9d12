// Reading problem files: the accepted layouts, and the rejected ones with
// the place of the offending value.
#include <gtest/gtest.h>

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
