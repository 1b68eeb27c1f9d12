// Drawing sweep results with gnuplot (Debian package gnuplot-nox).
//
// gnuplot runs as a separate program, started without a shell, on a script
// and a data file written to a private temporary folder. The script is
// fixed text built only from numbers and wording of our own: the output
// file, the title and the data file reach gnuplot as the script's arguments
// (ARG1 to ARG3 of `gnuplot -c`), which gnuplot holds as string values and
// never reads as commands. So no file name or title can run anything.
#pragma once

#include <string>
#include <vector>

enum class PlotFormat { Png, Svg, Pdf };

// The format named by the extension of `path` (.png, .svg or .pdf, in any
// case). Returns "" or why the path cannot be used.
std::string plotFormatOf(const std::string& path, PlotFormat& format);

// Line colours, one a series in this order (then again with another dash
// pattern): dark enough to read on white, and apart from each other.
inline constexpr const char* kPlotColours[] = {"#0060B0", "#C03A00", "#007A4D", "#7B3294",
                                               "#1A1A1A", "#8C510A", "#B0006B", "#606000"};

struct PlotSeries {
  std::string title;      // key entry, e.g. "D = 3"
  std::vector<double> x;  // swept value
  std::vector<double> y;  // reliability, or 1 - R with logUnreliability; NaN where NO
  // Optional, one per x: a confidence band drawn as a shaded area behind
  // the line (on the same scale as y; NaN: none at that x).
  std::vector<double> low, high;
};

struct PlotRequest {
  std::string output;  // file to write
  PlotFormat format = PlotFormat::Png;
  std::string title;      // above the plot; control characters are blanked
  std::string xLabel;     // e.g. "edge probability p"
  bool integerX = false;  // x is the hop limit: ticks on whole numbers
  // y is 1 - R on a log axis; 1 - R = 0 (R = 1) is marked at the bottom.
  bool logUnreliability = false;
  double threshold = 0;   // drawn as a dashed line where it falls on the axis
  std::string bandTitle;  // key entry for the bands, e.g. "95% confidence interval"
  std::vector<PlotSeries> series;
};

// The gnuplot executable found on PATH, or "" when there is none.
std::string findGnuplot();

// The message for a missing gnuplot.
std::string gnuplotMissingMessage();

// The gnuplot script that draws `request`; it reads the output file, the
// title and the data file (the layout plotData() writes) from ARG1 to ARG3.
std::string gnuplotScript(const PlotRequest& request);

// ARG1 for `output`: a relative path gets "./" in front, because gnuplot
// would run a name starting with '|' as a command.
std::string gnuplotOutputArgument(const std::string& output);

// The data file: one block a series, blocks apart by two blank lines; rows
// "x y no-marker zero-marker band-low band-high" with '?' for an absent
// value, and one blank line before each run of values not drawn, to break
// the line there.
std::string plotData(const PlotRequest& request);

// Runs `gnuplot` on the request. Returns "" or what went wrong.
std::string drawPlot(const PlotRequest& request, const std::string& gnuplot);
