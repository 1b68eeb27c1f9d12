// Drawing sweep results with gnuplot (Debian package gnuplot-nox).
//
// gnuplot runs as a separate program on a script and a data file written to
// a private temporary folder; nothing is passed through a shell, so any
// output file name works.
#pragma once

#include <string>
#include <vector>

struct PlotSeries {
  std::string title;      // key entry, e.g. "D = 3"
  std::vector<double> x;  // swept value
  std::vector<double> y;  // reliability; NaN where the answer was NO
};

struct PlotRequest {
  std::string output;     // PNG file to write
  std::string title;      // above the plot
  std::string xLabel;     // e.g. "edge probability p"
  bool integerX = false;  // x is the hop limit: ticks on whole numbers
  double threshold = 0;   // drawn as a dashed line when in (0, 1]
  std::vector<PlotSeries> series;
};

// The gnuplot executable found on PATH, or "" when there is none.
std::string findGnuplot();

// The message for a missing gnuplot.
std::string gnuplotMissingMessage();

// The gnuplot script that draws `request` from `dataPath` (the layout that
// plotData() writes).
std::string gnuplotScript(const PlotRequest& request, const std::string& dataPath);

// The data file: one block a series, blocks apart by two blank lines; rows
// "x reliability no-marker" with '?' for an absent value, and one blank line
// before each run of NO answers to break the drawn line there.
std::string plotData(const PlotRequest& request);

// Runs `gnuplot` on the request. Returns "" or what went wrong.
std::string drawPlot(const PlotRequest& request, const std::string& gnuplot);
