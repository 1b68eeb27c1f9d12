// The straightforward search: every step copies the path-state table and
// the probability array, and the search and the path enumeration recurse.
// Kept as the reference that the fast engine must match bit for bit.
#pragma once
#include <cstddef>
#include <utility>
#include <vector>

namespace reference {

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

}  // namespace reference
