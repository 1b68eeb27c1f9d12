#include "driver/tool/plot.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "driver/tool/edge_list.hpp"

extern char** environ;

namespace {

// A gnuplot string literal: single quotes, where only '' needs escaping.
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

std::string plotData(const PlotRequest& request) {
  std::string out;
  for (std::size_t s = 0; s < request.series.size(); ++s) {
    const PlotSeries& series = request.series[s];
    if (s > 0) out += "\n\n";
    // Each series' NO markers get their own row just off the threshold
    // line, so markers of several series at one x do not hide each other.
    double marker = request.threshold - 0.025 * static_cast<double>(s + 1);
    if (marker < 0) marker = request.threshold + 0.025 * static_cast<double>(s + 1);
    bool lastWasYes = false;
    for (std::size_t i = 0; i < series.x.size(); ++i) {
      const bool no = std::isnan(series.y[i]);
      // A blank line ends the drawn line: no segment may bridge NO answers
      // as though the reliability between them were known.
      if (no && lastWasYes) out += '\n';
      lastWasYes = !no;
      out += shortestText(series.x[i]) + ' ' + (no ? "?" : shortestText(series.y[i])) + ' ' +
             (no ? shortestText(marker) : "?") + '\n';
    }
  }
  return out;
}

std::string gnuplotScript(const PlotRequest& request, const std::string& dataPath) {
  std::ostringstream g;
  // noenhanced: file names with '_' or '^' are printed as typed.
  g << "set terminal pngcairo size 960,640 font 'Sans,12' noenhanced\n"
    << "set output " << quote(request.output) << "\n"
    << "set title " << quote(request.title) << "\n"
    << "set xlabel " << quote(request.xLabel) << "\n"
    << "set ylabel 'reliability'\n"
    << "set yrange [0:1.05]\n"
    << "set ytics 0.1\n"
    << "set format x '%g'\n"
    << "set grid\n"
    << "set key left top box opaque reverse Left\n"
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
  const std::string data = quote(dataPath);
  for (std::size_t s = 0; s < request.series.size(); ++s) {
    add(data + " index " + std::to_string(s) + " using 1:2 with linespoints lt " +
        std::to_string(s + 1) + " lw 2 pt 7 ps 0.8 title " + quote(request.series[s].title));
  }
  const bool drawThreshold = request.threshold > 0 && request.threshold <= 1;
  if (drawThreshold) {
    add(shortestText(request.threshold) + " with lines dt 2 lw 1.5 lc rgb 'gray30' title " +
        quote("threshold " + shortestText(request.threshold)));
    // NO answers have no value to draw; a downward triangle by the
    // threshold line says "somewhere below here".
    bool anyNo = false;
    for (std::size_t s = 0; s < request.series.size(); ++s) {
      const auto& y = request.series[s].y;
      if (std::none_of(y.begin(), y.end(), [](double v) { return std::isnan(v); })) continue;
      anyNo = true;
      add(data + " index " + std::to_string(s) + " using 1:3 with points lt " +
          std::to_string(s + 1) + " pt 11 ps 1.4 notitle");
    }
    if (anyNo)
      add("keyentry with points pt 11 ps 1.4 lc rgb 'gray30' title 'NO (below the threshold)'");
  }
  if (plot.empty()) plot = "plot NaN notitle";
  g << plot << "\n";
  return g.str();
}

std::string drawPlot(const PlotRequest& request, const std::string& gnuplot) {
  TempDir dir;
  if (dir.path().empty())
    return std::string("cannot create a temporary folder: ") + std::strerror(errno);
  const std::string dataPath = dir.path() + "/sweep.dat";
  const std::string scriptPath = dir.path() + "/sweep.gp";
  const std::string errPath = dir.path() + "/gnuplot.err";
  if (!writeFile(dataPath, plotData(request)) ||
      !writeFile(scriptPath, gnuplotScript(request, dataPath)))
    return "cannot write the plot's files in " + dir.path();

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::string program = gnuplot, script = scriptPath;
  char* argv[] = {program.data(), script.data(), nullptr};
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
  std::error_code ec;
  if (std::filesystem::file_size(request.output, ec) == 0 || ec)
    return "gnuplot wrote no picture to " + request.output +
           (errText.empty() ? std::string() : ":\n" + errText);
  return "";
}
