// Sweep ranges, the engine calls of `show` and `sweep`, and the gnuplot files.
#include "driver/tool/sweep.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "driver/tool/edge_list.hpp"
#include "driver/tool/plot.hpp"

namespace {

const char kTriangle[] = "3 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n2 0.5 0.5\n";

Problem triangle() {
  Problem p;
  EXPECT_TRUE(readProblem(kTriangle, p).ok);
  return p;
}

TEST(PRange, ValuesAreFromPlusIStep) {
  std::vector<double> v;
  ASSERT_EQ(parsePRange("0:1:0.01", v), "");
  ASSERT_EQ(v.size(), 101u);
  double added = 0;  // what repeated addition would give, for contrast
  bool drifted = false;
  for (std::size_t i = 0; i < v.size(); ++i) {
    EXPECT_EQ(v[i], i + 1 == v.size() ? 1.0 : 0.0 + static_cast<double>(i) * 0.01) << i;
    drifted = drifted || added != v[i];
    added += 0.01;
  }
  EXPECT_TRUE(drifted);
}

TEST(PRange, EndpointWithinToleranceIsToItself) {
  std::vector<double> v;
  // 0.1 + 3*0.2 is 0.7000000000000001: TO is used, not overshot.
  ASSERT_EQ(parsePRange("0.1:0.7:0.2", v), "");
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(v[1], 0.1 + 1 * 0.2);
  EXPECT_EQ(v.back(), 0.7);
  // 0.9 + 0.2 would leave [0, 1]: the range stops at the last value not beyond TO.
  ASSERT_EQ(parsePRange("0.5:1:0.2", v), "");
  EXPECT_EQ(v, (std::vector<double>{0.5, 0.5 + 0.2, 0.5 + 2 * 0.2}));
  ASSERT_EQ(parsePRange("0.3:0.3:0.1", v), "");
  EXPECT_EQ(v, (std::vector<double>{0.3}));
  ASSERT_EQ(parsePRange("0.25", v), "");
  EXPECT_EQ(v, (std::vector<double>{0.25}));
}

TEST(PRange, ErrorsSayWhichPart) {
  std::vector<double> v;
  EXPECT_EQ(parsePRange("0:1:0", v), "STEP 0 must be positive");
  EXPECT_EQ(parsePRange("0.8:0.2:0.1", v), "FROM 0.8 is beyond TO 0.2");
  EXPECT_EQ(parsePRange("0:1.5:0.1", v), "TO 1.5 is outside [0, 1]");
  EXPECT_EQ(parsePRange("x:1:0.1", v), "FROM 'x' is not a number");
  EXPECT_EQ(parsePRange("0:1", v), "expected FROM:TO:STEP or a single value");
  EXPECT_NE(parsePRange("0:1:1e-9", v).find("more than"), std::string::npos);
  EXPECT_NE(parsePRange("0:1:1e-310", v).find("spacing of doubles"), std::string::npos);
}

TEST(DRange, IntegersWithOptionalStep) {
  std::vector<int> v;
  ASSERT_EQ(parseDRange("1:4", v), "");
  EXPECT_EQ(v, (std::vector<int>{1, 2, 3, 4}));
  ASSERT_EQ(parseDRange("2:9:3", v), "");
  EXPECT_EQ(v, (std::vector<int>{2, 5, 8}));
  ASSERT_EQ(parseDRange("-1:1", v), "");
  EXPECT_EQ(v, (std::vector<int>{-1, 0, 1}));
  ASSERT_EQ(parseDRange("5", v), "");
  EXPECT_EQ(v, (std::vector<int>{5}));

  EXPECT_EQ(parseDRange("4:1", v), "FROM 4 is beyond TO 1");
  EXPECT_EQ(parseDRange("1:2.5", v), "TO '2.5' is not a decimal integer");
  EXPECT_EQ(parseDRange("0x10", v), "the value '0x10' is not a decimal integer");
  EXPECT_NE(parseDRange("-2000000000:2000000000", v).find("more than"), std::string::npos);
}

TEST(Engine, SolveReportsTheCutOff) {
  // A ring of eight with two chords, at p = 0.5 far below threshold 0.7.
  EdgeList ring;
  ASSERT_EQ(parseEdgeList("0 1\n1 2\n2 3\n3 4\n4 5\n5 6\n6 7\n7 0\n0 4\n2 6\n", 0, -1, ring), "");
  Problem p;
  ASSERT_EQ(makeProblem(ring, {1, 0, 0, 1, 0, 1, 0, 0}, 4, 0.5, 0.7, p), "");
  const Solution s = solve(p);
  ASSERT_TRUE(s.ok) << s.error;
  EXPECT_EQ(s.answer, "NO");
}

TEST(Engine, StructureCountsOfTheTriangle) {
  Structure s;
  ASSERT_EQ(countStructure(triangle(), s), "");
  EXPECT_EQ(s.pairs, 1u);
  EXPECT_EQ(s.paths, 2u);  // 0-1 and 0-2-1
  EXPECT_EQ(s.linksOnPaths, 3);
  EXPECT_EQ(s.linksAfterMerging, 2);  // 0-2 and 2-1 lie on the same one path

  Problem p = triangle();
  p.D = 1;
  ASSERT_EQ(countStructure(p, s), "");
  EXPECT_EQ(s.paths, 1u);
  EXPECT_EQ(s.linksOnPaths, 1);
}

PlotRequest twoSeries() {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  PlotRequest r;
  r.output = "it's here.png";
  r.title = "net_1.input";
  r.xLabel = "edge probability p";
  r.threshold = 0.5;
  r.series.push_back({"D = 2", {0, 0.5, 1}, {0, 0.25, 1}});
  r.series.push_back({"D = 3", {0, 0.5, 0.75, 1}, {0, nan, nan, 1}});
  return r;
}

TEST(Plot, DataBreaksLinesAtNoAnswers) {
  EXPECT_EQ(plotData(twoSeries()),
            "0 0 ? ?\n0.5 0.25 ? ?\n1 1 ? ?\n"
            "\n\n"
            "0 0 ? ?\n\n0.5 ? 0.45 ?\n0.75 ? 0.45 ?\n1 1 ? ?\n");
}

TEST(Plot, ScriptDrawsEverySeries) {
  const std::string script = gnuplotScript(twoSeries());
  EXPECT_NE(script.find("title 'D = 3'"), std::string::npos);
  EXPECT_NE(script.find("threshold R = 0.5"), std::string::npos);
  // Only the series with NO answers gets markers.
  EXPECT_EQ(script.find("index 0 using 1:3"), std::string::npos);
  EXPECT_NE(script.find("index 1 using 1:3"), std::string::npos);
}

}  // namespace
