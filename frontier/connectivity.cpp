#include "frontier/connectivity.hpp"

#include <algorithm>

namespace frontier {

ConnectivityRules::ConnectivityRules(const Plan& plan) : plan_(plan) {
  const int m = plan.levels();
  levels_.resize(m);
  std::vector<int> position(plan.nodes, -1);
  std::size_t widest = 0;
  for (int i = 0; i < m; ++i) {
    Level& L = levels_[i];
    const auto& here = plan.frontier[i];
    L.parentCount = static_cast<int>(here.size());
    std::vector<int> work = here;
    const auto [a, b] = plan.edges[i];
    for (int v : {a, b})
      if (std::find(work.begin(), work.end(), v) == work.end()) {
        work.push_back(v);
        L.fresh.push_back(plan.isTerminal(v) ? 1 : 0);
      }
    for (std::size_t k = 0; k < work.size(); ++k)
      position[work[k]] = static_cast<int>(k);
    L.u = position[a];
    L.v = position[b];
    L.leaves.assign(work.size(), 1);
    for (int v : plan.frontier[i + 1]) {
      L.keep.push_back(position[v]);
      L.leaves[position[v]] = 0;
    }
    L.allReached = true;
    for (int t : plan.terminals)
      L.allReached = L.allReached && plan.first[t] <= i;
    widest = std::max(widest, work.size());
  }
  group_.resize(widest + 1);
  mark_.resize(widest + 1);
  relabel_.resize(widest + 1);
  present_.resize(widest + 1);
}

Outcome ConnectivityRules::child(int level, const std::uint8_t* parent, bool works,
                                 std::uint8_t* out) {
  const Level& L = levels_[level];
  const int count = L.parentCount + static_cast<int>(L.fresh.size());
  int groups = 0;
  for (int k = 0; k < L.parentCount; ++k) {
    const int g = parent[k] & 0x7F;
    group_[k] = static_cast<std::uint8_t>(g);
    mark_[g] = parent[k] >> 7;
    groups = std::max(groups, g + 1);
  }
  for (std::size_t k = 0; k < L.fresh.size(); ++k) {
    group_[L.parentCount + k] = static_cast<std::uint8_t>(groups);
    mark_[groups++] = static_cast<std::uint8_t>(L.fresh[k]);
  }
  if (works && group_[L.u] != group_[L.v]) {
    const std::uint8_t keepG = group_[L.u], gone = group_[L.v];
    for (int k = 0; k < count; ++k)
      if (group_[k] == gone) group_[k] = keepG;
    mark_[keepG] |= mark_[gone];
  }
  std::fill(present_.begin(), present_.begin() + groups, 0);
  for (int k : L.keep)
    present_[group_[k]] = 1;
  int marked = 0, markedPresent = 0;
  std::fill(relabel_.begin(), relabel_.begin() + groups, 0);
  for (int k = 0; k < count; ++k) {
    const int g = group_[k];
    if (!mark_[g] || relabel_[g]) continue;
    relabel_[g] = 1;
    ++marked;
    markedPresent += present_[g];
  }
  if (markedPresent < marked)  // a marked group closes
    return L.allReached && marked == 1 ? Outcome::kAccepted : Outcome::kRejected;
  if (L.allReached && marked == 1) return Outcome::kAccepted;

  std::fill(relabel_.begin(), relabel_.begin() + groups, 0xFF);
  std::uint8_t nextLabel = 0;
  for (std::size_t j = 0; j < L.keep.size(); ++j) {
    const int g = group_[L.keep[j]];
    if (relabel_[g] == 0xFF) relabel_[g] = nextLabel++;
    out[j] = static_cast<std::uint8_t>(relabel_[g] | (mark_[g] << 7));
  }
  return Outcome::kState;
}

}  // namespace frontier
