// The sweep over ranks (exchange.hpp), with the one-process answer to the
// bit.
//
// Every state of a level lives on one rank, its owner, picked by its hash,
// and every rank numbers the states of a level as the one-process sweep
// does (first appearance in parent order), keeping only its own: local
// number i is the i-th own state, its global number global[i]. The parents
// are taken in slices of global numbers; per slice, every rank in step:
//   1. expand: a rank makes the children of its own parents in the slice,
//      in parent order, and for each the mass it carries (Sink::share);
//      children go to their owners, ends (accept, reject) to rank 0;
//   2. exchange: one all-to-all;
//   3. insert: a rank merges what it got into branch order and inserts it;
//      a child's masses arrive in branch order (Sink::addLocal), as in the
//      one-process sweep. A new state's local number is its place in the
//      rank's table, which grows in branch order, so local order is global
//      order;
//   4. number: each rank marks the branches that made a new state of its
//      own; the marks summed over the ranks give every new state its global
//      number (the new states before it, in branch order);
//   5. ends: rank 0 merges the ranks' ends into branch order and adds them
//      (Sink::addEnd), again as the one-process sweep does;
//   6. poll: the ranks' memory flags go to all; rank 0 polls (decide, lost
//      race, clock, cancel, progress) and tells every rank how to go on.
// Stopped, or done, rank 0's sums go to every rank, so every rank returns
// the same result. A rank out of memory still takes part in every step of
// the slice, with nothing to send, so no rank waits forever.
//
// Included by sweep.hpp, after the tables it uses.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "frontier/exchange.hpp"

namespace frontier {

// Whether a sink can run distributed: see IntervalSink in solve.cpp. A
// branch's mass (Payload) crosses as bytes: put appends them, take reads
// them back from where put began, and bytesAt says how many put wrote
// there.
template <class Sink>
constexpr bool isDistributable = requires(Sink& s, const Sink& c, std::vector<std::uint8_t>& b) {
  typename Sink::Payload;
  c.share(std::size_t{}, bool{});
  s.addLocal(std::int32_t{}, c.share(std::size_t{}, bool{}));
  s.dropRoot();
  s.addEnd(c.share(std::size_t{}, bool{}), bool{});
  Sink::put(b, c.share(std::size_t{}, bool{}));
  Sink::take(b.data());
  Sink::bytesAt(b.data());
  c.sums();
  s.setSums(c.sums());
};

namespace detail {

// Parents per slice over all ranks: the slice's children are held twice
// on the way (sent and received), so smaller slices than one process's
// keep a rank's share of memory near 1 / ranks. Tests make it small.
inline std::size_t rankSliceParents = std::size_t{1} << 14;

// Appends the bytes of a trivially copyable value.
template <class T>
void put(std::vector<std::uint8_t>& out, const T& value) {
  static_assert(std::is_trivially_copyable_v<T>);
  const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
  out.insert(out.end(), p, p + sizeof(T));
}
template <class T>
T take(const std::uint8_t* at) {
  T value;
  std::memcpy(&value, at, sizeof(T));
  return value;
}

}  // namespace detail

template <class Rules, class Sink>
Status sweepDistributed(const Plan& plan, Rules& rules, Sink& sink, const Options& options,
                        Stats& stats, const LostTest& lost) {
  if constexpr (!isDistributable<Sink>) {
    return Status::kUnsupported;
  } else {
    using Payload = typename Sink::Payload;
    Exchange& ex = *options.exchange;
    const int me = ex.rank(), ranks = ex.size();
    SweepMonitor<Sink> monitor(plan, sink, options, stats, lost);
    constexpr bool variable = isVariableWidth<Rules>;
    using Table = std::conditional_t<variable, VarLevelTable, LevelTable>;
    auto ownerOf = [ranks](std::uint64_t h) {
      return static_cast<int>(((h * 0x9E3779B97F4A7C15ull) >> 32) % static_cast<unsigned>(ranks));
    };
    // A child on the wire: its branch in the slice and its length in
    // words; its mass follows, zero-padded to whole words, then its words.
    struct Head {
      std::uint32_t branch, words;
    };
    // An end on its way to rank 0: its global branch, whether accepted; its
    // mass follows, padded.
    struct End {
      std::uint64_t branch;
      std::uint64_t accept;
    };
    auto putMass = [](std::vector<std::uint8_t>& out, const Payload& mass) {
      Sink::put(out, mass);
      out.resize((out.size() + 7) / 8 * 8, 0);
    };
    auto massBytes = [](const std::uint8_t* at) { return (Sink::bytesAt(at) + 7) / 8 * 8; };

    // Rank 0's sums to every rank; then the status, stamped.
    auto finish = [&](Status s) {
      std::vector<std::uint8_t> bytes;
      if (me == 0) bytes = sink.sums();
      ex.broadcast(bytes);
      sink.setSums(bytes);
      std::vector<std::uint64_t> peak{stats.peakBytes};
      ex.max(peak);
      stats.peakBytes = peak[0];
      return monitor.finish(s);
    };

    Table cur, next;
    std::vector<std::uint32_t> global, nextGlobal;  // local number -> global number
    std::vector<std::uint64_t> buffer;
    std::vector<std::vector<std::uint8_t>> send(ranks);
    std::vector<std::uint8_t> recv;
    std::vector<std::size_t> recvAt;
    std::vector<std::uint8_t> ends;
    std::vector<std::vector<std::uint8_t>> allEnds;
    std::vector<std::uint64_t> marks;
    std::vector<std::uint32_t> freshBranches;  // the slice's own new states, in order
    // Per branch of the slice, where its child (or end) lies in what came.
    std::vector<std::uint64_t> byBranch;
    constexpr std::uint64_t kNoChild = ~std::uint64_t{0}, kLow40 = (std::uint64_t{1} << 40) - 1;
    bool outOfMemory = false;

    // Root: every rank makes it, its owner keeps it.
    const int m = plan.levels();
    Outcome rootOutcome;
    int width = 0;
    if constexpr (variable) {
      cur.reset();
      rootOutcome = plan.hopeless ? Outcome::kRejected : rules.root(buffer);
    } else {
      width = rules.width(0);
      cur.reset(width);
      buffer.assign(cur.words() + 1, 0);
      rootOutcome = plan.hopeless ? Outcome::kRejected
                                  : rules.root(reinterpret_cast<std::uint8_t*>(buffer.data()));
    }
    if (rootOutcome != Outcome::kState) return monitor.rootDecided(rootOutcome);
    {
      std::size_t words = buffer.size();
      if constexpr (!variable) words = static_cast<std::size_t>(cur.words());
      const std::uint64_t h = Table::hashOf(buffer.data(), words);
      monitor.rootState();
      if (ownerOf(h) == me) {
        bool fresh = false;
        if constexpr (variable)
          cur.insert(buffer.data(), words, h, fresh);
        else
          cur.insert(buffer.data(), h, fresh);
        global.push_back(0);
      } else {
        sink.dropRoot();
      }
    }
    std::uint64_t levelSize = 1;  // states of the current level, over all ranks

    const std::size_t kSlice = std::max<std::size_t>(1, detail::rankSliceParents);
    for (int level = 0; level < m; ++level) {
      // Level start: rank 0 polls, every rank follows.
      {
        std::vector<std::uint8_t> verdict(1, 0);
        if (me == 0)
          verdict[0] = static_cast<std::uint8_t>(monitor.poll(level, stats.statesCreated, 0, true));
        ex.broadcast(verdict);
        if (static_cast<Status>(verdict[0]) != Status::kComplete)
          return finish(static_cast<Status>(verdict[0]));
      }
      int nextWords = 0;
      if constexpr (!variable) {
        width = rules.width(level + 1);
        stats.stateBytes = std::max(stats.stateBytes, width);
        nextWords = width <= 0 ? 1 : (width + 7) / 8;
      }
      const std::size_t expected = std::min<std::size_t>(cur.size(), options.memoryBytes / 128);
      try {
        if constexpr (variable)
          next.reset(expected);
        else
          next.reset(width, expected);
        nextGlobal.clear();
        sink.beginLevel(level, cur.size());
      } catch (const std::bad_alloc&) {
        outOfMemory = true;  // told to all at the slice's end
      }
      std::uint64_t nextSize = 0;  // over all ranks
      std::size_t mine = 0;        // own parents taken so far
      for (std::uint64_t first = 0; first < levelSize; first += kSlice) {
        const std::uint64_t last = std::min<std::uint64_t>(levelSize, first + kSlice);
        for (auto& s : send)
          s.clear();
        ends.clear();
        // 1. Expand the own parents of the slice.
        if (!outOfMemory) try {
            for (; mine < cur.size() && global[mine] < last; ++mine) {
              const std::uint64_t g = global[mine];
              for (int works = 0; works < 2; ++works) {
                Outcome o;
                if constexpr (variable) {
                  o = rules.child(level, cur.state(mine), works != 0, buffer);
                } else {
                  buffer.resize(nextWords);
                  buffer.back() = 0;  // the bytes past the width stay zero
                  o = rules.child(level, reinterpret_cast<const std::uint8_t*>(cur.state(mine)),
                                  works != 0, reinterpret_cast<std::uint8_t*>(buffer.data()));
                }
                const Payload& mass = sink.share(mine, works != 0);
                if (o != Outcome::kState) {
                  detail::put(ends, End{2 * g + works, o == Outcome::kAccepted});
                  putMass(ends, mass);
                  continue;
                }
                const std::uint64_t h = Table::hashOf(buffer.data(), buffer.size());
                auto& out = send[ownerOf(h)];
                detail::put(out, Head{static_cast<std::uint32_t>(2 * (g - first) + works),
                                      static_cast<std::uint32_t>(buffer.size())});
                putMass(out, mass);
                const auto* w = reinterpret_cast<const std::uint8_t*>(buffer.data());
                out.insert(out.end(), w, w + buffer.size() * 8);
                if constexpr (variable)
                  stats.stateBytes =
                      std::max(stats.stateBytes, static_cast<int>(buffer.size() * 8));
              }
            }
          } catch (const std::bad_alloc&) {
            outOfMemory = true;
          }
        if (outOfMemory) {
          for (auto& s : send)
            s.clear();
          ends.clear();
        }
        // 2. Exchange.
        ex.allToAll(send, recv, recvAt);
        // 3. Insert in branch order; mark the new states.
        const std::uint64_t branches = 2 * (last - first);
        marks.assign((branches + 63) / 64, 0);
        freshBranches.clear();
        if (!outOfMemory) try {
            // Branch order: a branch comes from one rank only, so a table
            // by branch puts the children in order whatever the ranks.
            byBranch.assign(branches, kNoChild);
            for (std::size_t at = 0; at < recv.size();) {
              const Head head = detail::take<Head>(recv.data() + at);
              byBranch[head.branch] = at;
              at += sizeof(Head) + massBytes(recv.data() + at + sizeof(Head)) +
                    head.words * std::size_t{8};
            }
            for (std::size_t at : byBranch) {
              if (at == kNoChild) continue;
              const std::uint8_t* at0 = recv.data() + at;
              const Head head = detail::take<Head>(at0);
              const std::uint8_t* massAt = at0 + sizeof(Head);
              buffer.resize(head.words);
              std::memcpy(buffer.data(), massAt + massBytes(massAt), head.words * std::size_t{8});
              const std::uint64_t h = Table::hashOf(buffer.data(), head.words);
              bool fresh = false;
              std::int32_t place;
              if constexpr (variable)
                place = next.insert(buffer.data(), head.words, h, fresh);
              else
                place = next.insert(buffer.data(), h, fresh);
              if (fresh) {
                marks[head.branch / 64] |= std::uint64_t{1} << (head.branch % 64);
                freshBranches.push_back(head.branch);
              }
              if constexpr (requires { sink.addLocalFrom(place, massAt); })
                sink.addLocalFrom(place, massAt);
              else
                sink.addLocal(place, Sink::take(massAt));
            }
          } catch (const std::bad_alloc&) {
            outOfMemory = true;
          }
        // 4. Global numbers of the new states. Each new state is marked by
        // its owner alone, so the sum of the marks is their union; a new
        // state's number is the count of marks before its branch.
        ex.sum(marks);
        {
          std::vector<std::uint64_t> before(marks.size() + 1, nextSize);
          for (std::size_t w = 0; w < marks.size(); ++w)
            before[w + 1] = before[w] + static_cast<unsigned>(__builtin_popcountll(marks[w]));
          try {
            for (std::uint32_t b : freshBranches) {
              const std::uint64_t below = marks[b / 64] & ((std::uint64_t{1} << (b % 64)) - 1);
              nextGlobal.push_back(static_cast<std::uint32_t>(
                  before[b / 64] + static_cast<unsigned>(__builtin_popcountll(below))));
            }
          } catch (const std::bad_alloc&) {
            outOfMemory = true;
          }
          nextSize = before.back();
        }
        // 5. Ends at rank 0, in branch order.
        ex.gather(ends, allEnds);
        if (me == 0) {
          byBranch.assign(branches, kNoChild);
          for (std::size_t r = 0; r < allEnds.size(); ++r)
            for (std::size_t at = 0; at < allEnds[r].size();) {
              const End e = detail::take<End>(allEnds[r].data() + at);
              byBranch[e.branch - 2 * first] = r << 40 | at;
              at += sizeof(End) + massBytes(allEnds[r].data() + at + sizeof(End));
            }
          for (std::uint64_t where : byBranch)
            if (where != kNoChild) {
              const std::uint8_t* at = allEnds[where >> 40].data() + (where & kLow40);
              const End e = detail::take<End>(at);
              sink.addEnd(Sink::take(at + sizeof(End)), e.accept != 0);
            }
        }
        // 6. Memory, then rank 0's poll.
        const std::size_t need = cur.bytes() + next.bytes() + sink.heldBytes() +
                                 (cur.size() + next.size()) * sink.bytesPerState() +
                                 global.capacity() * 4 + nextGlobal.capacity() * 4;
        stats.peakBytes = std::max(stats.peakBytes, need);
        // A level holds as many states as one process's may (global numbers are
        // 32 bits).
        const bool full = outOfMemory || need > options.memoryBytes || nextSize >= 0x7FFFFFF0u;
        std::vector<std::uint64_t> flags{full ? 1u : 0u};
        ex.max(flags);
        if (flags[0] != 0) return finish(Status::kMemoryLimit);
        std::vector<std::uint8_t> verdict(1, 0);
        if (me == 0)
          verdict[0] = static_cast<std::uint8_t>(
              monitor.poll(level, stats.statesCreated + nextSize, nextSize));
        ex.broadcast(verdict);
        if (static_cast<Status>(verdict[0]) != Status::kComplete)
          return finish(static_cast<Status>(verdict[0]));
      }
      monitor.endLevel(level, nextSize);
      cur.swap(next);
      global.swap(nextGlobal);
      levelSize = nextSize;
    }
    if (levelSize != 0) return finish(Status::kInvalidInput);  // the rules left states open
    return finish(Status::kComplete);
  }
}

}  // namespace frontier
