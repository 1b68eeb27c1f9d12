// Factoring search with threshold cut-off: computeReliability, the choice
// of the search's state form, and the table form.
//
// The search decides the live link records one at a time in linkOrder,
// works branch before fails branch, depth first. Success leaves (the last
// pair joined) add their probability to `reliability`, failure leaves (a
// pair's last path dead) subtract theirs from `upperBound`; every step first
// tests `threshold > upperBound` and the search stops once it holds. The
// loop that does this is written once (reliability/factor_skeleton.hpp);
// the forms below and in reliability/mask_search.cpp only hold its state.
//
// Table form: one working table (a copy of the pathState rows of the pairs
// on some live record, the only rows it reads) and an undo trail of (table
// index, old value) couples. A step's mark is its position, connected-pair
// count and trail height; resuming unwinds the trail to that height, which
// leaves the table as the step found it. A fails branch has nothing left to
// come back to, so its changes stay on the trail until an enclosing step
// unwinds. Nothing is allocated per step.
//
// Once the threshold test fires the answer is "NO" whatever else the
// search would do, so it stops at once instead of unwinding.
#include <algorithm>
#include <cstdint>
#include <memory>

#include "reliability/checks.hpp"
#include "reliability/factor_skeleton.hpp"
#include "reliability/mask_search.hpp"
#include "reliability/my_graph.hpp"
#include "reliability/path_tables.hpp"

namespace {

// The table form's state (contract in reliability/factor_skeleton.hpp).
// Slots: per live position, its memberships as (pair head, path entry)
// indices into the table.
class tableState {
 public:
  struct mark {
    int pos;             // branching position in linkOrder
    int connected;       // pairs joined when the step began
    std::size_t height;  // trail height when the step began
  };

  tableState(int* table, int* trail, [[maybe_unused]] std::size_t trailRoom, const int* slots,
             const std::size_t* slotStart, const int* nextLive, const double* probAt, int positions,
             int targetPairs)
      : T_(table),
        trail_(trail),
#if DCR_CHECKS
        trailRoom_(trailRoom),
#endif
        S_(slots),
        SS_(slotStart),
        next_(nextLive),
        P_(probAt),
        n_(positions),
        target_(targetPairs) {
  }

  bool choose() {
    pos_ = next_[pos_];
    return pos_ != n_;
  }
  double prob() const {
    return P_[pos_];
  }
  mark push() const {
    return {pos_, connected_, top_};
  }

  bool works() {
    using R = pathRowView;
    if (eachOpenPath([this](int head, int entry) {
          save(entry + R::edgesLeftAt);
          if (--T_[entry + R::edgesLeftAt] != 0) return false;
          save(head + R::joinedAt);
          T_[head + R::joinedAt] = 1;
          return ++connected_ == target_;
        }))
      return true;
    ++pos_;
    return false;
  }

  void resume(const mark& m) {
    DCR_CHECK(m.height <= top_, "a pending step's trail height above the trail");
    while (top_ > m.height) {
      top_ -= 2;
      T_[trail_[top_]] = trail_[top_ + 1];
    }
    pos_ = m.pos;
    connected_ = m.connected;
  }

  bool fails() {
    using R = pathRowView;
    if (eachOpenPath([this](int head, int entry) {
          save(entry + R::aliveAt);
          T_[entry + R::aliveAt] = 0;
          save(head + R::alivePathsAt);
          return --T_[head + R::alivePathsAt] == 0;
        }))
      return true;
    ++pos_;
    return false;
  }

 private:
  // Calls f(pair head, path entry) on each membership of the current record
  // whose pair is not joined and whose path is alive, in stored order, until
  // f returns true; returns whether it did.
  template <class F>
  bool eachOpenPath(F f) const {
    using R = pathRowView;
    for (std::size_t k = SS_[pos_]; k < SS_[pos_ + 1]; k += 2) {
      const int head = S_[k], entry = S_[k + 1];
      if (T_[head + R::joinedAt] != 0 || T_[entry + R::aliveAt] != 1) continue;
      if (f(head, entry)) return true;
    }
    return false;
  }

  void save(int at) {
    DCR_CHECK(top_ + 2 <= trailRoom_, "trail longer than its bound");
    trail_[top_++] = at;
    trail_[top_++] = T_[at];
  }

  int* T_;
  int* trail_;
#if DCR_CHECKS
  std::size_t trailRoom_;
#endif
  const int* S_;
  const std::size_t* SS_;
  const int* next_;
  const double* P_;
  int n_;
  int target_;
  std::size_t top_ = 0;
  int pos_ = 0;
  int connected_ = 0;
};

}  // namespace

double myGraph::computeReliability() {
  reliability = 0.0;
  upperBound = 1.0;
  belowThreshold = false;
  searchRan = searchForm::chosen;
  // The root step's threshold test compares the threshold with the bound's
  // starting value, 1, whatever the paths: a threshold above 1 is answered
  // there, before any path is enumerated (the stages before it write
  // nothing the answer depends on).
  if (threshold > upperBound) {
    belowThreshold = true;
    searchSteps = 1;
    return -1.0;
  }
  findAllPaths();
  // Without any path there is no record: the table form's search is its
  // root step alone and reads no row, so no table is built.
  if (masksLikely() || numPaths == 0) {
    pathTables::plan plan;
    if (pathTables::planLinks(*this, plan)) {
      enterStage(stage::pathsFound, stage::linksPrepared);
      searchRan = chooseSearchForm();
      if (searchRan != searchForm::table) {
        masks::problem mp;
        pathTables::fillMasks(*this, plan, mp);
        plan = {};  // the edge index and the records' facts: not for the search
        factorByMasks(searchRan, &mp);
        return belowThreshold ? -1.0 : reliability;
      }
      if (numLinks == 0) {
        factor();
        return belowThreshold ? -1.0 : reliability;
      }
      // The table form after all: it needs the full records.
      linkInfo = {};
      linkStart.clear();
      linkProb.clear();
      linkOrder.clear();
      numLinks = 0;
      reached = stage::pathsFound;
    }
  }
  buildPathState();
  buildLinkInfo();
  prepareLinks(true, true);
  searchRan = chooseSearchForm();
  if (searchRan == searchForm::table) {
    factor();
  } else {
    factorByMasks(searchRan, nullptr);
  }
  return belowThreshold ? -1.0 : reliability;
}

// Whether a mask form will take the problem, as far as can be told before
// the records exist: not when the table form is forced, nor when p is -1.0
// (every record is passed over), nor beyond 64 pairs when some pair has no
// path. chooseSearchForm decides once the records are planned.
bool myGraph::masksLikely() const {
  if (search == searchForm::table || linkProbability == -1.0) return false;
  if (terminalPairs.size() <= 64) return true;
  for (const pathsBetween2Terminals& pair : terminalPairs)
    if (pair.paths.empty()) return false;
  return true;
}

void myGraph::enterStage([[maybe_unused]] stage from, [[maybe_unused]] stage to) {
  DCR_CHECK(reached == from, "engine stages out of order");
  reached = to;
}

void myGraph::factor() {
  const int n = numLinks;

  // Per branching position: the next position at or after it that holds a
  // live record (n for none), its probability, and its memberships as
  // (pair head, path entry) indices into the working table.
  std::vector<int> nextLive(n + 1, n);
  for (int q = n - 1; q >= 0; --q) {
    const int e = linkOrder[q];
    const bool live = !link(e).folded() && linkProb[e] != -1.0;
    nextLive[q] = live ? q : nextLive[q + 1];
  }
  std::vector<double> probAt(n);
  std::vector<std::size_t> slotStart(n + 1, 0);
  std::size_t slotCount = 0;
  for (int q = 0; q < n; ++q) {
    const int e = linkOrder[q];
    probAt[q] = linkProb[e];
    slotStart[q] = slotCount;
    if (nextLive[q] == q) slotCount += 2 * static_cast<std::size_t>(link(e).count());
  }
  slotStart[n] = slotCount;

  // The working table holds the rows of the pairs on some live record, the
  // only rows the search reads, copied from pathState: with thousands of
  // pairs most may have no path at all. rowAt[pair]: where its row starts.
  constexpr std::size_t kUnused = ~std::size_t{0};
  bigTable<std::size_t> rowAt(n > 0 ? terminalPairs.size() : 0, kUnused);
  std::vector<int> usedPairs;
  std::size_t tableInts = 0;
  int liveCount = 0;
  for (int q = 0; q < n; ++q) {
    if (nextLive[q] != q) continue;
    ++liveCount;
    const linkView rec = link(linkOrder[q]);
    for (int k = 0; k < rec.count(); ++k) {
      const int pair = rec.pair(k);
      if (rowAt[pair] != kUnused) continue;
      rowAt[pair] = tableInts;
      usedPairs.push_back(pair);
      tableInts += pathRowView::ints(terminalPairs[pair].paths.size());
    }
  }
  bigTable<int> table(tableInts);
  for (int pair : usedPairs) {
    const int* row = pathRow(pair);
    std::copy(row, row + pathRowView::ints(terminalPairs[pair].paths.size()),
              table.data() + rowAt[pair]);
  }
  std::vector<int> slots(slotCount);
  for (int q = 0; q < n; ++q) {
    if (nextLive[q] != q) continue;
    const linkView rec = link(linkOrder[q]);
    int* out = slots.data() + slotStart[q];
    for (int k = 0; k < rec.count(); ++k) {
      const std::size_t head = rowAt[rec.pair(k)];
      out[2 * k] = static_cast<int>(head);
      out[2 * k + 1] = static_cast<int>(head + pathRowView::entry(rec.path(k)));
    }
  }

  // Trail bound: along one branch each edges-left counter only falls, each
  // alive flag and joined flag flips once, each alive-path count falls at
  // most once per path.
  std::size_t changes = usedPairs.size();
  for (int pair : usedPairs) {
    const pathRowView r = row(pair);
    for (int j = 0; j < r.alivePaths(); ++j)
      changes += 2 + static_cast<std::size_t>(r.edgesLeft(j));
  }
  // Left uninitialised: only the part one branch reaches is ever touched.
  const auto trailStore = std::make_unique_for_overwrite<int[]>(2 * changes + 2);
  std::vector<search::frame<tableState::mark>> frames(static_cast<std::size_t>(liveCount) + 1);
  tableState state(table.data(), trailStore.get(), 2 * changes + 2, slots.data(), slotStart.data(),
                   nextLive.data(), probAt.data(), n, target());
  search::totals t{reliability, upperBound};
  t.watcher = searchWatch;
  search::factor(state, threshold, t, frames.data(), static_cast<long long>(frames.size()));
  keepTotals(t);
}

void myGraph::keepTotals(const search::totals& t) {
  reliability = t.sum;
  upperBound = t.bound;
  searchStopped = t.stopped;
  belowThreshold = t.below;
  searchSteps = t.steps;
  searchDoublings = t.doublings;
}
