// Sweep ranges, the engine calls of `show` and `sweep`, and the gnuplot files.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>

#include "driver/tool/edge_list.hpp"
#include "driver/tool/plot.hpp"
#include "driver/tool/sweep_command.hpp"

namespace {

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    out.push_back(line);
  return out;
}

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

TEST(PRange, TheValuesAreCountedNotTheSpan) {
  std::vector<double> v;
  // 1 / 1e-5 is just below 100000, but the range has 100001 values.
  EXPECT_NE(parsePRange("0:1:1e-5", v).find("more than 100000"), std::string::npos);
  EXPECT_TRUE(v.empty());
  ASSERT_EQ(parsePRange("0:0.99999:1e-5", v), "");
  EXPECT_EQ(v.size(), kMaxSweepValues);
}

// Every accepted range is strictly increasing; a STEP too fine for the
// doubles near TO is refused instead of solving one p many times.
TEST(PRange, StepBelowTheSpacingOfDoublesIsRefused) {
  std::vector<double> v;
  EXPECT_EQ(parsePRange("0.9:0.9000000000000001:1e-17", v),
            "STEP 1e-17 is below the spacing of doubles near TO (1.1102230246251565e-16), so p "
            "values would repeat");
  for (const char* range : {"0.5:0.50000000000001:1.2e-16", "0.25:0.2500000000001:6e-17",
                            "0:1e-300:1e-303", "0.999:1:1.2e-16"}) {
    const std::string bad = parsePRange(range, v);
    if (!bad.empty()) {
      EXPECT_NE(bad.find("spacing of doubles"), std::string::npos) << range << ": " << bad;
      continue;
    }
    for (std::size_t i = 1; i < v.size(); ++i)
      ASSERT_LT(v[i - 1], v[i]) << range << " at " << i;
  }
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

TEST(Engine, UnreliabilityFromTheDigits) {
  EXPECT_EQ(unreliability("0.99999999999999999999"), 1e-20);  // 0 if done in doubles
  EXPECT_EQ(unreliability("0.62500000000000000000"), 0.375);
  EXPECT_EQ(unreliability("0.90000000000000000000"), 0.1);
  EXPECT_EQ(unreliability("1.00000000000000000000"), 0.0);
  EXPECT_EQ(unreliability("0.00000000000000000000"), 1.0);
  EXPECT_TRUE(std::isnan(unreliability("")));
  EXPECT_TRUE(std::isnan(unreliability("1.5")));
}

PlotRequest twoSeries() {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  PlotRequest r;
  r.output = "it's here.png";
  r.title = "net_1.input";
  r.xLabel = "edge probability p";
  r.threshold = 0.5;
  r.bandTitle = "95% confidence interval";
  r.series.push_back({"D = 2", {0, 0.5, 1}, {0, 0.25, 1}, {0, 0.2, 1}, {0, 0.3, 1}});
  r.series.push_back({"D = 3", {0, 0.5, 0.75, 1}, {0, nan, nan, 1}, {}, {}});
  return r;
}

TEST(Plot, DataBreaksLinesAtNoAnswers) {
  EXPECT_EQ(plotData(twoSeries()),
            "0 0 ? ? 0 0\n0.5 0.25 ? ? 0.2 0.3\n1 1 ? ? 1 1\n"
            "\n\n"
            "0 0 ? ? ? ?\n\n0.5 ? 0.45 ? ? ?\n0.75 ? 0.45 ? ? ?\n1 1 ? ? ? ?\n");
}

TEST(Plot, ScriptDrawsEverySeries) {
  const std::string script = gnuplotScript(twoSeries());
  EXPECT_NE(script.find("title 'D = 3'"), std::string::npos);
  EXPECT_NE(script.find("threshold R = 0.5"), std::string::npos);
  // Only the series with NO answers gets markers.
  EXPECT_EQ(script.find("index 0 using 1:3"), std::string::npos);
  EXPECT_NE(script.find("index 1 using 1:3"), std::string::npos);
  // The band is shaded under its own series only, and named once in the key.
  EXPECT_LT(script.find("index 0 using 1:5:6 with filledcurves"), script.find("index 0 using 1:2"));
  EXPECT_EQ(script.find("index 1 using 1:5:6"), std::string::npos);
  EXPECT_NE(script.find("title '95% confidence interval'"), std::string::npos);
}

TEST(Plot, LogUnreliabilityMarksZerosAtTheBottom) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  PlotRequest r;
  r.logUnreliability = true;
  r.threshold = 0.9;  // the line at 1 - R = 0.1
  r.series.push_back({"D = 2", {0.5, 0.9, 0.99, 1}, {nan, 0.01, 1e-4, 0}, {}, {}});
  // NO above the threshold line (1e-1 * 10^(0.025 * 5.18)), the zero at
  // the bottom of an axis from 1e-5, and the line broken before each.
  const auto rows = lines(plotData(r));
  ASSERT_EQ(rows.size(), 5u) << plotData(r);
  EXPECT_EQ(rows[0].substr(0, 6), "0.5 ? ");
  const double marker = std::strtod(rows[0].substr(6).c_str(), nullptr);
  EXPECT_GT(marker, 0.1);
  EXPECT_LT(marker, 0.2);
  EXPECT_EQ(rows[1], "0.9 0.01 ? ? ? ?");
  EXPECT_EQ(rows[2], "0.99 1e-04 ? ? ? ?");
  EXPECT_EQ(rows[3], "");
  EXPECT_EQ(rows[4].substr(0, 8), "1 ? ? 1.");
  EXPECT_NE(rows[4].find("e-05"), std::string::npos) << rows[4];

  const std::string script = gnuplotScript(r);
  EXPECT_NE(script.find("set logscale y\nset yrange [1e-05:1.5]"), std::string::npos) << script;
  EXPECT_NE(script.find("0.09999999999999998 with lines"), std::string::npos);
  EXPECT_NE(script.find("using 1:4"), std::string::npos);
  EXPECT_NE(script.find("'1 − R = 0 (R = 1)'"), std::string::npos);
}

TEST(Plot, FormatComesFromTheExtension) {
  PlotFormat f = PlotFormat::Png;
  EXPECT_EQ(plotFormatOf("out/fig.SVG", f), "");
  EXPECT_EQ(f, PlotFormat::Svg);
  EXPECT_EQ(plotFormatOf("fig.pdf", f), "");
  EXPECT_EQ(f, PlotFormat::Pdf);
  EXPECT_EQ(plotFormatOf("a.b.png", f), "");
  EXPECT_EQ(f, PlotFormat::Png);
  for (const char* bad : {"fig.jpg", "fig", "fig.png/", ".png", "dir.png/x"})
    EXPECT_NE(plotFormatOf(bad, f), "") << bad;
  // A leading '|' would make gnuplot run the name as a command.
  EXPECT_EQ(gnuplotOutputArgument("|touch x.png"), "./|touch x.png");
  EXPECT_EQ(gnuplotOutputArgument("/tmp/a.png"), "/tmp/a.png");
}

// Whatever the names, the script is the same bytes: user text is never
// part of it, only handed over as ARG1 and ARG2.
TEST(Plot, ScriptNeverContainsUserText) {
  PlotRequest plain = twoSeries(), hostile = twoSeries();
  plain.output = "a.png";
  plain.title = "t";
  hostile.output = "x\n!touch PWNED\n`touch PWNED`.png";
  hostile.title = "'\" system(\"touch PWNED\") @ARG1 $(touch PWNED)";
  EXPECT_EQ(gnuplotScript(plain), gnuplotScript(hostile));
  EXPECT_EQ(gnuplotScript(hostile).find("PWNED"), std::string::npos);
  EXPECT_NE(gnuplotScript(plain).find("set output ARG1\nset title ARG2\n"), std::string::npos);
}

// Contrast against white of at least 4.5:1 (the WCAG level for text), and
// no two colours alike.
TEST(Plot, ColoursReadOnWhite) {
  const auto channel = [](const char* hex) {
    const double c = std::strtol(std::string(hex, 2).c_str(), nullptr, 16) / 255.0;
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  std::vector<std::array<double, 3>> seen;
  for (const char* colour : kPlotColours) {
    ASSERT_EQ(std::strlen(colour), 7u);
    const std::array<double, 3> rgb = {channel(colour + 1), channel(colour + 3),
                                       channel(colour + 5)};
    const double luminance = 0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2];
    EXPECT_GE(1.05 / (luminance + 0.05), 4.5) << colour;
    for (const auto& other : seen) {
      double distance = 0;
      for (int k = 0; k < 3; ++k)
        distance += std::fabs(std::sqrt(rgb[k]) - std::sqrt(other[k]));
      EXPECT_GT(distance, 0.25) << colour;
    }
    seen.push_back(rgb);
  }
}

}  // namespace
