#include "driver/tool/plot.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "driver/tool/edge_list.hpp"
#include "driver/tool/text.hpp"

extern char** environ;

namespace {

// A gnuplot string literal for wording of our own: single quotes, where
// only '' needs escaping. User text never goes through here.
std::string quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

bool isExecutableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  out.close();
  return !out.fail();
}

// A private folder under TMPDIR (or /tmp), removed when this goes out of scope.
class TempDir {
 public:
  TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/dcr-tool-XXXXXX";
    if (::mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

std::string findGnuplot() {
  const char* env = std::getenv("PATH");
  const std::string path = env ? env : "/usr/bin:/bin";
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = path.find(':', start);
    const std::string dir = path.substr(start, colon - start);
    // An empty entry would mean the working folder; a plot should not pick
    // up whatever "gnuplot" happens to lie there.
    if (!dir.empty() && isExecutableFile(dir + "/gnuplot")) return dir + "/gnuplot";
    if (colon == std::string::npos) return "";
    start = colon + 1;
  }
}

std::string gnuplotMissingMessage() {
  return "--plot needs gnuplot, which is not installed (no \"gnuplot\" on PATH); on Debian: "
         "apt-get install gnuplot-nox";
}

std::string plotFormatOf(const std::string& path, PlotFormat& format) {
  const std::string name = std::filesystem::path(path).filename().string();
  std::string extension = std::filesystem::path(name).extension().string();
  for (char& c : extension)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == ".png") {
    format = PlotFormat::Png;
  } else if (extension == ".svg") {
    format = PlotFormat::Svg;
  } else if (extension == ".pdf") {
    format = PlotFormat::Pdf;
  } else {
    return "the picture format comes from the file name, which must end in .png, .svg or .pdf";
  }
  if (name == extension) return "the file name has an extension but no name before it";
  return "";
}

namespace {

// Where things go on the y axis; plotData() and gnuplotScript() must agree.
struct Layout {
  double low = 0, high = 1.05;  // y range
  bool drawThreshold = false;
  double thresholdLevel = 0;  // y of the threshold line
  double anchor = 0;          // NO markers sit next to this level
  double zeroLevel = 0;       // log axis: where 1 - R = 0 is marked
  double decades = 0;         // log axis: its height in powers of ten
};

Layout layoutOf(const PlotRequest& request) {
  Layout l;
  if (!request.logUnreliability) {
    l.drawThreshold = request.threshold > 0 && request.threshold <= 1;
    l.thresholdLevel = request.threshold;
    l.anchor = std::clamp(request.threshold, 0.0, 1.0);
    return l;
  }
  // 1 - R, to the 20 decimals dcr prints, is at least 1e-20 unless it is 0,
  // which a log axis cannot show: the axis starts a decade below the
  // smallest value drawn, and zeros are marked at its bottom.
  const double t = 1.0 - request.threshold;
  l.drawThreshold = t > 0 && t < 1;
  l.thresholdLevel = t;
  double smallest = l.drawThreshold ? t : 1.0;
  bool any = l.drawThreshold;
  for (const PlotSeries& s : request.series) {
    for (double y : s.y) {
      if (y > 0 && (!any || y < smallest)) smallest = y;
      any = any || y > 0;
    }
  }
  if (!any) smallest = 1e-20;
  const double exponent = std::floor(std::log10(smallest)) - 1;
  l.low = std::pow(10.0, exponent);
  l.high = 1.5;
  l.decades = std::log10(l.high) - exponent;
  l.anchor = std::clamp(t, l.low, 1.0);
  l.zeroLevel = l.low * std::pow(10.0, 0.02 * l.decades);
  return l;
}

// Each series' NO markers get their own row just off the threshold line,
// on the side where NO answers lie, so markers of several series at one x
// do not hide each other.
double noMarker(const PlotRequest& request, const Layout& l, std::size_t s) {
  const double k = static_cast<double>(s + 1);
  if (request.logUnreliability) {
    const double factor = std::pow(10.0, 0.025 * l.decades * k);
    return l.anchor * factor <= l.high ? l.anchor * factor : l.anchor / factor;
  }
  const double below = l.anchor - 0.025 * k;
  return below >= 0 ? below : l.anchor + 0.025 * k;
}

bool isZero(const PlotRequest& request, double y) {
  return request.logUnreliability && y <= 0;
}

constexpr std::size_t kColours = sizeof kPlotColours / sizeof kPlotColours[0];

std::string seriesColour(std::size_t s) {
  return "lc rgb '" + std::string(kPlotColours[s % kColours]) + "'";
}

// Series s: a colour and a point shape, and past the palette another dash
// pattern, so every line stays told apart.
std::string seriesStyle(std::size_t s) {
  static const int kPoints[] = {7, 5, 13, 15, 4, 6, 12, 14};
  return seriesColour(s) + " dt " + std::to_string(1 + (s / kColours) % 5) + " pt " +
         std::to_string(kPoints[s % kColours]);
}

}  // namespace

std::string gnuplotOutputArgument(const std::string& output) {
  return !output.empty() && output.front() == '/' ? output : "./" + output;
}

std::string plotData(const PlotRequest& request) {
  const Layout l = layoutOf(request);
  std::string out;
  for (std::size_t s = 0; s < request.series.size(); ++s) {
    const PlotSeries& series = request.series[s];
    if (s > 0) out += "\n\n";
    const std::string marker = shortestText(noMarker(request, l, s));
    bool lastDrawn = false;
    for (std::size_t i = 0; i < series.x.size(); ++i) {
      const double y = series.y[i];
      const bool no = std::isnan(y), zero = !no && isZero(request, y);
      const bool drawn = !no && !zero;
      // A blank line ends the drawn line: no segment may bridge values not
      // drawn as though the reliability between them were known.
      if (!drawn && lastDrawn) out += '\n';
      lastDrawn = drawn;
      out += shortestText(series.x[i]) + ' ' + (drawn ? shortestText(y) : "?") + ' ' +
             (no ? marker : "?") + ' ' + (zero ? shortestText(l.zeroLevel) : "?");
      // A band edge off a log axis (1 - R = 0) sits at its bottom.
      auto edge = [&](const std::vector<double>& v) {
        if (i >= v.size() || std::isnan(v[i])) return std::string("?");
        return shortestText(std::clamp(v[i], l.low, l.high));
      };
      out += ' ' + edge(series.low) + ' ' + edge(series.high) + '\n';
    }
  }
  return out;
}

std::string gnuplotScript(const PlotRequest& request) {
  const Layout l = layoutOf(request);
  std::ostringstream g;
  // The file name, the title and the data file are ARG1, ARG2 and ARG3:
  // string values, never read as commands. noenhanced: '_' and '^' in a
  // title are printed as typed.
  switch (request.format) {
    case PlotFormat::Png:
      g << "set terminal pngcairo size 1000,640 font 'Sans,12' noenhanced\n";
      break;
    case PlotFormat::Svg:
      g << "set terminal svg size 1000,640 font 'Sans,12' noenhanced background '#ffffff'\n";
      break;
    case PlotFormat::Pdf:
      g << "set terminal pdfcairo size 7in,4.5in font 'Sans,10' noenhanced\n";
      break;
  }
  g << "set encoding utf8\n"
    << "set output ARG1\n"
    << "set title ARG2\n"
    << "set xlabel " << quote(request.xLabel) << "\n";
  if (request.logUnreliability) {
    g << "set ylabel 'unreliability 1 − R'\n"
      << "set logscale y\n"
      << "set yrange [" << shortestText(l.low) << ":" << shortestText(l.high) << "]\n"
      << "set format y '%.0e'\n";
  } else {
    g << "set ylabel 'reliability'\n"
      << "set yrange [" << shortestText(l.low) << ":" << shortestText(l.high) << "]\n"
      << "set ytics 0.1\n";
  }
  // The key sits right of the plot, where it cannot cover a curve.
  g << "set format x '%g'\n"
    << "set grid\n"
    << "set key outside right top vertical box reverse Left\n"
    << "set datafile missing '?'\n";
  double lo = 0, hi = 0;
  bool any = false;
  for (const PlotSeries& s : request.series) {
    for (double x : s.x) {
      lo = any ? std::min(lo, x) : x;
      hi = any ? std::max(hi, x) : x;
      any = true;
    }
  }
  if (any && hi > lo) {
    g << "set xrange [" << shortestText(lo) << ":" << shortestText(hi) << "]\n";
    if (request.integerX && hi - lo <= 30) g << "set xtics 1\n";
  } else if (any) {
    g << "set xrange [" << shortestText(lo - 0.5) << ":" << shortestText(hi + 0.5) << "]\n";
  }
  std::string plot;
  auto add = [&plot](const std::string& clause) {
    plot += (plot.empty() ? "plot " : ", \\\n     ") + clause;
  };
  const auto has = [&request](std::size_t s, auto test) {
    const auto& y = request.series[s].y;
    return std::any_of(y.begin(), y.end(), test);
  };
  // Bands first, so every line is drawn over them.
  bool anyBand = false;
  for (std::size_t s = 0; s < request.series.size(); ++s) {
    if (request.series[s].low.empty()) continue;
    anyBand = true;
    add("ARG3 index " + std::to_string(s) +
        " using 1:5:6 with filledcurves fs transparent solid 0.2 noborder " + seriesColour(s) +
        " notitle");
  }
  if (anyBand && !request.bandTitle.empty())
    add("keyentry with filledcurves fs transparent solid 0.2 noborder lc rgb 'gray40' title " +
        quote(request.bandTitle));
  for (std::size_t s = 0; s < request.series.size(); ++s) {
    add("ARG3 index " + std::to_string(s) + " using 1:2 with linespoints " + seriesStyle(s) +
        " lw 2 ps 0.8 title " + quote(request.series[s].title));
  }
  if (l.drawThreshold) {
    add(shortestText(l.thresholdLevel) + " with lines dt 2 lw 1.5 lc rgb 'gray30' title " +
        quote("threshold R = " + shortestText(request.threshold)));
  }
  // NO answers have no value to draw; a triangle by the threshold line
  // points to where the reliability lies.
  const int noPoint = request.logUnreliability ? 9 : 11;
  bool anyNo = false, anyZero = false;
  for (std::size_t s = 0; s < request.series.size(); ++s) {
    if (has(s, [](double v) { return std::isnan(v); })) {
      anyNo = true;
      add("ARG3 index " + std::to_string(s) + " using 1:3 with points " + seriesColour(s) + " pt " +
          std::to_string(noPoint) + " ps 1.4 notitle");
    }
    if (has(s, [&request](double v) { return !std::isnan(v) && isZero(request, v); })) {
      anyZero = true;
      add("ARG3 index " + std::to_string(s) + " using 1:4 with points " + seriesColour(s) +
          " pt 11 ps 1.4 notitle");
    }
  }
  if (anyNo) {
    add("keyentry with points pt " + std::to_string(noPoint) + " ps 1.4 lc rgb 'gray30' title " +
        quote(request.logUnreliability ? "NO (1 − R above 1 − threshold)"
                                       : "NO (below the threshold)"));
  }
  if (anyZero) add("keyentry with points pt 11 ps 1.4 lc rgb 'gray30' title '1 − R = 0 (R = 1)'");
  if (plot.empty()) plot = "plot NaN notitle";
  g << plot << "\n";
  return g.str();
}

std::string drawPlot(const PlotRequest& request, const std::string& gnuplot) {
  TempDir dir;
  if (dir.path().empty())
    return std::string("cannot create a temporary folder: ") + std::strerror(errno);
  // Absolute, so gnuplot cannot take the data file's name for a command
  // ('<' in front) whatever TMPDIR holds.
  std::error_code ec;
  const std::string folder = std::filesystem::absolute(dir.path(), ec).string();
  if (ec) return "cannot locate the temporary folder " + dir.path() + ": " + ec.message();
  std::string dataPath = folder + "/sweep.dat";
  std::string scriptPath = folder + "/sweep.gp";
  const std::string errPath = folder + "/gnuplot.err";
  if (!writeFile(dataPath, plotData(request)) || !writeFile(scriptPath, gnuplotScript(request)))
    return "cannot write the plot's files in " + folder;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::string program = gnuplot, callFlag = "-c";
  std::string output = gnuplotOutputArgument(request.output), title = titleText(request.title);
  char* argv[] = {program.data(),  callFlag.data(), scriptPath.data(), output.data(), title.data(),
                  dataPath.data(), nullptr};
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, gnuplot.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return "cannot run " + gnuplot + ": " + std::strerror(spawned);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }

  std::ifstream errFile(errPath);
  std::string errText((std::istreambuf_iterator<char>(errFile)), std::istreambuf_iterator<char>());
  while (!errText.empty() && (errText.back() == '\n' || errText.back() == ' '))
    errText.pop_back();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return "gnuplot failed" + (errText.empty() ? std::string() : ":\n" + errText);
  if (std::filesystem::file_size(request.output, ec) == 0 || ec)
    return "gnuplot wrote no picture to " + request.output +
           (errText.empty() ? std::string() : ":\n" + errText);
  return "";
}
