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
// -1.0 when the search found the reliability certain to be below threshold.
//
// Path-state table, one row per terminal pair, two ints per entry:
//
//   row:   [ joined | alive paths ] [ alive | edges left ] [ alive | edges left ] ...
//            head (entry 0)           path 0 (entry 1)       path 1 (entry 2)
//
//   joined      1 once some path of the pair has all its edges working
//   alive paths number of the pair's paths with no failed edge
//   alive       1 while no edge of the path has failed
//   edges left  number of the path's edges not yet known to work
//
// A joined row is never read past its first int, so a copy keeps only that.
//
// Link record, one per edge that lies on d >= 1 paths, 3 + 2d ints:
//
//   [ d | u | v | pair 0 | path 0 | pair 1 | path 1 | ... ]
//
//   d      membership count; -1 once the record is folded into another
//   u < v  the edge's ends
//   (pair k, path k)  the k-th path using the edge (a "membership")
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

class myGraph {
 public:
  // All simple paths of at most `diameter` edges between two terminals.
  struct pathsBetween2Terminals {
    explicit pathsBetween2Terminals(std::pair<int, int> st) : source(st.first), target(st.second) {}
    int source;
    int target;
    std::vector<std::vector<int>> paths;  // in depth-first order
  };

  // offsets: n + 1 ints; neighbours: 2m ints numbered from 1; flags: n ints
  // (a node is a terminal exactly when its flag is 1). Lists are copied.
  myGraph(const int* offsets, const int* neighbours, const int* flags, int n, int m, int D,
          double p, double threshold);
  ~myGraph();
  myGraph(const myGraph&) = delete;
  myGraph& operator=(const myGraph&) = delete;

  double computeReliability();

  // Stages, public so that tests can run them one at a time.
  void findAllPaths();
  void findPaths(std::pair<int, int> pair, std::vector<int> path);
  void buildPathState();
  void buildLinkInfo();
  void collectLinkPaths(int u, int v, int& count, int recordCount);
  int** copyPathState(int** state) const;
  void releasePathState(int** state) const;
  void prepareLinks(bool merge, bool sort);
  int mergeEquivalentLinks();
  void sortLinks(int* order, int lo, int hi);
  void factor(int** state, int connected, int pos, double prob, double* probs);
  void linkWorks(int** state, int connected, int pos, double prob, double* probs);
  void linkFails(int** state, int connected, int pos, double prob, double* probs);

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
  std::vector<pathsBetween2Terminals> terminalPairs;
  int** pathState = nullptr;
  int** linkInfo = nullptr;
  int numLinks = 0;
  int numPaths = 0;
  int* linkOrder = nullptr;
  double* linkProb = nullptr;

  // Read access for tests and tools.
  const int* pathRow(int pair) const { return pathState[pair]; }
  const int* linkRecord(int record) const { return linkInfo[record]; }

 private:
  // Finds the next record to branch on at or after pos; false when none.
  bool chooseLink(int& pos, const double* probs) const;
  int target() const { return (numTerminals - 1) * numTerminals / 2; }
};
