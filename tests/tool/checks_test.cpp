// Escaping text for the terminal and for plot titles, and the warnings about
// problems that are valid but usually a mistake.
#include "driver/tool/checks.hpp"

#include <gtest/gtest.h>

#include "driver/tool/text.hpp"

namespace {

using namespace std::string_literals;

TEST(Printable, EscapesEveryNonPrintableByteAndKeepsUtf8) {
  EXPECT_EQ(printable("net_1.input"), "net_1.input");
  EXPECT_EQ(printable("réseau ✓.input"), "réseau ✓.input");
  EXPECT_EQ(printable("a\0b"s), "a\\x00b");
  EXPECT_EQ(printable("x\ny\rz\t"), "x\\ny\\rz\\t");
  EXPECT_EQ(printable("\x1b[31mred\x7f"), "\\x1B[31mred\\x7F");
  EXPECT_EQ(printable("\xc2\x9b"
                      "2J"),
            "\\xC2\\x9B2J");                       // C1 control CSI, UTF-8 encoded
  EXPECT_EQ(printable("\xff\xc3"), "\\xFF\\xC3");  // not UTF-8; cut sequence
  EXPECT_EQ(printable("\xc0\xaf"), "\\xC0\\xAF");  // overlong '/'
  // What comes out is printable ASCII or UTF-8 again: escaping is stable.
  EXPECT_EQ(printable(printable("\x01\xfe")), printable("\x01\xfe"));
}

TEST(TitleText, BlanksControlsAndReplacesBrokenBytes) {
  EXPECT_EQ(titleText("p\n!touch PWNED\n.input"), "p !touch PWNED .input");
  EXPECT_EQ(titleText("a\0b\x1b\xc2\x85"s), "a b  ");
  EXPECT_EQ(titleText("ü\xff"), "ü?");
}

Problem parse(const std::string& text) {
  Problem p;
  const ReadOutcome read = readProblem(text, p);
  EXPECT_TRUE(read.ok) << read.error;
  return p;
}

bool mentions(const std::vector<std::string>& warnings, const std::string& part) {
  for (const std::string& w : warnings)
    if (w.find(part) != std::string::npos) return true;
  return false;
}

TEST(Warnings, NoneForAnOrdinaryProblem) {
  EXPECT_TRUE(
      problemWarnings(parse("3 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n2 0.5 0.5\n"), 0, true).empty());
}

TEST(Warnings, IsolatedNodesTerminalsWithoutEdgesAndOddFlags) {
  // Nodes 1..5 (numbered from 1): edge 2-3 only; terminals 1 and 2; node 4
  // has flag 2, node 5 flag -1. Shown from 1.
  const Problem p = parse("5 1\n0,0,1,2,2,2,\n3,2,\n1,1,0,2,-1,\n2 0.5 0.5\n");
  const auto w = problemWarnings(p, 1, false);
  ASSERT_EQ(w.size(), 3u) << ::testing::PrintToString(w);
  EXPECT_EQ(w[0], "2 nodes (4, 5) without any edge (isolated)");
  EXPECT_NE(w[1].find("terminal 1 without any edge"), std::string::npos) << w[1];
  EXPECT_NE(w[1].find("reliability is 0"), std::string::npos) << w[1];
  EXPECT_NE(w[2].find("node 4 has 2, 5 has -1"), std::string::npos) << w[2];

  // Numbered from 0, the hint about --base 1 comes only from an edge list,
  // and then node 0 is named there rather than among the others.
  const auto fromZero = problemWarnings(p, 0, true);
  EXPECT_TRUE(mentions(fromZero, "node 0 has no edge: with --base 0"));
  EXPECT_FALSE(mentions(fromZero, "terminal 0 without"));
  EXPECT_FALSE(mentions(problemWarnings(p, 0, false), "--base 1"));
  EXPECT_FALSE(mentions(problemWarnings(p, 1, true), "--base 1"));
}

// Where the reader stops comes from the reader itself; what is past it
// and not blank is shown, escaped and cut.
TEST(TrailingText, ShowsWhatIsNeverRead) {
  const auto warning = [](const std::string& text) {
    Problem p;
    const ReadOutcome read = readProblem(text, p);
    EXPECT_TRUE(read.ok) << read.error;
    return trailingTextWarning(text, read.end);
  };
  const std::string body = "3 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n2 0.5 ";
  EXPECT_EQ(warning(body + "0.5\n\n \t"), "");
  EXPECT_EQ(warning(body + "0.5"), "");
  EXPECT_EQ(warning(body + "0.5 0.7\n# second try\x01\n"),
            "line 5: text after the threshold is ignored: '0.7\\n# second try\\x01'");
  EXPECT_EQ(warning(body + "0.5x"), "line 5: text after the threshold is ignored: 'x'");
  EXPECT_NE(warning(body + "0.5\n" + std::string(100, 'y') + "\n").find("yyy'... (100 bytes)"),
            std::string::npos);
}

}  // namespace
