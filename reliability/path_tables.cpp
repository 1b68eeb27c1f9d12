#include "reliability/path_tables.hpp"

#include <algorithm>
#include <tuple>

#include "reliability/checks.hpp"
#include "reliability/edge_index.hpp"

namespace pathTables {
namespace {

using masks::bits;

// Mixes the membership (pair, path) into a list's hash; the lists are
// hashed in (pair, path) order, the order of their sets.
std::uint64_t mix(std::uint64_t h, std::size_t pair, std::size_t path) {
  h ^= (static_cast<std::uint64_t>(pair) << 32) ^ static_cast<std::uint64_t>(path);
  h *= 0x9E3779B97F4A7C15ull;
  return h ^ (h >> 29);
}

// Calls f(pair, path index, word, edge numbers, steps) for every path in
// (pair, path) order; `word` is the path's alive word when the words are
// numbered pair after pair, 64 paths to a word.
template <class F>
void eachPath(const myGraph& g, const edgeIndex& index, F f) {
  stepEdges stepper(index);
  std::size_t wordBase = 0;
  for (std::size_t i = 0; i < g.terminalPairs.size(); ++i) {
    const myGraph::pathList& paths = g.terminalPairs[i].paths;
    for (std::size_t j = 0; j < paths.size(); ++j)
      f(i, j, static_cast<int>(wordBase + j / 64), stepper.of(paths, j), paths.edges(j));
    wordBase += (paths.size() + 63) / 64;
  }
}

}  // namespace

bool planLinks(myGraph& g, plan& out) {
  const edgeIndex index(g.nodeStart, g.adjacency);
  const std::size_t edges = index.size();
  constexpr std::uint64_t kSeed = 0x84222325cbf29ce4ull;
  std::vector<int> count(edges, 0), lastWord(edges, -1), words(edges, 0);
  std::vector<int> oneAt(edges, -1), oneWord(edges, -1), w0(edges, -1), w1(edges, -1);
  std::vector<std::uint64_t> hash(edges, kSeed);
  eachPath(g, index, [&](std::size_t i, std::size_t j, int w, const int* edge, std::size_t steps) {
    for (std::size_t k = 0; k < steps; ++k) {
      const int e = edge[k];
      const int c = count[e];
      if (c == 0) w0[e] = w;
      if (c == 1) w1[e] = w;
      if (steps == 1) {
        oneAt[e] = c;
        oneWord[e] = w;
      }
      hash[e] = mix(hash[e], i, j);
      if (lastWord[e] != w) {
        lastWord[e] = w;
        ++words[e];
      }
      count[e] = c + 1;
    }
  });

  // Records: the edges on some path, in edge order.
  out.recordOf.assign(edges, -1);
  std::vector<int> edgeOf;
  for (std::size_t e = 0; e < edges; ++e) {
    if (count[e] == 0) continue;
    out.recordOf[e] = static_cast<int>(edgeOf.size());
    edgeOf.push_back(static_cast<int>(e));
  }
  const int links = static_cast<int>(edgeOf.size());

  // Equal lists have equal counts and hashes: each record's candidate head
  // is the lowest record with its count and hash. Every candidate is then
  // checked: a record's paths must all hold its candidate's edge (equal
  // counts make the sets equal).
  std::vector<std::tuple<int, std::uint64_t, int>> byHash(links);
  for (int r = 0; r < links; ++r)
    byHash[r] = {count[edgeOf[r]], hash[edgeOf[r]], r};
  std::sort(byHash.begin(), byHash.end());
  std::vector<int> head(links);
  bool folds = false;
  for (std::size_t k = 0; k < byHash.size(); ++k) {
    const bool same = k > 0 && std::get<0>(byHash[k]) == std::get<0>(byHash[k - 1]) &&
                      std::get<1>(byHash[k]) == std::get<1>(byHash[k - 1]);
    head[std::get<2>(byHash[k])] = same ? head[std::get<2>(byHash[k - 1])] : std::get<2>(byHash[k]);
    folds = folds || same;
  }
  if (folds) {
    std::vector<int> seenOn(links, -1);  // the last path seen holding the record
    int serial = 0;
    bool equal = true;
    eachPath(g, index, [&](std::size_t, std::size_t, int, const int* edge, std::size_t steps) {
      for (std::size_t k = 0; k < steps; ++k)
        seenOn[out.recordOf[edge[k]]] = serial;
      for (std::size_t k = 0; k < steps; ++k) {
        const int r = out.recordOf[edge[k]];
        equal = equal && seenOn[head[r]] == serial;
      }
      ++serial;
    });
    if (!equal) return false;
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
    g.linkInfo[at + linkView::countAt] = head[r] == r ? count[e] : -1;
    g.linkInfo[at + linkView::lowAt] = index.lowEnd[e];
    g.linkInfo[at + linkView::highAt] = index.highEnd[e];
    g.linkOrder[r] = r;
    if (head[r] != r) g.linkProb[head[r]] = g.linkProb[head[r]] * g.linkProb[r];
  }
  g.linkStart[links] = linkView::ints(0) * static_cast<std::size_t>(links);
  if (links >= 1) g.sortLinks(g.linkOrder.data(), 0, links - 1);

  out.words.resize(links);
  out.oneEdgeAt.resize(links);
  out.oneEdgeWord.resize(links);
  out.firstWord.resize(links);
  out.secondWord.resize(links);
  for (int r = 0; r < links; ++r) {
    const int e = edgeOf[r];
    out.words[r] = words[e];
    out.oneEdgeAt[r] = oneAt[e];
    out.oneEdgeWord[r] = oneWord[e];
    out.firstWord[r] = w0[e];
    out.secondWord[r] = w1[e];
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
  mp.alive.assign(words, 0);
  for (std::size_t i = 0; i < pairs; ++i)
    for (std::size_t j = 0; j < g.terminalPairs[i].paths.size(); ++j)
      mp.alive[mp.wordStart[i] + j / 64] |= bits{1} << (j % 64);
  mp.probAt.resize(live);
  for (int q = 0; q < live; ++q)
    mp.probAt[q] = g.linkProb[g.linkOrder[q]];

  // Per position, one group per word its record has paths in: counted by
  // planLinks, so each position's groups go straight to their place.
  std::vector<int> posOfRecord(g.numLinks, -1);
  mp.groupStart.assign(live + 1, 0);
  for (int q = 0; q < live; ++q) {
    posOfRecord[g.linkOrder[q]] = q;
    mp.groupStart[q + 1] = mp.groupStart[q] + static_cast<std::size_t>(p.words[g.linkOrder[q]]);
  }
  std::vector<int> posOfEdge(p.recordOf.size(), -1);
  for (std::size_t e = 0; e < p.recordOf.size(); ++e)
    if (p.recordOf[e] >= 0) posOfEdge[e] = posOfRecord[p.recordOf[e]];
  mp.groups.resize(mp.groupStart[live]);
  std::vector<std::size_t> next(mp.groupStart.begin(), mp.groupStart.end() - 1);

  // The paths of one word at a time: per position, the word's paths on its
  // record, written out when the word is done, so each position's groups
  // come in word order.
  std::vector<bits> onRecord(live, 0);
  std::vector<int> touched;
  int word = -1, pairOfWord = -1;
  auto flush = [&] {
    for (int q : touched) {
      mp.groups[next[q]++] = {pairOfWord, word, onRecord[q], 0};
      onRecord[q] = 0;
    }
    touched.clear();
  };
  const edgeIndex index(g.nodeStart, g.adjacency);
  eachPath(g, index, [&](std::size_t i, std::size_t j, int w, const int* edge, std::size_t steps) {
    if (w != word) {
      flush();
      word = w;
      pairOfWord = static_cast<int>(i);
    }
    const bits bit = bits{1} << (j % 64);
    for (std::size_t k = 0; k < steps; ++k) {
      const int q = posOfEdge[edge[k]];
      if (q < 0) continue;  // folded: its head's groups hold the same paths
      if (onRecord[q] == 0) touched.push_back(q);
      onRecord[q] |= bit;
    }
  });
  flush();
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
    const int t = p.oneEdgeAt[r];
    if (t < 1) continue;
    const auto first = mp.groups.begin() + static_cast<std::ptrdiff_t>(mp.groupStart[q]);
    const auto end = mp.groups.begin() + static_cast<std::ptrdiff_t>(mp.groupStart[q + 1]);
    const auto one =
        std::find_if(first, end, [&](const masks::group& x) { return x.word == p.oneEdgeWord[r]; });
    DCR_CHECK(one != end && first->word == p.firstWord[r], "a one-edge path's word missing");
    std::rotate(first, one, one + 1);
    const bool firstWordSeenBefore = t >= 2 && p.secondWord[r] == p.firstWord[r];
    if (one != first && !firstWordSeenBefore) std::rotate(first + 1, first + 2, one + 1);
  }
  markDone(mp);
}

}  // namespace pathTables
