#include "reliability/path_tables.hpp"

#include <algorithm>
#include <tuple>

#include "reliability/checks.hpp"
#include "reliability/edge_index.hpp"

namespace pathTables {
namespace {

using masks::bits;

// A list's hash: the sum of r^P over its memberships, P the path's number
// counted over all pairs in (pair, path) order, modulo the prime 2^61 - 1,
// times r - 1. A function of the set alone, so equal lists hash alike; it
// adds up over runs of consecutive paths, r^(last + 1) - r^first each.
// Different sets share it with a chance of at most (paths / 2^61) per
// couple of lists, and are then told apart by the exact check.
constexpr std::uint64_t kPrime = (std::uint64_t{1} << 61) - 1;
constexpr std::uint64_t kBase = 0x1F2E3D4C5B6A798ull % kPrime;

std::uint64_t mulMod(std::uint64_t a, std::uint64_t b) {
  __extension__ using wide = unsigned __int128;
  const wide x = static_cast<wide>(a) * b;
  const std::uint64_t lo = static_cast<std::uint64_t>(x) & kPrime;
  const std::uint64_t hi = static_cast<std::uint64_t>(x >> 61);
  const std::uint64_t sum = lo + hi;
  return sum >= kPrime ? sum - kPrime : sum;
}

// Calls run(e, pair, words, first, last, oneEdge, powFirst, powAfter) for
// runs of paths: paths first .. last of the pair, consecutive, all taking
// edge e at the same step (oneEdge: the path [source, target] itself), with
// the pair's first alive word (words numbered pair after pair, 64 paths to
// a word), and r^P of path `first` and of the path after `last`. A path
// takes the steps of its known common first part with the path before
// (paths come in depth-first order), so those steps continue runs and only
// the others are looked up. The runs of one edge come in path order, and
// together they hold each (path, edge) once. With `byWord`, runs also end
// with every alive word, and wordEnd(pair, word) follows the runs ended
// there.
template <class Run, class WordEnd>
void eachRun(const myGraph& g, const edgeIndex& index, Run run, WordEnd wordEnd, bool byWord) {
  std::vector<int> edge, first;
  std::vector<std::uint64_t> powFirst;
  std::uint64_t pow = 1;  // r^P of the path at hand
  std::size_t wordBase = 0;
  for (std::size_t i = 0; i < g.terminalPairs.size(); ++i) {
    const myGraph::pathList& paths = g.terminalPairs[i].paths;
    std::size_t open = 0;  // steps of the path before: its runs are open
    bool one = false;      // the path before was a one-edge path
    auto end = [&](std::size_t from, std::size_t last) {
      for (std::size_t k = from; k < open; ++k)
        run(edge[k], i, wordBase, static_cast<std::size_t>(first[k]), last, one, powFirst[k], pow);
    };
    for (std::size_t j = 0; j < paths.size(); ++j) {
      const std::size_t steps = paths.edges(j);
      const std::size_t same = paths.shared(j);
      const std::size_t kept = std::min({same == 0 ? 0 : same - 1, open, steps});
      const bool newWord = byWord && j % 64 == 0 && j > 0;
      const std::size_t continued = newWord ? 0 : kept;
      end(continued, j - 1);
      if (newWord) wordEnd(i, static_cast<int>(wordBase + (j - 1) / 64));
      if (edge.size() < steps) {
        edge.resize(steps);
        first.resize(steps);
        powFirst.resize(steps);
      }
      const std::span<const int> nodes = paths[j];
      for (std::size_t k = continued; k < steps; ++k) {
        if (k >= kept) edge[k] = index.find(nodes[k], nodes[k + 1]);
        first[k] = static_cast<int>(j);
        powFirst[k] = pow;
      }
      open = steps;
      one = steps == 1;
      pow = mulMod(pow, kBase);
    }
    if (!paths.empty()) {
      end(0, paths.size() - 1);
      if (byWord) wordEnd(i, static_cast<int>(wordBase + (paths.size() - 1) / 64));
    }
    wordBase += (paths.size() + 63) / 64;
  }
}

// What the first walk learns of one edge.
struct edgeFacts {
  std::uint64_t hash = 0;                // of its membership list
  int count = 0;                         // memberships
  int words = 0;                         // alive words touched
  int lastWord = -1;                     // the last of them
  int firstWord = -1, secondWord = -1;   // of its first two memberships
  int oneEdgeAt = -1, oneEdgeWord = -1;  // its one-edge path's place and word
};

}  // namespace

bool planLinks(myGraph& g, plan& out) {
  out.index = std::make_unique<const edgeIndex>(g.nodeStart, g.adjacency);
  const edgeIndex& index = *out.index;
  const std::size_t edges = index.size();
  bigTable<edgeFacts> facts(edges);
  eachRun(
      g, index,
      [&](int e, std::size_t, std::size_t wordBase, std::size_t a, std::size_t b, bool oneEdge,
          std::uint64_t powFirst, std::uint64_t powAfter) {
        edgeFacts& f = facts[e];
        const int c = f.count;
        const int wa = static_cast<int>(wordBase + a / 64);
        const int wb = static_cast<int>(wordBase + b / 64);
        if (c == 0) {
          f.firstWord = wa;
          if (b > a) f.secondWord = static_cast<int>(wordBase + (a + 1) / 64);
        }
        if (c == 1) f.secondWord = wa;
        if (oneEdge) {
          f.oneEdgeAt = c;
          f.oneEdgeWord = wa;
        }
        std::uint64_t h = f.hash + powAfter + (kPrime - powFirst);  // below 3 * kPrime
        h = h >= kPrime ? h - kPrime : h;
        f.hash = h >= kPrime ? h - kPrime : h;
        f.words += wb - wa + (f.lastWord == wa ? 0 : 1);
        f.lastWord = wb;
        f.count = c + static_cast<int>(b - a + 1);
      },
      [](std::size_t, int) {}, false);

  // Records: the edges on some path, in edge order.
  out.recordOf.assign(edges, -1);
  std::vector<int> edgeOf;
  edgeOf.reserve(edges);
  for (std::size_t e = 0; e < edges; ++e) {
    if (facts[e].count == 0) continue;
    out.recordOf[e] = static_cast<int>(edgeOf.size());
    edgeOf.push_back(static_cast<int>(e));
  }
  const int links = static_cast<int>(edgeOf.size());

  // Equal lists have equal counts and hashes: each record's candidate head
  // is the lowest record with its count and hash. Every candidate is then
  // checked: a record's paths must all hold its candidate's edge (equal
  // counts make the sets equal).
  std::vector<int> head(links);
  bool folds = false;
  {
    bigTable<std::tuple<int, std::uint64_t, int>> byHash(links);
    for (int r = 0; r < links; ++r)
      byHash[r] = {facts[edgeOf[r]].count, facts[edgeOf[r]].hash, r};
    std::sort(byHash.begin(), byHash.end());
    for (std::size_t k = 0; k < byHash.size(); ++k) {
      const bool same = k > 0 && std::get<0>(byHash[k]) == std::get<0>(byHash[k - 1]) &&
                        std::get<1>(byHash[k]) == std::get<1>(byHash[k - 1]);
      head[std::get<2>(byHash[k])] =
          same ? head[std::get<2>(byHash[k - 1])] : std::get<2>(byHash[k]);
      folds = folds || same;
    }
  }
  if (folds) {
    // The paths of every record in a bucket of more than one, as runs of
    // consecutive paths of a pair, adjacent runs joined: equal sets give
    // equal lists of runs. The runs go to one flat table, then are grouped
    // by record by a counting sort, which keeps each record's runs in path
    // order.
    struct run {
      int slot;  // the record's place among those checked
      int pair;
      int first, last;  // path indices (fewer than INT_MAX / 4 paths)
    };
    bigTable<int> slotOf(edges, -1);
    int slots = 0;
    for (int r = 0; r < links; ++r) {
      if (head[r] == r) continue;
      for (int x : {r, head[r]})
        if (slotOf[edgeOf[x]] < 0) slotOf[edgeOf[x]] = slots++;
    }
    growBuffer<run> runs;
    eachRun(
        g, index,
        [&](int e, std::size_t i, std::size_t, std::size_t a, std::size_t b, bool, std::uint64_t,
            std::uint64_t) {
          if (slotOf[e] >= 0)
            runs.push_back(
                {slotOf[e], static_cast<int>(i), static_cast<int>(a), static_cast<int>(b)});
        },
        [](std::size_t, int) {}, false);
    bigTable<std::size_t> from(static_cast<std::size_t>(slots) + 1, 0), to(slots);
    for (std::size_t k = 0; k < runs.size(); ++k)
      ++from[runs[k].slot + 1];
    for (int x = 0; x < slots; ++x)
      from[x + 1] += from[x];
    growBuffer<run> bySlot;
    bySlot.resizeForOverwrite(runs.size());
    std::copy(from.begin(), from.end() - 1, to.begin());
    for (std::size_t k = 0; k < runs.size(); ++k)
      bySlot[to[runs[k].slot]++] = runs[k];
    for (int x = 0; x < slots; ++x) {
      std::size_t kept = from[x];
      for (std::size_t k = from[x]; k < from[x + 1]; ++k) {
        if (kept > from[x] && bySlot[kept - 1].pair == bySlot[k].pair &&
            bySlot[kept - 1].last + 1 == bySlot[k].first)
          bySlot[kept - 1].last = bySlot[k].last;
        else
          bySlot[kept++] = bySlot[k];
      }
      to[x] = kept;  // the joined runs end here
    }
    auto same = [](const run& u, const run& v) {
      return u.pair == v.pair && u.first == v.first && u.last == v.last;
    };
    for (int r = 0; r < links; ++r) {
      if (head[r] == r) continue;
      const int x = slotOf[edgeOf[r]], y = slotOf[edgeOf[head[r]]];
      if (!std::equal(bySlot.data() + from[x], bySlot.data() + to[x], bySlot.data() + from[y],
                      bySlot.data() + to[y], same))
        return false;
    }
  }

  // Heads in record order; folds into the lowest record of each list, in
  // increasing record order, as mergeEquivalentLinks makes them.
  g.numLinks = links;
  g.linkInfo = {};
  g.linkInfo.resizeForOverwrite(linkView::ints(0) * static_cast<std::size_t>(links));
  g.linkStart.resize(static_cast<std::size_t>(links) + 1);
  g.linkProb.assign(links, g.linkProbability);
  g.linkOrder.resize(links);
  for (int r = 0; r < links; ++r) {
    const int e = edgeOf[r];
    const std::size_t at = linkView::ints(0) * static_cast<std::size_t>(r);
    g.linkStart[r] = at;
    g.linkInfo[at + linkView::countAt] = head[r] == r ? facts[e].count : -1;
    g.linkInfo[at + linkView::lowAt] = index.lowEnd[e];
    g.linkInfo[at + linkView::highAt] = index.highEnd[e];
    g.linkOrder[r] = r;
    if (head[r] != r) g.linkProb[head[r]] = g.linkProb[head[r]] * g.linkProb[r];
  }
  g.linkStart[links] = linkView::ints(0) * static_cast<std::size_t>(links);
  if (links >= 1) g.sortLinks(g.linkOrder.data(), 0, links - 1);

  out.records.resize(links);
  for (int r = 0; r < links; ++r) {
    const edgeFacts& f = facts[edgeOf[r]];
    out.records[r] = {f.words, f.oneEdgeAt, f.oneEdgeWord, f.firstWord, f.secondWord};
  }
  return true;
}

void markDone(masks::problem& mp) {
  std::vector<bits> later(mp.alive.size(), 0);  // paths on records at later positions
  for (std::size_t k = mp.groups.size(); k-- > 0;) {
    masks::group& g = mp.groups[k];
    g.doneBy = g.onRecord & ~later[g.word];
    later[g.word] |= g.onRecord;
  }
}

void fillMasks(const myGraph& g, const plan& p, masks::problem& mp) {
  mp.pairs = g.terminalPairs.size();
  mp.live = 0;
  for (int q = 0; q < g.numLinks && !g.link(g.linkOrder[q]).folded(); ++q)
    ++mp.live;
  const int live = mp.live;
  const std::size_t pairs = mp.pairs;
  mp.wordStart.assign(pairs + 1, 0);
  for (std::size_t i = 0; i < pairs; ++i)
    mp.wordStart[i + 1] = mp.wordStart[i] + (g.terminalPairs[i].paths.size() + 63) / 64;
  const std::size_t words = mp.wordStart[pairs];
  // Every path alive: whole words, then the pair's last word in part.
  mp.alive.assign(words, ~bits{0});
  for (std::size_t i = 0; i < pairs; ++i)
    if (const std::size_t tail = g.terminalPairs[i].paths.size() % 64; tail != 0)
      mp.alive[mp.wordStart[i + 1] - 1] = (bits{1} << tail) - 1;
  mp.probAt.resize(live);
  for (int q = 0; q < live; ++q)
    mp.probAt[q] = g.linkProb[g.linkOrder[q]];

  // Per position, one group per word its record has paths in: counted by
  // planLinks, so each position's groups go straight to their place.
  std::vector<int> posOfRecord(g.numLinks, -1);
  mp.groupStart.assign(live + 1, 0);
  for (int q = 0; q < live; ++q) {
    posOfRecord[g.linkOrder[q]] = q;
    mp.groupStart[q + 1] =
        mp.groupStart[q] + static_cast<std::size_t>(p.records[g.linkOrder[q]].words);
  }
  std::vector<int> posOfEdge(p.recordOf.size(), -1);
  for (std::size_t e = 0; e < p.recordOf.size(); ++e)
    if (p.recordOf[e] >= 0) posOfEdge[e] = posOfRecord[p.recordOf[e]];
  largePages::reserveAdvised(mp.groups, mp.groupStart[live]);
  mp.groups.resize(mp.groupStart[live]);
  std::vector<std::size_t> next(mp.groupStart.begin(), mp.groupStart.end() - 1);

  // The paths of one word at a time: per position, the word's paths on its
  // record, written out when the word is done, so each position's groups
  // come in word order.
  std::vector<bits> onRecord(live, 0);
  std::vector<int> touched;
  int word = -1, pairOfWord = -1;  // the word just done
  auto flush = [&] {
    for (int q : touched) {
      mp.groups[next[q]++] = {pairOfWord, word, onRecord[q], 0};
      onRecord[q] = 0;
    }
    touched.clear();
  };
  const edgeIndex& index = *p.index;
  eachRun(
      g, index,
      [&](int e, std::size_t, std::size_t, std::size_t a, std::size_t b, bool, std::uint64_t,
          std::uint64_t) {
        const int q = posOfEdge[e];
        if (q < 0) return;  // folded: its head's groups hold the same paths
        if (onRecord[q] == 0) touched.push_back(q);
        const unsigned lo = a % 64, hi = b % 64;
        onRecord[q] |= (~bits{0} >> (63 - hi)) & (~bits{0} << lo);
      },
      [&](std::size_t i, int w) {
        pairOfWord = static_cast<int>(i);
        word = w;
        flush();
      },
      true);
  for (int q = 0; q < live; ++q)
    DCR_CHECK(next[q] == mp.groupStart[q + 1], "a position's groups miscounted");

  // A record's groups follow its first memberships. The one-edge path of a
  // pair stands first in its list, and the membership it displaced (the
  // first in (pair, path) order) stands where the one-edge path would have:
  // the one-edge path's word comes first, and the first word comes after
  // the words before the one-edge path's unless the second membership
  // shares it.
  for (int q = 0; q < live; ++q) {
    const int r = g.linkOrder[q];
    const int t = p.records[r].oneEdgeAt;
    if (t < 1) continue;
    const auto first = mp.groups.begin() + static_cast<std::ptrdiff_t>(mp.groupStart[q]);
    const auto end = mp.groups.begin() + static_cast<std::ptrdiff_t>(mp.groupStart[q + 1]);
    const auto one = std::find_if(
        first, end, [&](const masks::group& x) { return x.word == p.records[r].oneEdgeWord; });
    DCR_CHECK(one != end && first->word == p.records[r].firstWord,
              "a one-edge path's word missing");
    std::rotate(first, one, one + 1);
    const bool firstWordSeenBefore = t >= 2 && p.records[r].secondWord == p.records[r].firstWord;
    if (one != first && !firstWordSeenBefore) std::rotate(first + 1, first + 2, one + 1);
  }
  markDone(mp);
}

}  // namespace pathTables
