#include "bench/step_count.hpp"

#include <cstddef>
#include <vector>

#include "tests/reference/reference_engine.hpp"

namespace {

class Replay {
 public:
  explicit Replay(const reference::myGraph& g)
      : g_(g), target_((g.numTerminals - 1) * g.numTerminals / 2) {
    const std::size_t pairs = g.terminalPairs.size();
    rows_.resize(pairs);
    for (std::size_t i = 0; i < pairs; ++i) {
      const std::size_t ints = 2 * (g.terminalPairs[i].paths.size() + 1);
      rows_[i].assign(g.pathState[i], g.pathState[i] + ints);
    }
  }

  StepCount run() {
    out_ = StepCount{};
    factor(0, 0, 1.0);
    out_.result = out_.belowThreshold ? -1.0 : out_.reliability;
    return out_;
  }

 private:
  struct Write {
    int* at;
    int old;
  };

  void set(int* at, int value) {
    log_.push_back({at, *at});
    *at = value;
  }

  void undoTo(std::size_t mark) {
    while (log_.size() > mark) {
      *log_.back().at = log_.back().old;
      log_.pop_back();
    }
  }

  void factor(int connected, int pos, double prob) {
    ++out_.steps;
    if (g_.threshold > out_.upperBound) {
      out_.belowThreshold = true;
      return;
    }
    const std::size_t mark = log_.size();
    works(connected, pos, prob);
    undoTo(mark);
    fails(connected, pos, prob);
  }

  bool skipped(int e) const { return g_.linkInfo[e][0] == -1 || g_.linkProb[e] == -1.0; }

  bool choose(int& pos) const {
    const int n = g_.numLinks;
    if (pos == n) return false;
    int e = g_.linkOrder[pos];
    while (pos < n - 1 && skipped(e))
      e = g_.linkOrder[++pos];
    return !skipped(e);
  }

  void works(int connected, int pos, double prob) {
    if (!choose(pos)) return;
    const int e = g_.linkOrder[pos];
    const int* rec = g_.linkInfo[e];
    prob = prob * g_.linkProb[e];
    for (int k = 0; k < rec[0]; ++k) {
      int* row = rows_[rec[3 + 2 * k]].data();
      const int entry = 2 * (rec[4 + 2 * k] + 1);
      if (row[0] != 0) continue;
      if (row[entry] != 1) continue;
      set(&row[entry + 1], row[entry + 1] - 1);
      if (row[entry + 1] != 0) continue;
      set(&row[0], 1);
      if (++connected == target_) {
        out_.reliability += prob * 1.0;
        return;
      }
    }
    factor(connected, pos + 1, prob);
  }

  void fails(int connected, int pos, double prob) {
    if (!choose(pos)) return;
    const int e = g_.linkOrder[pos];
    const int* rec = g_.linkInfo[e];
    prob = (1.0 - g_.linkProb[e]) * prob;
    for (int k = 0; k < rec[0]; ++k) {
      int* row = rows_[rec[3 + 2 * k]].data();
      const int entry = 2 * (rec[4 + 2 * k] + 1);
      if (row[0] != 0) continue;
      if (row[entry] != 1) continue;
      set(&row[entry], 0);
      set(&row[1], row[1] - 1);
      if (row[1] == 0) {
        out_.upperBound -= prob;
        return;
      }
    }
    factor(connected, pos + 1, prob);
  }

  const reference::myGraph& g_;
  const int target_;
  std::vector<std::vector<int>> rows_;
  std::vector<Write> log_;
  StepCount out_;
};

}  // namespace

StepCount countSteps(reference::myGraph& graph) {
  graph.findAllPaths();
  graph.buildPathState();
  graph.buildLinkInfo();
  graph.prepareLinks(true, true);
  return Replay(graph).run();
}
