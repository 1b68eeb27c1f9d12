// myGraph: the one object of a dcr run.
//
// It holds the graph (compressed adjacency, 0-based), the terminal list and
// the problem's scalars, and the engine's stages fill the rest in this order:
//
//   findAllPaths      terminalPairs, numPaths          (graph/find_paths.cpp)
//   buildPathState    pathState                        (reliability/link_records.cpp)
//   buildLinkInfo     linkInfo, numLinks               (reliability/link_records.cpp)
//   prepareLinks      linkProb, linkOrder, folds       (reliability/prepare_links.cpp)
//   factor            reliability, upperBound,         (reliability/search.cpp)
//                     belowThreshold
//
// computeReliability() runs them all once and returns the reliability, or
// -1.0 when a search step found the upper bound below the threshold.
//
// Path-state table: one row per terminal pair, rows laid end to end in one
// int array (`pathState`, row i starting at `pathStateStart[i]`), two ints
// per entry (pathRowView names them):
//
//   row:   [ joined | alive paths ] [ alive | edges left ] [ alive | edges left ] ...
//            head (entry 0)           path 0 (entry 1)       path 1 (entry 2)
//
//   joined      1 once some path of the pair has all its edges working, else 0
//   alive paths number of the pair's paths with no failed edge
//   alive       1 while no edge of the path has failed, else 0
//   edges left  number of the path's edges (or folded groups) not yet known to work
//
// Once a pair is joined nothing of its row but the joined flag is read.
//
// Link record: one per edge that lies on d >= 1 paths, 3 + 2d ints, records
// laid end to end in `linkInfo` (record r starting at `linkStart[r]`;
// linkView names the positions):
//
//   [ d | u | v | pair 0 | path 0 | pair 1 | path 1 | ... ]
//
//   d      membership count; -1 once the record is folded into another
//   u < v  the edge's ends
//   (pair k, path k)  the k-th path using the edge: a membership
//
// Records are numbered by lower end u, then by u's neighbour-list order.
// Memberships stand in (pair, path) order, except that the one-edge path of
// the pair whose terminals are u and v, if there is one, stands first and
// the membership it displaced moves to the end of the list as it then was.
//
// computeReliability builds these only for the table form. When a mask
// form runs, its tables come straight from the paths
// (reliability/path_tables.hpp): `pathState` stays empty and `linkInfo`
// holds the records' heads alone, [ d | u | v ] with d = -1 once folded,
// record r at linkStart[r] = 3r; numLinks, linkProb and linkOrder are as
// the stages leave them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "graph/grow_buffer.hpp"
#include "graph/large_pages.hpp"
#include "graph/memory.hpp"

namespace search {
struct watch;   // reliability/factor_skeleton.hpp
struct totals;  // reliability/factor_skeleton.hpp
}  // namespace search
namespace masks {
struct problem;  // reliability/mask_search.hpp
}

// Positions in a path-state row (layout above). A row is read through these
// and nothing else: `entry(j)` is path j's entry, relative to the row.
struct pathRowView {
  static constexpr int joinedAt = 0;      // head: joined flag
  static constexpr int alivePathsAt = 1;  // head: alive paths
  static constexpr int aliveAt = 0;       // path entry: alive flag
  static constexpr int edgesLeftAt = 1;   // path entry: edges left
  static constexpr std::size_t entry(std::size_t path) { return 2 * (path + 1); }
  static constexpr std::size_t ints(std::size_t paths) { return 2 * (paths + 1); }

  const int* row;
  int joined() const { return row[joinedAt]; }
  int alivePaths() const { return row[alivePathsAt]; }
  int alive(std::size_t path) const { return row[entry(path) + aliveAt]; }
  int edgesLeft(std::size_t path) const { return row[entry(path) + edgesLeftAt]; }
};

// Positions in a link record (layout above).
struct linkView {
  static constexpr int countAt = 0;  // d, or -1 once folded
  static constexpr int lowAt = 1;    // u
  static constexpr int highAt = 2;   // v
  static constexpr int membersAt = 3;
  static constexpr int pairAt(int k) { return membersAt + 2 * k; }
  static constexpr int pathAt(int k) { return membersAt + 2 * k + 1; }
  static constexpr std::size_t ints(int count) {
    return membersAt + 2 * static_cast<std::size_t>(count);
  }

  const int* rec;
  int count() const { return rec[countAt]; }
  bool folded() const { return rec[countAt] == -1; }
  int low() const { return rec[lowAt]; }
  int high() const { return rec[highAt]; }
  int pair(int k) const { return rec[pairAt(k)]; }
  int path(int k) const { return rec[pathAt(k)]; }
  // The 2d membership ints, (pair, path) couples in stored order.
  const int* members() const { return rec + membersAt; }
};

// A table that can hold an entry per terminal pair or per path: big ones
// sit on 2 MiB pages.
template <class T>
using bigTable = std::vector<T, largePages::allocator<T>>;

// Thrown by findAllPaths when the paths would not fit in memory.
class pathStoreFull : public std::runtime_error {
 public:
  pathStoreFull(int pairIndex, int source, int target, long long pathsStored);
  int pairIndex;          // the pair being enumerated
  int source, target;     // its terminals (0-based)
  long long pathsStored;  // paths stored over all pairs when enumeration stopped
};

// Thrown by findAllPaths when the search's watch (searchWatch) asks it to
// stop: the deadline passed or the caller cancelled during the enumeration.
class pathsStopped : public std::runtime_error {
 public:
  pathsStopped() : std::runtime_error("stopped while enumerating paths") {}
};

class myGraph {
 public:
  // The paths of one pair, stored compactly: all nodes end to end, the
  // offset where each path starts, and how many first nodes each path is
  // known to share with the one before it (paths come in depth-first order,
  // so most share a long first part).
  class pathList {
   public:
    pathList() = default;
    pathList(const pathList& other)
        : store_(other.store_ ? std::make_unique<store>(*other.store_) : nullptr) {}
    pathList(pathList&&) noexcept = default;
    pathList& operator=(const pathList& other) {
      if (this != &other) store_ = other.store_ ? std::make_unique<store>(*other.store_) : nullptr;
      return *this;
    }
    pathList& operator=(pathList&&) noexcept = default;

    std::size_t size() const { return store_ ? store_->start.size() - 1 : 0; }
    bool empty() const { return size() == 0; }
    std::span<const int> operator[](std::size_t j) const {
      const std::size_t* start = store_->start.data();
      return {store_->nodes.data() + start[j], start[j + 1] - start[j]};
    }
    std::size_t edges(std::size_t j) const { return store_->start[j + 1] - store_->start[j] - 1; }
    // At most the length of the common first part of paths j - 1 and j; 0
    // for the first path.
    std::size_t shared(std::size_t j) const { return store_->shared[j]; }
    void append(const int* nodes, std::size_t count, std::size_t shared = 0) {
      if (!store_) {
        store_ = std::make_unique<store>();
        store_->start.push_back(0);
      }
      store_->shared.push_back(static_cast<int>(empty() ? 0 : std::min(shared, count)));
      store_->nodes.append(nodes, count);
      store_->start.push_back(store_->nodes.size());
    }

   private:
    struct store {
      growBuffer<int> nodes;
      growBuffer<int> shared;
      growBuffer<std::size_t> start;
    };
    // Allocated with the first path: a pair without paths (there can be
    // millions of them) takes one null pointer.
    std::unique_ptr<store> store_;
  };

  // All simple paths of at most `diameter` edges between two terminals.
  struct pathsBetween2Terminals {
    explicit pathsBetween2Terminals(std::pair<int, int> st) : source(st.first), target(st.second) {}
    int source;
    int target;
    pathList paths;  // in depth-first order
  };

  // offsets: n + 1 ints; neighbours: 2m ints numbered from 1; flags: n ints
  // (a node is a terminal exactly when its flag is 1). Lists are copied.
  // The lists must describe a simple undirected graph with every edge under
  // both ends; the file reader checks that.
  myGraph(const int* offsets, const int* neighbours, const int* flags, int n, int m, int D,
          double p, double threshold);

  double computeReliability();

  // Stages, public so that tests and tools can run them one at a time.
  void findAllPaths();
  void buildPathState();
  void buildLinkInfo();
  bigTable<int> copyPathState(const bigTable<int>& state) const;
  void prepareLinks(bool merge, bool sort);
  int mergeEquivalentLinks();
  void sortLinks(int* order, int lo, int hi);
  // The mask search's tables from the link records, after prepareLinks.
  void buildMasksFromRecords(masks::problem& mp) const;

  int numTerminals = 0;
  int diameter = 0;
  double linkProbability = 0.0;
  std::vector<int> nodeStart;
  std::vector<int> adjacency;
  std::vector<int> terminals;
  double reliability = 0.0;
  double upperBound = 1.0;
  double threshold = 0.0;
  bool belowThreshold = false;
  bigTable<pathsBetween2Terminals> terminalPairs;
  bigTable<int> pathState;
  bigTable<std::size_t> pathStateStart;
  growBuffer<int> linkInfo;
  bigTable<std::size_t> linkStart;
  int numLinks = 0;
  int numPaths = 0;
  std::vector<int> linkOrder;
  std::vector<double> linkProb;

  // Bytes the engine may take for its path-derived tables; findAllPaths
  // stops with pathStoreFull beyond it. Defaults to 3/4 of the physical
  // memory, or of the process's address-space or data limit when lower.
  std::size_t memoryLimit;
  // Factoring steps taken by the last search, the root's included.
  long long searchSteps = 0;
  // Subtrees the last search walked once for both branches of an idle
  // record (the same steps and sums as walking each).
  long long searchDoublings = 0;
  // Forms of the search's state. All take the same steps to the same
  // leaves; chooseSearchForm picks one per problem:
  //   table               path-state table with an undo trail (any problem)
  //   trailedMasks        alive paths as bit sets with an undo trail (at
  //                       most 64 pairs, no record passed over)
  //   snapshotMasks       bit sets, one snapshot of them per fails branch
  //                       (besides: at most 64 alive words, every pair with
  //                       a path), 256-bit word operations where the CPU
  //                       has them
  //   plainSnapshotMasks  the same, 64-bit word operations only
  //   onePair             one pair of at most 64 paths
  enum class searchForm { chosen, table, trailedMasks, snapshotMasks, plainSnapshotMasks, onePair };
  // The form asked for: `chosen` lets the engine pick. Tests force the
  // others; a forced form that cannot take the problem gives way to the
  // chosen one, and `searchRan` shows it.
  searchForm search = searchForm::chosen;
  // The form the last search ran (`chosen` when no search ran).
  searchForm searchRan = searchForm::chosen;
  // Polled every million steps or so by the search, for progress and to
  // stop a long one (null: never). A stopped search returns what it has:
  // `reliability` and `upperBound` are then bounds on the value, and
  // `searchStopped` says so.
  const search::watch* searchWatch = nullptr;
  bool searchStopped = false;

  const int* pathRow(int pair) const { return pathState.data() + pathStateStart[pair]; }
  const int* linkRecord(int record) const { return linkInfo.data() + linkStart[record]; }
  pathRowView row(int pair) const { return {pathRow(pair)}; }
  linkView link(int record) const { return {linkRecord(record)}; }

 private:
  // The stages run in order, each once: a checking build tests it.
  enum class stage { constructed, pathsFound, pathStateBuilt, linkInfoBuilt, linksPrepared };
  stage reached = stage::constructed;
  void enterStage(stage from, stage to);

  void factor();
  void factorByMasks(searchForm form, masks::problem* built);
  void keepTotals(const search::totals& t);  // what a search found, into the members
  searchForm chooseSearchForm() const;
  bool masksLikely() const;
  int target() const { return (numTerminals - 1) * numTerminals / 2; }
};
