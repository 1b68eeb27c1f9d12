// The sweep on several threads, with the one-thread sweep's answer to the
// bit.
//
// A level's states are split by hash over shards, each shard a table of its
// own, owned by one worker (shard % workers). The parents are taken in
// slices; per slice:
//   1. expand (each worker): the workers take the slice's parents a chunk
//      at a time, in turn as each is free (so a worker the host slows down
//      takes fewer), make their children in parent order, each with its own
//      copy of the rules, and send each child to the worker that owns the
//      child's shard; a worker's chunks come in ascending order, so what it
//      sends stays in parent order;
//   2. insert (each worker): a worker merges what it was sent into parent
//      order and inserts it into its shards, so each shard sees its
//      children in parent order, and marks the branches that made a new
//      state;
//   3. number (the calling thread): a new state's number is the count of
//      marks before its branch, so a state gets its number the first time
//      it is met in parent order;
//   4. arrive (each worker, twice): each owner looks up the numbers of
//      the children it inserted and hands each, in parent order, to the
//      worker that adds the masses of its number's block (512 numbers);
//      each worker then hands the sink what it was given (Sink::arrive),
//      each owner's in parent order: a state's branches all come from its
//      one owner, so its masses add up in parent order, and no two workers
//      write the same lines of the masses. Then the calling thread hands
//      the sink the ends (accepted, rejected), merged into parent order.
// So the numbers, and the order in which the sink adds each state's masses
// and each end's, are those of the one-thread sweep, whatever the thread
// count: the results are the same bits. A state of the level is found
// through `where` (number -> shard and place), which the next level walks
// in number order. Which worker expands a parent changes nothing but who
// does the work: the children are merged into parent order all the same.
//
// Included by sweep.hpp, after the tables it uses.
#pragma once

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "frontier/pool.hpp"

namespace frontier {

namespace detail {
// Parents per slice: large enough that the three phases' barriers cost
// little, small enough that the slice's children, held until they are
// inserted, stay near the cache and add little to the peak (grid12 on two
// threads: 122 MB with 65,536, 97 with 16,384, in the same time). Tests
// make it small to run many slices on small levels.
inline std::size_t sliceParents = std::size_t{1} << 14;
// Levels of fewer parents are expanded by the calling thread alone (the
// threads' hand-offs would cost more than they save); tests set it low.
inline std::size_t shareFrom = 2048;
// Parents a worker takes at once in the expand phase: small enough that
// the workers end within a chunk's time of each other, large enough that
// taking one costs nothing against expanding it.
inline std::size_t chunkParents = 512;
// The masses of states numbered in one block of 2^blockBits numbers are
// all added by one worker (see the arrive phase).
inline int blockBits = 9;
// Tests make both small, so that the workers' chunks and blocks interleave
// even in small levels.

// Walks `lists` lists, each ascending by key, as one ascending list:
// visit(k, i) for item i of list k, `size(k)` items in list k, key(k, i)
// its key. `heads` is scratch.
template <class Size, class Key, class Visit>
void mergeWalk(std::vector<std::size_t>& heads, std::size_t lists, const Size& size, const Key& key,
               const Visit& visit) {
  heads.assign(lists, 0);
  for (;;) {
    std::size_t from = lists;
    std::uint32_t best = 0;
    for (std::size_t k = 0; k < lists; ++k)
      if (heads[k] < size(k) && (from == lists || key(k, heads[k]) < best)) {
        from = k;
        best = key(k, heads[k]);
      }
    if (from == lists) return;
    visit(from, heads[from]++);
  }
}
}  // namespace detail

template <class Table>
class ShardedLevel {
 public:
  // `owners`: the workers; shard s is worker s % owners's. The shards of
  // states of varying length keep them in one arena a worker (see
  // VarLevelTable).
  void reset(std::size_t shards, std::size_t owners, int widthBytes, std::size_t expected) {
    shards_.resize(shards);
    if constexpr (!std::is_same_v<Table, LevelTable>) {
      if (arenas_.size() != owners) {
        arenas_.clear();  // no table holds a state yet: pointers are set below
        arenas_.resize(owners);
      }
      for (ChunkArena& a : arenas_)
        a.clear();
    }
    for (std::size_t s = 0; s < shards; ++s) {
      Shard& sh = shards_[s];
      if constexpr (std::is_same_v<Table, LevelTable>) {
        sh.table.reset(widthBytes, expected / shards);
      } else {
        sh.table.shareArena(&arenas_[s % owners]);
        sh.table.reset(expected / shards);
      }
      sh.number.clear();
    }
    where_.clear();
    where_.reserve(expected);  // levels change width slowly: seldom a copy
  }
  std::size_t size() const { return where_.size(); }
  const std::uint64_t* state(std::size_t i) const { return tableOf(i).state(placeOf(i)); }
  // Ahead of state(i): its place in its shard (far ahead), then its words.
  void prefetchPlace(std::size_t i) const {
    if constexpr (!std::is_same_v<Table, LevelTable>) tableOf(i).prefetchPlace(placeOf(i));
  }
  void prefetchState(std::size_t i) const {
    if constexpr (!std::is_same_v<Table, LevelTable>) tableOf(i).prefetchState(placeOf(i));
  }
  Table& shard(std::size_t s) { return shards_[s].table; }
  // Numbers [size(), count) are about to be given (extend), each to one
  // state: by the workers that own the shards, each numbering its own
  // shards' new states in the order of their places (give), and by the
  // worker that adds the masses of that number, which records where the
  // state is, shard << 32 | place (locate).
  void extend(std::size_t count) { where_.resize(count); }
  void give(std::size_t s, std::uint32_t number) { shards_[s].number.push_back(number); }
  void locate(std::uint32_t number, std::uint64_t where) { where_[number] = where; }
  std::uint32_t numberOf(std::size_t s, std::uint32_t local) const {
    return shards_[s].number[local];
  }
  // States placed so far, numbered or not.
  std::size_t placedCount() const {
    std::size_t n = 0;
    for (const auto& sh : shards_)
      n += sh.table.size();
    return n;
  }
  std::size_t bytes() const {
    std::size_t b = where_.capacity() * 8;
    for (const ChunkArena& a : arenas_)
      b += a.bytes();
    for (const auto& sh : shards_)
      b += sh.table.bytes() + sh.number.capacity() * 4;
    return b;
  }
  void release() {
    for (auto& sh : shards_) {
      sh.table.release();
      std::vector<std::uint32_t>().swap(sh.number);
    }
    for (ChunkArena& a : arenas_)
      a.release();
    decltype(where_)().swap(where_);
  }
  void swap(ShardedLevel& other) {
    shards_.swap(other.shards_);
    arenas_.swap(other.arenas_);
    where_.swap(other.where_);
  }

 private:
  const Table& tableOf(std::size_t i) const { return shards_[where_[i] >> 32].table; }
  std::uint32_t placeOf(std::size_t i) const { return where_[i] & 0xFFFFFFFFu; }
  // Aligned: shards filled on different threads must not share a line.
  struct alignas(64) Shard {
    Table table;
    std::vector<std::uint32_t> number;  // place -> number
  };
  std::vector<Shard> shards_;
  std::vector<ChunkArena> arenas_;  // varying length: one a worker
  // number -> shard << 32 | place
  std::vector<std::uint64_t, UnsetLargeAllocator<std::uint64_t>> where_;
};

template <class Rules, class Sink>
Status sweepParallel(const Plan& plan, Rules& rules, Sink& sink, const Options& options,
                     Stats& stats, const LostTest& lost) {
  SweepMonitor<Sink> monitor(plan, sink, options, stats, lost);
  auto finish = [&](Status s) { return monitor.finish(s); };

  constexpr bool variable = isVariableWidth<Rules>;
  using Table = std::conditional_t<variable, VarLevelTable, LevelTable>;
  const std::size_t kSlice = std::max<std::size_t>(1, detail::sliceParents);

  // The workers' roles are fixed by the thread count; the threads that play
  // them, and the rules' copies they need, come with the first level wide
  // enough to share (a narrow level's roles are played one after another by
  // the caller with the one rules, with the same result: the rules carry
  // nothing from one parent to the next but caches).
  const std::size_t workers = static_cast<std::size_t>(std::max(1, options.threads));
  const std::size_t kShareFrom = detail::shareFrom;
  std::unique_ptr<PoolLease> pool;
  // Each copy is made by the thread that uses it, so that its buffers come
  // from that thread's heap and never share a cache line with what another
  // thread writes (made by the caller, two threads took a third more time to
  // expand eon19's parents than one).
  std::vector<std::unique_ptr<Rules>> copies;
  bool together = false;  // the roles of this phase run at once
  auto rulesOf = [&](std::size_t w) -> Rules& {
    return together && w > 0 ? *copies[w - 1] : rules;
  };
  auto each = [&](std::size_t parents, const std::function<void(int)>& role) {
    if (parents >= kShareFrom && !pool) {
      pool = std::make_unique<PoolLease>(static_cast<int>(workers));
      copies.resize(workers - 1);
      if (static_cast<std::size_t>((*pool)->size()) == workers)
        (*pool)->each([&](int w) {
          if (w > 0) copies[static_cast<std::size_t>(w) - 1] = std::make_unique<Rules>(rules);
        });
    }
    together = parents >= kShareFrom && static_cast<std::size_t>((*pool)->size()) == workers;
    if (together) {
      (*pool)->each(role);
    } else {
      for (std::size_t w = 0; w < workers; ++w)
        role(static_cast<int>(w));
    }
  };
  // A child's shard: the high half of a remix of its hash, scaled to the
  // shards; its owner: shard % workers. Many shards, not one a worker:
  // their small tables grow in turn rather than two large ones at once
  // (grid13 on two threads: 323 MB at peak against 363 with one a worker).
  const std::size_t shards = std::max<std::size_t>(64, 8 * workers);
  auto ownerOf = [workers](std::size_t shard) { return shard % workers; };
  auto shardOf = [shards](std::uint64_t h) {
    return static_cast<std::size_t>((((h * 0x9E3779B97F4A7C15ull) >> 32) * shards) >> 32);
  };

  // A child on its way to the worker that owns its shard: its branch
  // (2 * parent + works, parent counted in the slice), hash and words.
  struct Sent {
    std::uint64_t hash;
    std::uint32_t branch, start, words, from;
  };
  // A branch's arrival at its state, for the worker that adds the masses of
  // the state's number: the branch, the number, and (new states only, bit
  // 63 set) the state's shard << 32 | place.
  struct Arrival {
    std::uint32_t branch, code;
    std::uint64_t where;
  };
  // What one worker hands another in a slice: children (expand) and
  // arrivals (arrive). A box's ends move with every item: a line of its own.
  struct alignas(64) Box {
    std::vector<Sent> sent;
    std::vector<std::uint64_t, LargeAllocator<std::uint64_t>> words;  // megabytes a slice
    std::vector<Arrival> arrivals;
  };
  // The worker that adds the masses of state number `code`: blocks of
  // 2^blockBits numbers in turn, so that no two workers write the same
  // lines of the masses or of `where` (the numbers of one owner's states
  // interleave with the others', state by state).
  const int blockBits = detail::blockBits;
  auto adderOf = [workers, blockBits](std::uint32_t code) { return (code >> blockBits) % workers; };
  // Per worker, aligned so that no two workers' records share a line:
  //   expand: its copy of the rules, scratch, the branches of its own
  //     parents that ended (branch << 1 | accepted, in branch order), and
  //     one box per receiving worker;
  //   insert: per child it received (in branch order) its shard and place,
  //     and whether it was new (bit 63); and a bit per branch of the slice,
  //     set where it made a new state (its own words: marks in one shared
  //     array would have the workers write the same lines at once).
  struct alignas(64) Worker {
    std::vector<std::uint64_t> scratch;
    std::vector<std::uint32_t> ends;
    std::vector<Box> boxes;
    std::vector<std::uint64_t> placed;
    std::vector<std::size_t> heads;   // merge cursors, one per sender
    std::vector<const Sent*> order;   // what was sent here, in branch order
    std::vector<std::uint64_t> made;  // bit b: branch b made a new state
    int widest = 0;                   // widest child seen, bytes
  };
  std::vector<Worker> work(workers);
  const std::size_t kChunk = std::max<std::size_t>(1, detail::chunkParents);
  std::atomic<std::size_t> nextChunk{0};
  // Per branch of a slice that made a new state, its number.
  std::vector<std::uint32_t> numbers(2 * kSlice);
  for (auto& w : work)
    w.boxes.resize(workers);

  ShardedLevel<Table> cur, next;
  try {
    const int m = plan.levels();
    Outcome rootOutcome;
    std::vector<std::uint64_t>& rootBuffer = work[0].scratch;
    int width = 0;
    if constexpr (variable) {
      rootOutcome = plan.hopeless ? Outcome::kRejected : rules.root(rootBuffer);
    } else {
      width = rules.width(0);
      rootBuffer.assign((std::max(width, 1) + 7) / 8 + 1, 0);
      rootOutcome = plan.hopeless ? Outcome::kRejected
                                  : rules.root(reinterpret_cast<std::uint8_t*>(rootBuffer.data()));
    }
    if (rootOutcome != Outcome::kState) return monitor.rootDecided(rootOutcome);
    cur.reset(shards, workers, width, 0);
    bool fresh = false;
    if constexpr (variable)
      cur.shard(0).insert(rootBuffer.data(), rootBuffer.size(), fresh);
    else
      cur.shard(0).insert(rootBuffer.data(), fresh);
    cur.extend(1);
    cur.give(0, 0);
    cur.locate(0, 0);
    monitor.rootState();
    auto poll = [&](int level, std::uint64_t made, bool levelStart = false) {
      return monitor.poll(level, made, next.size(), levelStart);
    };

    for (int level = 0; level < m; ++level) {
      if (Status s = poll(level, stats.statesCreated, true); s != Status::kComplete)
        return finish(s);
      int nextWords = 0;
      if constexpr (!variable) {
        width = rules.width(level + 1);
        stats.stateBytes = std::max(stats.stateBytes, width);
        nextWords = width <= 0 ? 1 : (width + 7) / 8;
      }
      next.reset(shards, workers, width,
                 std::min<std::size_t>(cur.size(), options.memoryBytes / 128));
      sink.beginLevel(level, cur.size());
      std::size_t rulesBytes = 0;
      if constexpr (variable) {
        rulesBytes = rules.heldBytes();
        for (const auto& r : copies)
          if (r) rulesBytes += r->heldBytes();
      }
      const std::size_t parents = cur.size();
      for (std::size_t first = 0; first < parents; first += kSlice) {
        const std::size_t last = std::min(parents, first + kSlice);

        // 1. Expand: chunks of parents, to whichever worker is free.
        nextChunk.store(0, std::memory_order_relaxed);
        each(parents, [&](int wi) {
          const std::size_t me = static_cast<std::size_t>(wi);
          Worker& w = work[me];
          Rules& r = rulesOf(me);
          w.ends.clear();
          for (Box& b : w.boxes) {
            b.sent.clear();
            b.words.clear();
          }
          std::vector<std::uint64_t>& buffer = w.scratch;
          if constexpr (!variable) buffer.assign(nextWords, 0);
          for (;;) {
            const std::size_t from =
                first + kChunk * nextChunk.fetch_add(1, std::memory_order_relaxed);
            if (from >= last) break;
            const std::size_t to = std::min(last, from + kChunk);
            for (std::size_t g = from; g < to; ++g) {
              // The parents of a chunk lie in 64 shards' tables: too many
              // streams for the hardware to fetch ahead on its own.
              if (g + 8 < to) cur.prefetchPlace(g + 8);
              if (g + 2 < to) cur.prefetchState(g + 2);
              const std::uint64_t* parent = cur.state(g);
              for (int works = 0; works < 2; ++works) {
                Outcome o;
                if constexpr (variable) {
                  o = r.child(level, parent, works != 0, buffer);
                } else {
                  buffer.back() = 0;
                  o = r.child(level, reinterpret_cast<const std::uint8_t*>(parent), works != 0,
                              reinterpret_cast<std::uint8_t*>(buffer.data()));
                }
                const std::uint32_t branch = static_cast<std::uint32_t>(2 * (g - first) + works);
                if (o != Outcome::kState) {
                  w.ends.push_back(branch << 1 | (o == Outcome::kAccepted ? 1u : 0u));
                  continue;
                }
                const std::size_t n = buffer.size();
                const std::uint64_t h = Table::hashOf(buffer.data(), n);
                Box& box = w.boxes[ownerOf(shardOf(h))];
                box.sent.push_back({h, branch, static_cast<std::uint32_t>(box.words.size()),
                                    static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(me)});
                box.words.insert(box.words.end(), buffer.begin(), buffer.end());
                if constexpr (variable) w.widest = std::max(w.widest, static_cast<int>(n * 8));
              }
            }
          }
        });

        // 2. Insert: each worker what was sent to it, in branch order (the
        // senders' boxes merged), into its shards, marking the branches
        // that made a new state.
        const std::size_t madeWords = (2 * (last - first) + 63) / 64;
        each(parents, [&](int wi) {
          const std::size_t me = static_cast<std::size_t>(wi);
          Worker& w = work[me];
          w.placed.clear();
          w.made.assign(madeWords, 0);
          w.order.clear();
          detail::mergeWalk(
              w.heads, workers, [&](std::size_t k) { return work[k].boxes[me].sent.size(); },
              [&](std::size_t k, std::size_t i) { return work[k].boxes[me].sent[i].branch; },
              [&](std::size_t k, std::size_t i) { w.order.push_back(&work[k].boxes[me].sent[i]); });
          // The slots of a few children ahead are fetched while one is
          // inserted, so that their cache misses overlap.
          constexpr std::size_t kAhead = 8;
          for (std::size_t i = 0; i < std::min(kAhead, w.order.size()); ++i)
            next.shard(shardOf(w.order[i]->hash)).prefetch(w.order[i]->hash);
          for (std::size_t i = 0; i < w.order.size(); ++i) {
            if (i + kAhead < w.order.size()) {
              const Sent& ahead = *w.order[i + kAhead];
              next.shard(shardOf(ahead.hash)).prefetch(ahead.hash);
              // A child another worker made is in its cache, not ours.
              const std::uint64_t* words = work[ahead.from].boxes[me].words.data() + ahead.start;
              for (std::uint32_t k = 0; k < ahead.words; k += 8)
                __builtin_prefetch(words + k);
            }
            const Sent& c = *w.order[i];
            const Box& box = work[c.from].boxes[me];
            const std::size_t s = shardOf(c.hash);
            Table& table = next.shard(s);
            bool isNew = false;
            std::int32_t place;
            if constexpr (variable)
              place = table.insert(box.words.data() + c.start, c.words, c.hash, isNew);
            else
              place = table.insert(box.words.data() + c.start, c.hash, isNew);
            w.made[c.branch / 64] |= static_cast<std::uint64_t>(isNew) << (c.branch % 64);
            w.placed.push_back(static_cast<std::uint64_t>(isNew) << 63 |
                               static_cast<std::uint64_t>(s) << 32 |
                               static_cast<std::uint32_t>(place));
          }
        });

        // The bound, as the one-thread sweep counts it, with the slice's
        // boxes and the rules' copies on top.
        std::size_t staging = numbers.size() * 4;
        for (const Worker& w : work) {
          staging += w.ends.capacity() * 4 + w.placed.capacity() * 8 + w.order.capacity() * 8 +
                     w.made.capacity() * 8;
          for (const Box& b : w.boxes)
            staging += b.sent.capacity() * sizeof(Sent) + b.words.capacity() * 8 +
                       b.arrivals.capacity() * sizeof(Arrival);
          stats.stateBytes = std::max(stats.stateBytes, w.widest);
        }
        const std::size_t placed = next.placedCount();
        const std::size_t need = cur.bytes() + next.bytes() + sink.heldBytes() + rulesBytes +
                                 (cur.size() + placed) * sink.bytesPerState() + staging;
        if (need > options.memoryBytes || placed >= 0x7FFFFFF0u)
          return finish(Status::kMemoryLimit);
        stats.peakBytes = std::max(stats.peakBytes, need);

        // 3. Number: a new state's number is the count of new states
        // before it in branch order.
        std::size_t count = next.size();
        for (std::size_t k = 0; k < madeWords; ++k) {
          std::uint64_t bits = 0;
          for (const Worker& w : work)
            bits |= w.made[k];
          for (; bits != 0; bits &= bits - 1)
            numbers[64 * k + static_cast<std::size_t>(std::countr_zero(bits))] =
                static_cast<std::uint32_t>(count++);
        }
        next.extend(count);
        sink.reserveNext(count);

        // 4. Arrive: each owner numbers the children it inserted, in branch
        // order, and hands each to the worker that adds its state's
        // masses; that worker tells the sink of them, each owner's in
        // branch order, so a state's masses (all from one owner) add up in
        // parent order. The ends' sums follow, merged into branch order.
        each(parents, [&](int wi) {
          Worker& w = work[static_cast<std::size_t>(wi)];
          for (Box& b : w.boxes)
            b.arrivals.clear();
          for (std::size_t i = 0; i < w.order.size(); ++i) {
            const std::uint32_t branch = w.order[i]->branch;
            const std::uint64_t at = w.placed[i];
            const std::size_t s = (at >> 32) & 0x7FFFFFFF;
            const auto local = static_cast<std::uint32_t>(at);
            std::uint32_t code;
            if ((at >> 63) != 0) {
              code = numbers[branch];
              next.give(s, code);
            } else {
              code = next.numberOf(s, local);
            }
            w.boxes[adderOf(code)].arrivals.push_back({branch, code, at});
          }
        });
        each(parents, [&](int wi) {
          const std::size_t me = static_cast<std::size_t>(wi);
          for (const Worker& from : work)
            for (const Arrival& a : from.boxes[me].arrivals) {
              const bool isNew = (a.where >> 63) != 0;
              if (isNew) next.locate(a.code, a.where & ~(std::uint64_t{1} << 63));
              sink.arrive(first + a.branch / 2, (a.branch & 1) != 0,
                          static_cast<std::int32_t>(a.code), isNew);
            }
        });
        detail::mergeWalk(
            work[0].heads,  // free again after the insert
            workers, [&](std::size_t k) { return work[k].ends.size(); },
            [&](std::size_t k, std::size_t i) { return work[k].ends[i]; },
            [&](std::size_t k, std::size_t i) {
              const std::uint32_t end = work[k].ends[i];
              sink.add(first + (end >> 2), (end >> 1 & 1) != 0, (end & 1) != 0 ? kAccept : kReject);
            });
        if (Status st = poll(level, stats.statesCreated + next.size()); st != Status::kComplete)
          return finish(st);
      }
      monitor.endLevel(level, next.size());
      cur.swap(next);
    }
    if (cur.size() != 0) return finish(Status::kInvalidInput);  // the rules left states open
    return finish(Status::kComplete);
  } catch (const std::bad_alloc&) {
    cur.release();
    next.release();
    return finish(Status::kMemoryLimit);
  }
}

}  // namespace frontier
