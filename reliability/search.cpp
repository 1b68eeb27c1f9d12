// Factoring search with threshold cut-off.
#include <cstring>

#include "graph/my_graph.hpp"

double myGraph::computeReliability() {
  findAllPaths();
  buildPathState();
  buildLinkInfo();
  prepareLinks(true, true);
  reliability = 0.0;
  upperBound = 1.0;
  belowThreshold = false;
  int** root = copyPathState(pathState);
  factor(root, 0, 0, 1.0, linkProb);
  releasePathState(root);
  return belowThreshold ? -1.0 : reliability;
}

void myGraph::factor(int** state, int connected, int pos, double prob, double* probs) {
  if (threshold > upperBound) {
    belowThreshold = true;
    return;
  }
  int** copy = copyPathState(state);
  double* probsCopy = new double[numLinks];
  if (numLinks > 0) std::memcpy(probsCopy, probs, sizeof(double) * numLinks);
  linkWorks(state, connected, pos, prob, probs);
  linkFails(copy, connected, pos, prob, probsCopy);
  releasePathState(copy);
  delete[] probsCopy;
}

bool myGraph::chooseLink(int& pos, const double* probs) const {
  const int n = numLinks;
  if (pos == n) return false;
  int e = linkOrder[pos];
  while (pos < n - 1 && (linkInfo[e][0] == -1 || probs[e] == -1.0)) e = linkOrder[++pos];
  return !(linkInfo[e][0] == -1 || probs[e] == -1.0);
}

void myGraph::linkWorks(int** state, int connected, int pos, double prob, double* probs) {
  if (!chooseLink(pos, probs)) return;
  const int e = linkOrder[pos];
  const int* rec = linkInfo[e];
  prob = prob * probs[e];
  for (int k = 0; k < rec[0]; ++k) {
    int* row = state[rec[3 + 2 * k]];
    const int entry = 2 * (rec[4 + 2 * k] + 1);
    if (row[0] != 0) continue;
    if (row[entry] != 1) continue;
    if (--row[entry + 1] != 0) continue;
    row[0] = 1;
    if (++connected == target()) {
      reliability += prob * 1.0;
      return;
    }
  }
  factor(state, connected, pos + 1, prob, probs);
}

void myGraph::linkFails(int** state, int connected, int pos, double prob, double* probs) {
  if (!chooseLink(pos, probs)) return;
  const int e = linkOrder[pos];
  const int* rec = linkInfo[e];
  prob = (1.0 - probs[e]) * prob;
  for (int k = 0; k < rec[0]; ++k) {
    int* row = state[rec[3 + 2 * k]];
    const int entry = 2 * (rec[4 + 2 * k] + 1);
    if (row[0] != 0) continue;
    if (row[entry] == 1) {
      row[entry] = 0;
      if (--row[1] == 0) {
        upperBound -= prob;
        return;
      }
    }
  }
  factor(state, connected, pos + 1, prob, probs);
}
