// Working probabilities, folding of links that lie on the same paths, and
// the branching order (most memberships first).
#include <algorithm>
#include <cstdint>
#include <tuple>
#include <utility>

#include "reliability/my_graph.hpp"

void myGraph::prepareLinks(bool merge, bool sort) {
  enterStage(stage::linkInfoBuilt, stage::linksPrepared);
  linkOrder.resize(numLinks);
  linkProb.assign(numLinks, linkProbability);
  for (int i = 0; i < numLinks; ++i)
    linkOrder[i] = i;
  int reducedLinksCount = 0;
  if (merge) reducedLinksCount = mergeEquivalentLinks();
  (void)reducedLinksCount;
  if (sort && numLinks >= 1) sortLinks(linkOrder.data(), 0, numLinks - 1);
}

// Two records fold when their membership lists are equal position by
// position; every record folds into the lowest-numbered record with its
// list, in increasing record order, so each group's probability is the
// left-to-right product of its members'. Records are bucketed by a hash of
// their count and first memberships, then, where a bucket holds more than
// one, by a hash of the whole list, and compared only within a bucket,
// instead of pairwise.
int myGraph::mergeEquivalentLinks() {
  auto hashOf = [this](int r, int memberships) {
    const linkView rec = link(r);
    std::uint64_t h = 0x84222325cbf29ce4ull ^ static_cast<std::uint32_t>(rec.count());
    for (int k = 0; k < 2 * std::min(rec.count(), memberships); ++k) {
      h ^= static_cast<std::uint32_t>(rec.members()[k]);
      h *= 0x100000001b3ull;
      h ^= h >> 29;
    }
    return h;
  };
  auto sameList = [this](int a, int b) {
    const linkView ra = link(a), rb = link(b);
    if (ra.count() != rb.count()) return false;
    return std::equal(ra.members(), ra.members() + 2 * ra.count(), rb.members());
  };

  int folds = 0;
  std::vector<int> heads;  // lowest-numbered record of each list seen in a bucket
  // Records byHash[lo .. hi), in increasing record order, share a hash.
  std::vector<std::pair<std::uint64_t, int>> byHash(numLinks);
  auto foldBucket = [&](std::size_t lo, std::size_t hi) {
    heads.clear();
    for (std::size_t k = lo; k < hi; ++k) {
      const int r = byHash[k].second;
      int head = -1;
      for (int candidate : heads) {
        if (sameList(candidate, r)) {
          head = candidate;
          break;
        }
      }
      if (head < 0) {
        heads.push_back(r);
        continue;
      }
      // The edges only ever matter together: one decision for the group.
      const linkView rec = link(r);
      for (int k2 = 0; k2 < rec.count(); ++k2)
        pathState[pathStateStart[rec.pair(k2)] + pathRowView::entry(rec.path(k2)) +
                  pathRowView::edgesLeftAt] -= 1;
      linkInfo[linkStart[r] + linkView::countAt] = -1;
      linkProb[head] = linkProb[head] * linkProb[r];
      ++folds;
    }
  };
  auto bucketEnd = [&](std::size_t lo, std::size_t end) {
    std::size_t hi = lo + 1;
    while (hi < end && byHash[hi].first == byHash[lo].first)
      ++hi;
    return hi;
  };

  for (int r = 0; r < numLinks; ++r)
    byHash[r] = {hashOf(r, 4), r};
  std::sort(byHash.begin(), byHash.end());
  for (std::size_t lo = 0, hi; lo < byHash.size(); lo = hi) {
    hi = bucketEnd(lo, byHash.size());
    if (hi - lo == 1) continue;  // alone with its first memberships: nothing to fold
    for (std::size_t k = lo; k < hi; ++k)
      byHash[k].first = hashOf(byHash[k].second, linkRecord(byHash[k].second)[0]);
    std::sort(byHash.begin() + static_cast<std::ptrdiff_t>(lo),
              byHash.begin() + static_cast<std::ptrdiff_t>(hi));
    for (std::size_t sub = lo, subEnd; sub < hi; sub = subEnd) {
      subEnd = bucketEnd(sub, hi);
      foldBucket(sub, subEnd);
    }
  }
  return folds;
}

// Hoare partition quicksort by descending membership count. The exact scheme
// (middle pivot, loop while i < j) fixes where equal counts end up, and so
// the search's summation order. The two sub-ranges can share one element,
// so they are sorted in the recursive order, left one first, from an
// explicit stack of ranges.
void myGraph::sortLinks(int* order, int lo, int hi) {
  auto key = [this](int x) { return link(x).count(); };
  std::vector<std::pair<int, int>> ranges{{lo, hi}};
  while (!ranges.empty()) {
    std::tie(lo, hi) = ranges.back();
    ranges.pop_back();
    int i = lo, j = hi;
    const int pivotKey = key(order[(static_cast<long long>(lo) + hi) / 2]);
    do {
      while (key(order[i]) > pivotKey)
        ++i;
      while (key(order[j]) < pivotKey)
        --j;
      if (i <= j) {
        std::swap(order[i], order[j]);
        ++i;
        --j;
      }
    } while (i < j);
    if (i < hi) ranges.emplace_back(i, hi);
    if (lo < j) ranges.emplace_back(lo, j);
  }
}
