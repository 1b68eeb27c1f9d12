// The factoring search on bit sets of alive paths.
//
// A pair's alive paths are a bit set (64 paths a word), and its path-state
// counters are replaced by what they decide:
//
//   - A path's edges-left counter reaches 0 exactly when the last of its
//     records works with none failed. Records are decided in linkOrder, so
//     the works branch at position q completes exactly the alive paths whose
//     last record stands at q (doneBy); any other complete alive path would
//     have joined its pair before. A pair joins exactly when one of those is
//     alive.
//   - The fails branch kills the record's alive paths of each unjoined pair
//     it touches; the pair is lost when its last alive path dies.
//
// Within one step the order in which pairs are visited does not change
// whether the branch ends, nor the state the next step sees, so the steps,
// the leaves, their probabilities and their order are those of the table
// search. Three forms, each a state under the one factoring loop
// (reliability/factor_skeleton.hpp); myGraph::chooseSearchForm picks one:
//
//   searchOnePair     one pair of at most 64 paths: the alive word lives in
//                     each frame (reliability/one_pair_search.hpp); with
//                     AVX2 it walks the subtree below an idle record once
//                     for both branches;
//   searchSnapshots   at most 64 alive words: up to 16 of them live in the
//                     state and each frame keeps a copy; beyond, each step's
//                     alive words are a slot of the search's words, and a
//                     fails branch writes its cut copy into a fresh slot
//                     (reliability/snapshot_search.hpp); 256-bit word
//                     operations where the CPU has them; the held state
//                     also walks idle records' subtrees once for both;
//   searchTrailed     anything else: one working set of words with an undo
//                     trail; the joined pairs are one word kept per step up
//                     to 64 pairs, flags with their own undo trail beyond.
#include "reliability/mask_search.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <new>

#include "graph/large_pages.hpp"
#include "reliability/checks.hpp"
#include "reliability/lane_store.hpp"
#include "reliability/my_graph.hpp"
#include "reliability/one_pair_search.hpp"
#include "reliability/path_tables.hpp"
#include "reliability/snapshot_search.hpp"
#include "reliability/snapshot_tables.hpp"

namespace {

// What decides which forms can take a problem.
struct formFacts {
  bool trailed = false;    // no live record passed over, and beyond 64 pairs
                           // every pair with a path
  bool masks = false;      // trailed, and at most 64 pairs
  bool snapshots = false;  // masks, and at most 64 alive words, every pair
                           // with a path, a live record, tables of modest size
  bool onePair = false;    // snapshots, and one pair of at most 64 paths
};

}  // namespace

// The one place where a form is chosen: the fastest form that can take the
// problem, or the form asked for when it can take it.
myGraph::searchForm myGraph::chooseSearchForm() const {
  DCR_CHECK(reached == stage::linksPrepared, "the search before its tables");
  formFacts can;
  const std::size_t pairs = terminalPairs.size();
  int live = 0;
  bool skipped = false;  // a record the search would pass over
  for (int q = 0; q < numLinks; ++q) {
    const int e = linkOrder[q];
    if (link(e).folded()) continue;
    if (linkProb[e] == -1.0 || live != q) skipped = true;
    ++live;
  }
  std::size_t words = 0;
  bool pathless = false;
  for (const pathsBetween2Terminals& pair : terminalPairs) {
    words += (pair.paths.size() + 63) / 64;
    pathless = pathless || pair.paths.empty();
  }
  // Beyond 64 pairs a pair without paths answers at the root, where the
  // table form's step is all there is: no tables for thousands of pairs.
  can.trailed = !skipped && (pairs <= 64 || !pathless);
  can.masks = can.trailed && pairs <= 64;
  // The snapshot form's tables take about three words per position and
  // alive word: kept within a few tens of megabytes.
  can.snapshots = can.masks && live > 0 && !pathless && words <= 64 &&
                  (static_cast<std::size_t>(live) + 1) * words <= std::size_t{1} << 21;
  can.onePair = can.snapshots && pairs == 1 && words == 1;

  const searchForm best = can.onePair     ? searchForm::onePair
                          : can.snapshots ? searchForm::snapshotMasks
                          : can.trailed   ? searchForm::trailedMasks
                                          : searchForm::table;
  switch (search) {
    case searchForm::table:
      return searchForm::table;
    case searchForm::trailedMasks:
      return can.trailed ? search : best;
    case searchForm::snapshotMasks:
    case searchForm::plainSnapshotMasks:
      return can.snapshots ? search : best;
    case searchForm::onePair:
      return can.onePair ? search : best;
    case searchForm::chosen:
      break;
  }
  return best;
}

// The mask search's tables from the link records (the memberships of each
// position's record, in stored order).
void myGraph::buildMasksFromRecords(masks::problem& mp) const {
  using masks::bits;
  mp.pairs = terminalPairs.size();
  for (int q = 0; q < numLinks && !link(linkOrder[q]).folded(); ++q)
    ++mp.live;
  const int live = mp.live;
  const std::size_t pairs = mp.pairs;

  mp.wordStart.assign(pairs + 1, 0);
  for (std::size_t i = 0; i < pairs; ++i)
    mp.wordStart[i + 1] = mp.wordStart[i] + (terminalPairs[i].paths.size() + 63) / 64;
  const std::size_t words = mp.wordStart[pairs];
  mp.alive.assign(words, 0);
  for (std::size_t i = 0; i < pairs; ++i)
    for (std::size_t j = 0; j < terminalPairs[i].paths.size(); ++j)
      mp.alive[mp.wordStart[i] + j / 64] |= bits{1} << (j % 64);

  // Per position, one group per alive word the record has paths in.
  mp.groupStart.assign(live + 1, 0);
  // At most one group per membership and per alive word at each position:
  // reserved once, so the groups are never copied as they grow (reserved
  // pages that are never written cost nothing).
  std::size_t most = 0;
  for (int q = 0; q < live; ++q)
    most += std::min<std::size_t>(link(linkOrder[q]).count(), words);
  try {
    largePages::reserveAdvised(mp.groups, most);
  } catch (const std::bad_alloc&) {
    // The bound can run past the groups made (up to 64 to a word's one);
    // under a tight address-space limit the groups grow as they come.
  }
  std::vector<int> groupOfWord(words, -1);
  for (int q = 0; q < live; ++q) {
    mp.groupStart[q] = mp.groups.size();
    const linkView rec = link(linkOrder[q]);
    for (int k = 0; k < rec.count(); ++k) {
      const int pair = rec.pair(k), path = rec.path(k);
      const int word = static_cast<int>(mp.wordStart[pair]) + path / 64;
      if (groupOfWord[word] < 0) {
        groupOfWord[word] = static_cast<int>(mp.groups.size());
        mp.groups.push_back({pair, word, 0, 0});
      }
      mp.groups[groupOfWord[word]].onRecord |= bits{1} << (path % 64);
    }
    for (std::size_t g = mp.groupStart[q]; g < mp.groups.size(); ++g)
      groupOfWord[mp.groups[g].word] = -1;
  }
  mp.groupStart[live] = mp.groups.size();
  mp.probAt.resize(live);
  for (int q = 0; q < live; ++q)
    mp.probAt[q] = linkProb[linkOrder[q]];
  pathTables::markDone(mp);
}

// Runs one of the mask forms, which chooseSearchForm found able to take the
// problem, on `built` tables, or on tables built here from the link records
// when it is null.
void myGraph::factorByMasks(searchForm form, masks::problem* built) {
  using masks::bits;
  masks::problem own;
  masks::problem& mp = built ? *built : own;
  if (!built) buildMasksFromRecords(mp);
  DCR_CHECK(mp.pairs <= 64 || form == searchForm::trailedMasks,
            "a word of pairs, more than 64 pairs");

  masks::totals t{reliability, upperBound};
  t.watcher = searchWatch;
  switch (form) {
    case searchForm::onePair:
      masks::searchOnePair(mp, threshold, t, true);
      break;
    case searchForm::snapshotMasks:
    case searchForm::plainSnapshotMasks:
      masks::searchSnapshots(mp, threshold, t, form == searchForm::snapshotMasks);
      break;
    default:
      masks::searchTrailed(mp, threshold, t);
      break;
  }
  keepTotals(t);
}

namespace masks {
namespace {

// Any number of words: one working set of alive words with an undo trail.
// A joined pair's alive words are never read again; the works branch may
// test them, which changes nothing.
//
// Undo trail: (word, old value), or (-1 - pair, 0) for a word of the pair
// that emptied. Along one branch every entry kills at least one path, so
// the trail never holds more entries than there are paths.
struct change {
  int what;
  bits old;
};

// The joined pairs, up to 64: one word, kept whole in each mark, so a join
// needs no trail entry; a position whose pairs are all joined is skipped.
class wordJoined {
 public:
  using saved = bits;
  explicit wordJoined(bits every) : every_(every) {}
  bool has(int pair) const { return (set_ >> pair & 1) != 0; }
  void join(int pair, bool now) { set_ |= static_cast<bits>(now) << pair; }
  bool all() const { return set_ == every_; }
  bool someOpen(bits pairs) const { return (pairs & ~set_) != 0; }
  saved save() const { return set_; }
  void restore(saved s) { set_ = s; }

 private:
  bits set_ = 0, every_;
};

// Any number of pairs: a flag each, and a trail of the pairs joined along
// the branch (at most every pair once), whose height a mark keeps.
class flagJoined {
 public:
  using saved = std::size_t;
  flagJoined(std::uint8_t* flags, int* trail, std::size_t pairs)
      : flag_(flags), trail_(trail), pairs_(pairs) {}
  bool has(int pair) const { return flag_[pair] != 0; }
  void join(int pair, bool now) {
    if (!now || flag_[pair] != 0) return;
    flag_[pair] = 1;
    trail_[top_++] = pair;
  }
  bool all() const { return top_ == pairs_; }
  bool someOpen(bits) const { return true; }
  saved save() const { return top_; }
  void restore(saved s) {
    while (top_ > s)
      flag_[trail_[--top_]] = 0;
  }

 private:
  std::uint8_t* flag_;
  int* trail_;
  std::size_t pairs_, top_ = 0;
};

struct trailedTables {
  const group* groups;  // per position, as in the problem
  const std::size_t* groupStart;
  const group* joins;  // per position, the groups where some path completes
  const std::size_t* joinStart;
  const bits* joinPairs;  // per position, the pairs of its join groups (up to 64 pairs)
  const bits* failPairs;  // per position, the pairs of its groups (likewise)
  const double* probAt;
  int live;
};

template <class Joined>
class trailedState {
 public:
  struct mark {
    int pos;
    typename Joined::saved joined;
    std::size_t height;  // trail height when the step began
  };
  trailedState(const trailedTables& tables, Joined joined, bits* alive, int* nonEmpty,
               change* trail, [[maybe_unused]] std::size_t trailRoom)
      : t_(tables),
        J_(joined),
        A_(alive),
        NE_(nonEmpty),
        trail_(trail)
#if DCR_CHECKS
        ,
        trailRoom_(trailRoom)
#endif
  {
  }

  bool choose() const {
    return pos_ != t_.live;
  }
  double prob() const {
    return t_.probAt[pos_];
  }
  mark push() const {
    return {pos_, J_.save(), top_};
  }

  bool works() {
    if (J_.someOpen(t_.joinPairs[pos_])) {
      for (std::size_t k = t_.joinStart[pos_]; k < t_.joinStart[pos_ + 1]; ++k) {
        const group& g = t_.joins[k];
        J_.join(g.pair, (A_[g.word] & g.doneBy) != 0);
      }
    }
    if (J_.all()) return true;
    ++pos_;
    return false;
  }

  void resume(const mark& m) {
    DCR_CHECK(m.height <= top_, "a pending step's trail height above the trail");
    while (top_ > m.height) {
      const change& c = trail_[--top_];
      if (c.what >= 0)
        A_[c.what] = c.old;
      else
        ++NE_[-1 - c.what];
    }
    pos_ = m.pos;
    J_.restore(m.joined);
  }

  bool fails() {
    const std::size_t first = t_.groupStart[pos_];
    const std::size_t end = J_.someOpen(t_.failPairs[pos_]) ? t_.groupStart[pos_ + 1] : first;
    for (std::size_t k = first; k < end; ++k) {
      const group& g = t_.groups[k];
      const bits a = A_[g.word];
      if (J_.has(g.pair) || (a & g.onRecord) == 0) continue;
      save({g.word, a});
      A_[g.word] = a & ~g.onRecord;
      if (A_[g.word] != 0) continue;
      // The pair's last non-empty word: the branch ends here, so the count
      // need not change.
      if (NE_[g.pair] == 1) return true;
      save({-1 - g.pair, 0});
      --NE_[g.pair];
    }
    ++pos_;
    return false;
  }

 private:
  void save(change c) {
    DCR_CHECK(top_ < trailRoom_, "trail longer than its bound");
    trail_[top_++] = c;
  }

  trailedTables t_;
  Joined J_;
  bits* A_;
  int* NE_;
  change* trail_;
#if DCR_CHECKS
  std::size_t trailRoom_;
#endif
  std::size_t top_ = 0;
  int pos_ = 0;
};

// Word operations one word at a time, for any CPU.
struct plainKit {
  static constexpr std::size_t lanes = snapshotLanes;
  struct pack {
    bits w[snapshotLanes];
  };
  static pack load(const bits* p) { return {{p[0], p[1], p[2], p[3]}}; }
  static pack both(pack a, pack b) {
    return {{a.w[0] & b.w[0], a.w[1] & b.w[1], a.w[2] & b.w[2], a.w[3] & b.w[3]}};
  }
  static pack butNot(pack a, pack b) {
    return {{a.w[0] & ~b.w[0], a.w[1] & ~b.w[1], a.w[2] & ~b.w[2], a.w[3] & ~b.w[3]}};
  }
  static bits zeros(pack a) {
    bits z = 0;
    for (std::size_t i = 0; i < snapshotLanes; ++i)
      z |= static_cast<bits>(a.w[i] == 0) << i;
    return z;
  }
  static bits joins(const bits* s, const bits* d, std::size_t W) {
    bits some = 0;
    for (std::size_t i = 0; i < W; ++i)
      some |= static_cast<bits>((s[i] & d[i]) != 0) << i;
    return some;
  }
  static bits cut(const bits* from, const bits* keep, bits* to, std::size_t W) {
    bits empty = 0;
    for (std::size_t i = 0; i < W; ++i) {
      to[i] = from[i] & keep[i];
      empty |= static_cast<bits>(to[i] == 0) << i;
    }
    return empty;
  }
};

}  // namespace

void searchOnePair(const problem& mp, double cutOff, totals& t, bool wide) {
  const int live = mp.live;
  std::vector<pairRow> rows(live);
  for (int q = 0; q < live; ++q) {
    const group& g = mp.groups[mp.groupStart[q]];
    rows[q] = {~g.onRecord, g.doneBy, mp.probAt[q]};
  }
  struct alignas(64) frameBlock {
    unsigned char bytes[onePairFrameBytes];
  };
  std::vector<frameBlock> frames(static_cast<std::size_t>(live) + 1);
#if DCR_AVX2_SEARCH
  if (wide && __builtin_cpu_supports("avx2")) {
    const search::laneMemory lanes(live);
    searchOnePairAvx2(rows.data(), live, mp.alive[0], cutOff, t, frames.data(), lanes.store());
    return;
  }
#endif
  (void)wide;
  onePairSearch<false>(rows.data(), live, mp.alive[0], cutOff, t, frames.data(), {});
}

void searchTrailed(const problem& mp, double cutOff, totals& t) {
  const int live = mp.live;
  const std::size_t pairs = mp.pairs;
  std::vector<bits> alive = mp.alive;
  std::vector<int> nonEmpty(pairs);
  for (std::size_t i = 0; i < pairs; ++i)
    nonEmpty[i] = static_cast<int>(mp.wordStart[i + 1] - mp.wordStart[i]);
  // The works branch needs only the words where some path completes.
  // Counted first, so that they fill their room once, on big pages.
  std::size_t joinCount = 0;
  for (const group& g : mp.groups)
    joinCount += g.doneBy != 0;
  std::vector<group, largePages::allocator<group>> joins;
  joins.reserve(joinCount);
  std::vector<std::size_t> joinStart(live + 1, 0);
  for (int q = 0; q < live; ++q) {
    joinStart[q] = joins.size();
    for (std::size_t g = mp.groupStart[q]; g < mp.groupStart[q + 1]; ++g)
      if (mp.groups[g].doneBy != 0) joins.push_back(mp.groups[g]);
  }
  joinStart[live] = joins.size();
  // Per position, the pairs its join groups and its groups touch: a step
  // whose pairs are all joined has nothing to walk (up to 64 pairs).
  const bool word = pairs <= 64;
  std::vector<bits> joinPairs(live, 0), failPairs(live, 0);
  for (int q = 0; q < live && word; ++q) {
    for (std::size_t k = joinStart[q]; k < joinStart[q + 1]; ++k)
      joinPairs[q] |= bits{1} << joins[k].pair;
    for (std::size_t k = mp.groupStart[q]; k < mp.groupStart[q + 1]; ++k)
      failPairs[q] |= bits{1} << mp.groups[k].pair;
  }
  std::size_t paths = 0;
  for (bits a : alive)
    paths += static_cast<std::size_t>(std::popcount(a));
  // Big and touched only as deep as a branch goes: on big pages, untouched
  // until then.
  const std::size_t trailRoom = 2 * paths + 1;
  const largePages::block<change> trail(trailRoom);
  const trailedTables tables{
      mp.groups.data(), mp.groupStart.data(), joins.data(),     joinStart.data(),
      joinPairs.data(), failPairs.data(),     mp.probAt.data(), live};
  const long long room = static_cast<long long>(live) + 1;
  if (word) {
    std::vector<search::frame<trailedState<wordJoined>::mark>> frames(room);
    search::factor(trailedState<wordJoined>(tables, wordJoined(mp.everyPair()), alive.data(),
                                            nonEmpty.data(), trail.get(), trailRoom),
                   cutOff, t, frames.data(), room);
    return;
  }
  std::vector<std::uint8_t> flags(pairs, 0);
  std::vector<int> joinTrail(pairs);
  std::vector<search::frame<trailedState<flagJoined>::mark>> frames(room);
  search::factor(trailedState<flagJoined>(tables, flagJoined(flags.data(), joinTrail.data(), pairs),
                                          alive.data(), nonEmpty.data(), trail.get(), trailRoom),
                 cutOff, t, frames.data(), room);
}

void searchSnapshots(const problem& mp, double cutOff, totals& t, bool wide) {
  snapshotTables tables(mp);
#if DCR_AVX2_SEARCH
  if (wide && __builtin_cpu_supports("avx2")) return searchSnapshotsAvx2(tables.view, cutOff, t);
#endif
  (void)wide;
  snapshotSearchSized<plainKit>(tables.view, cutOff, t);
}

}  // namespace masks
