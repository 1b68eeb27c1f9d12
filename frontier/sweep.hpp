// The sweep: one engine for every state kind and every kind of mass.
//
// A state kind's rules (connectivity.hpp, distance.hpp) say three things:
// the root state, the child of a state when the level's edge fails or works (or that the
// branch is accepted or rejected), and the byte width of a level's states.
// A sink says what flows along the branches (double intervals, exact
// numerators, recorded transitions). The sweep owns the rest: one table per
// level, the clock, the memory bound.
//
// Level table layout: states of one level end to end in one arena of 64-bit
// words, `words` per state, bytes past the rules' width zero so that hashing
// and comparing run word by word; an open-addressing index of slots
// (state number + 1, 0 = empty) at most half full.
//
//   arena: [ s0 w0 | s0 w1 | s1 w0 | s1 w1 | ... ]      slots: [ 0 | 2 | 0 | 1 | ... ]
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include "frontier/exchange.hpp"
#include "frontier/frontier.hpp"
#include "frontier/large.hpp"
#include "frontier/plan.hpp"
#include "frontier/race.hpp"

namespace frontier {

// Child codes: a state number (>= 0) in the next level, or one of these.
constexpr std::int32_t kAccept = -1;
constexpr std::int32_t kReject = -2;

enum class Outcome { kState, kAccepted, kRejected };

inline std::uint64_t hashWords(const std::uint64_t* key, std::size_t words) {
  std::uint64_t h = 0x9E3779B97F4A7C15ull;
  for (std::size_t w = 0; w < words; ++w) {
    h ^= key[w];
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 31;
  }
  return h;
}

class LevelTable {
 public:
  // `expected` states size the slots from the start (the level before is a
  // good guess), so that a wide level is not rehashed a dozen times.
  void reset(int widthBytes, std::size_t expected = 0) {
    words_ = widthBytes <= 0 ? 1 : (widthBytes + 7) / 8;
    count_ = 0;
    arena_.clear();
    std::size_t slots = 64;
    while (slots < 2 * expected && slots < (std::size_t{1} << 31))
      slots *= 2;
    slots_.assign(slots, 0);
  }
  std::size_t size() const { return count_; }
  int words() const { return words_; }
  const std::uint64_t* state(std::size_t i) const { return arena_.data() + i * words_; }
  std::size_t bytes() const { return arena_.capacity() * 8 + slots_.capacity() * 4; }
  // Bytes held once one more state is in (the arena or index may double).
  std::size_t bytesAfterInsert() const {
    std::size_t arena = arena_.capacity();
    if ((count_ + 1) * words_ > arena) arena = std::max<std::size_t>(2 * arena, 64 * words_);
    std::size_t slots = slots_.size();
    if (2 * (count_ + 1) > slots) slots *= 2;
    return arena * 8 + slots * 4;
  }
  static std::uint64_t hashOf(const std::uint64_t* key, std::size_t words) {
    return hashWords(key, words);
  }
  // The state's number; `fresh` tells whether it was new.
  std::int32_t insert(const std::uint64_t* key, bool& fresh) {
    return insert(key, hashOf(key, words_), fresh);
  }
  // ... with its hash, hashOf(key, words()), known.
  std::int32_t insert(const std::uint64_t* key, std::uint64_t h, bool& fresh) {
    std::size_t mask = slots_.size() - 1;
    for (std::size_t at = h & mask;; at = (at + 1) & mask) {
      const std::uint32_t slot = slots_[at];
      if (slot == 0) {
        fresh = true;
        if ((count_ + 1) * words_ > arena_.capacity())
          arena_.reserve(std::max<std::size_t>(2 * arena_.capacity(), 64 * words_));
        arena_.insert(arena_.end(), key, key + words_);
        slots_[at] = static_cast<std::uint32_t>(++count_);
        if (2 * count_ > slots_.size()) grow();
        return static_cast<std::int32_t>(count_ - 1);
      }
      if (same(state(slot - 1), key)) {
        fresh = false;
        return static_cast<std::int32_t>(slot - 1);
      }
    }
  }
  void prefetch(std::uint64_t h) const { __builtin_prefetch(&slots_[h & (slots_.size() - 1)]); }
  void release() {
    decltype(arena_)().swap(arena_);
    decltype(slots_)().swap(slots_);
    count_ = 0;
  }
  void swap(LevelTable& other) {
    std::swap(words_, other.words_);
    std::swap(count_, other.count_);
    arena_.swap(other.arena_);
    slots_.swap(other.slots_);
  }

 private:
  bool same(const std::uint64_t* a, const std::uint64_t* b) const {
    for (int w = 0; w < words_; ++w)
      if (a[w] != b[w]) return false;
    return true;
  }
  void grow() {
    decltype(slots_) old(slots_.size() * 2, 0);
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (std::uint32_t slot : old) {
      if (slot == 0) continue;
      std::size_t at = hashWords(state(slot - 1), words_) & mask;
      while (slots_[at] != 0)
        at = (at + 1) & mask;
      slots_[at] = slot;
    }
  }
  int words_ = 1;
  std::size_t count_ = 0;
  std::vector<std::uint64_t, LargeAllocator<std::uint64_t>> arena_;
  std::vector<std::uint32_t> slots_;
};

// Words end to end in chunks of 2^20 words (8 MiB) on huge pages
// (large.hpp), a run of words never across two chunks, so what it holds
// never moves. Cleared, it keeps its chunks for the next level's words.
class ChunkArena {
 public:
  static constexpr std::size_t kChunkWords = std::size_t{1} << 20;
  void clear() { used_ = 0; }
  // Copies `words` (0 < words < kChunkWords) in; the first word's index.
  std::size_t put(const std::uint64_t* key, std::size_t words) {
    if (used_ / kChunkWords != (used_ + words - 1) / kChunkWords)
      used_ = (used_ / kChunkWords + 1) * kChunkWords;  // the rest of a chunk stays empty
    if (used_ + words > chunks_.size() * kChunkWords) chunks_.push_back(newChunk());
    std::memcpy(at(used_), key, words * 8);
    const std::size_t first = used_;
    used_ += words;
    return first;
  }
  std::uint64_t* at(std::size_t word) const {
    return chunks_[word / kChunkWords].get() + word % kChunkWords;
  }
  std::size_t bytes() const { return chunks_.size() * kChunkWords * 8; }
  std::size_t bytesAfterPut(std::size_t words) const {
    std::size_t chunks = chunks_.size();
    if (used_ + words > chunks * kChunkWords) chunks = used_ / kChunkWords + 2;
    return chunks * kChunkWords * 8;
  }
  void release() {
    decltype(chunks_)().swap(chunks_);
    used_ = 0;
  }
  void swap(ChunkArena& other) {
    std::swap(used_, other.used_);
    chunks_.swap(other.chunks_);
  }

 private:
  struct FreeChunk {
    void operator()(std::uint64_t* p) const noexcept { detail::freeLarge(p, kChunkWords * 8); }
  };
  using Chunk = std::unique_ptr<std::uint64_t[], FreeChunk>;
  static Chunk newChunk() {
    return Chunk(static_cast<std::uint64_t*>(detail::allocateLarge(kChunkWords * 8)));
  }
  std::size_t used_ = 0;  // words placed, with chunk tails skipped
  std::vector<Chunk> chunks_;
};

// The same as LevelTable for states of varying length (the profile kind).
// States lie in a ChunkArena, its own or one that other tables share (the
// threaded sweep's shards of one worker: one arena fills huge pages where
// many small ones would each hold one); `place` packs a state's first word
// (40 bits) and its length in words (24 bits). A slot holds the state
// number + 1 and 32 bits of its hash, so probes rarely touch a state.
class VarLevelTable {
 public:
  static constexpr std::size_t kChunkWords = ChunkArena::kChunkWords;
  // States go to `arena` from now on, which its owner clears and counts.
  void shareArena(ChunkArena* arena) { shared_ = arena; }
  // Keeps the chunks: the next level reuses their pages. `expected` states
  // size the slots from the start (the level before is a good guess), so
  // that the table seldom grows.
  void reset(std::size_t expected = 0) {
    count_ = 0;
    if (shared_ == nullptr) own_.clear();
    place_.clear();
    std::size_t slots = 64;
    while (slots < 2 * expected && slots < (std::size_t{1} << 31))
      slots *= 2;
    slots_.assign(slots, 0);
  }
  std::size_t size() const { return count_; }
  const std::uint64_t* state(std::size_t i) const { return arena().at(place_[i] >> 24); }
  // Asks for state i's place, then (once that is at hand) its first words,
  // ahead of reading the state.
  void prefetchPlace(std::size_t i) const { __builtin_prefetch(&place_[i]); }
  void prefetchState(std::size_t i) const { __builtin_prefetch(state(i)); }
  // Bytes held, a shared arena not counted.
  std::size_t bytes() const {
    return (shared_ == nullptr ? own_.bytes() : 0) + place_.capacity() * 8 + slots_.capacity() * 8;
  }
  std::size_t bytesAfterInsert(std::size_t words) const {
    std::size_t places = place_.capacity();
    if (count_ + 1 > places) places = std::max<std::size_t>(2 * places, 64);
    std::size_t slots = slots_.size();
    if (2 * (count_ + 1) > slots) slots *= 2;
    return (shared_ == nullptr ? own_.bytesAfterPut(words) : 0) + places * 8 + slots * 8;
  }
  static std::uint64_t hashOf(const std::uint64_t* key, std::size_t words) {
    return hashWords(key, words) ^ words;
  }
  // Asks for the slot a key of hash h probes first, ahead of its insert.
  void prefetch(std::uint64_t h) const {
    __builtin_prefetch(&slots_[(h >> 32) & (slots_.size() - 1)]);
  }
  std::int32_t insert(const std::uint64_t* key, std::size_t words, bool& fresh) {
    return insert(key, words, hashOf(key, words), fresh);
  }
  std::int32_t insert(const std::uint64_t* key, std::size_t words, std::uint64_t h, bool& fresh) {
    if (words == 0 || words >= kChunkWords) throw std::bad_alloc();
    // A slot holds the hash's high half and the state's number; the high
    // half also picks the slot, so growing never hashes a state again.
    const std::uint64_t tag = h >> 32 << 32;
    std::size_t mask = slots_.size() - 1;
    for (std::size_t at = (h >> 32) & mask;; at = (at + 1) & mask) {
      const std::uint64_t slot = slots_[at];
      if (slot == 0) {
        fresh = true;
        place_.push_back(arena().put(key, words) << 24 | words);
        slots_[at] = tag | static_cast<std::uint32_t>(++count_);
        if (2 * count_ > slots_.size()) grow();
        return static_cast<std::int32_t>(count_ - 1);
      }
      if ((slot >> 32 << 32) != tag) continue;
      const std::size_t i = static_cast<std::uint32_t>(slot) - 1;
      if ((place_[i] & 0xFFFFFF) == words && std::memcmp(state(i), key, words * 8) == 0) {
        fresh = false;
        return static_cast<std::int32_t>(i);
      }
    }
  }
  void release() {
    own_.release();
    decltype(place_)().swap(place_);
    decltype(slots_)().swap(slots_);
    count_ = 0;
  }
  void swap(VarLevelTable& other) {
    std::swap(count_, other.count_);
    own_.swap(other.own_);
    std::swap(shared_, other.shared_);
    place_.swap(other.place_);
    slots_.swap(other.slots_);
  }

 private:
  const ChunkArena& arena() const { return shared_ == nullptr ? own_ : *shared_; }
  ChunkArena& arena() { return shared_ == nullptr ? own_ : *shared_; }
  void grow() {
    decltype(slots_) old(slots_.size() * 2, 0);
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (std::uint64_t slot : old) {
      if (slot == 0) continue;
      std::size_t at = (slot >> 32) & mask;
      while (slots_[at] != 0)
        at = (at + 1) & mask;
      slots_[at] = slot;
    }
  }
  std::size_t count_ = 0;
  ChunkArena own_;
  ChunkArena* shared_ = nullptr;
  std::vector<std::uint64_t> place_;
  std::vector<std::uint64_t> slots_;
};

// Whether a kind's states vary in length (see ProfileRules).
template <class Rules>
constexpr bool isVariableWidth = requires {
  Rules::kVariableWidth;
};

template <class Rules, class Sink>
Status sweepParallel(const Plan& plan, Rules& rules, Sink& sink, const Options& options,
                     Stats& stats, const LostTest& lost);
template <class Rules, class Sink>
Status sweepDistributed(const Plan& plan, Rules& rules, Sink& sink, const Options& options,
                        Stats& stats, const LostTest& lost);

// What every sweep does around its levels: the statistics, the clock, the
// root's and each level's bookkeeping, and the poll.
template <class Sink>
class SweepMonitor {
 public:
  using Clock = std::chrono::steady_clock;
  SweepMonitor(const Plan& plan, Sink& sink, const Options& options, Stats& stats,
               const LostTest& lost)
      : sink_(sink), options_(options), stats_(stats), lost_(lost), levels_(plan.levels()) {
    stats.kind = plan.kind;
    stats.order = plan.order;
    stats.edgesUsed = plan.levels();
    stats.maxFrontier = plan.maxPortals;
    stats.levelStates.clear();
    stats.statesCreated = stats.widestLevel = 0;
    stats.peakBytes = 0;
    stats.stateBytes = 0;
  }
  // Stamps the time taken and passes the status on.
  Status finish(Status s) {
    stats_.seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    return s;
  }
  // The root accepted or rejected at once: the sweep is complete.
  Status rootDecided(Outcome o) {
    sink_.root(o == Outcome::kAccepted ? kAccept : kReject);
    stats_.levelStates.push_back(0);
    return finish(Status::kComplete);
  }
  // The root is state 0 of the first level.
  void rootState() {
    sink_.root(0);
    stats_.levelStates.push_back(1);
    stats_.statesCreated = stats_.widestLevel = 1;
  }
  void endLevel(int level, std::size_t states) {
    sink_.endLevel(level, states);
    stats_.levelStates.push_back(states);
    stats_.statesCreated += states;
    stats_.widestLevel = std::max<std::uint64_t>(stats_.widestLevel, states);
  }
  // Polled at each level start and every few hundred parents: decide, a
  // lost race (with `made` states so far), clock, cancel, progress (with
  // `states` in the level being built). The stop status, or kComplete.
  // Decide is weighed at level starts only: the sweeps on one thread, on
  // threads and on ranks poll at different parents within a level, and
  // where a decided sweep stops (its status and bounds) must not depend on
  // which ran; a complete last level is never reported as decided either.
  Status poll(int level, std::uint64_t made, std::uint64_t states, bool levelStart = false) {
    if (levelStart && options_.decide && sink_.decided(*options_.decide)) return Status::kDecided;
    if (lost_ && lost_(made)) return Status::kCancelled;
    const auto now = Clock::now();
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    if (options_.timeLimit >= 0 && elapsed >= options_.timeLimit) return Status::kTimeLimit;
    if (options_.cancelled && options_.cancelled()) return Status::kCancelled;
    if (options_.progress &&
        (polls_ == 0 || now - lastProgress_ > std::chrono::milliseconds(200))) {
      lastProgress_ = now;
      Progress p;
      p.edge = level;
      p.edges = levels_;
      p.states = states;
      sink_.bounds(p.lower, p.upper);
      options_.progress(p);
    }
    ++polls_;
    return Status::kComplete;
  }

 private:
  Sink& sink_;
  const Options& options_;
  Stats& stats_;
  const LostTest& lost_;
  const int levels_;
  const Clock::time_point start_ = Clock::now();
  Clock::time_point lastProgress_ = start_;
  std::uint64_t polls_ = 0;
};

// Sink concept:
//   void root(std::int32_t code);
//   void beginLevel(int level, std::size_t parents);   // edge `level` next
//   void add(std::size_t parent, bool works, std::int32_t code);
//   void reserveNext(std::size_t states);   // the threaded sweep's add, in
//   void arrive(std::size_t parent, bool works, std::int32_t code, bool fresh);
//     two parts: the next level's states [0, states) are made room for,
//     then workers hand in branches at once, each to states of its own;
//     `fresh`: the state's first branch (see parallel_sweep.hpp)
//   void endLevel(int level, std::size_t children);
//   std::size_t bytesPerState() const;   // per state of a kept level
//   std::size_t heldBytes() const;       // beyond the two current levels
//   void bounds(double& lower, double& upper) const;  // for progress only
//   bool decided(double threshold) const;             // proved either way
// `lost`, if set, is asked at each poll with the states made so far; true
// stops the sweep with kCancelled (see race.hpp).
template <class Rules, class Sink>
Status sweep(const Plan& plan, Rules& rules, Sink& sink, const Options& options, Stats& stats,
             const LostTest& lost = {}) {
  if (options.exchange != nullptr && options.exchange->size() > 1)
    return sweepDistributed(plan, rules, sink, options, stats, lost);
  if (options.threads > 1) return sweepParallel(plan, rules, sink, options, stats, lost);
  SweepMonitor<Sink> monitor(plan, sink, options, stats, lost);
  auto finish = [&](Status s) { return monitor.finish(s); };

  constexpr bool variable = isVariableWidth<Rules>;
  using Table = std::conditional_t<variable, VarLevelTable, LevelTable>;
  Table cur, next;
  std::vector<std::uint64_t> buffer;
  std::vector<std::uint64_t> batchWords;  // variable width: a batch's children, end to end
  std::vector<std::size_t> batchStart;    // where child c starts in batchWords
  std::uint64_t batchHash[128];
  Outcome batchOutcome[128];
  try {
    const int m = plan.levels();
    Outcome rootOutcome;
    if constexpr (variable) {
      cur.reset();
      rootOutcome = plan.hopeless ? Outcome::kRejected : rules.root(buffer);
    } else {
      cur.reset(rules.width(0));
      buffer.assign(cur.words() + 1, 0);
      rootOutcome = plan.hopeless ? Outcome::kRejected
                                  : rules.root(reinterpret_cast<std::uint8_t*>(buffer.data()));
    }
    if (rootOutcome != Outcome::kState) return monitor.rootDecided(rootOutcome);
    bool fresh = false;
    if constexpr (variable)
      cur.insert(buffer.data(), buffer.size(), fresh);
    else
      cur.insert(buffer.data(), fresh);
    monitor.rootState();
    auto poll = [&](int level, std::uint64_t made, bool levelStart = false) {
      return monitor.poll(level, made, next.size(), levelStart);
    };

    for (int level = 0; level < m; ++level) {
      if (Status s = poll(level, stats.statesCreated, true); s != Status::kComplete)
        return finish(s);
      std::uint8_t* out = nullptr;
      const std::size_t expected = std::min<std::size_t>(cur.size(), options.memoryBytes / 128);
      if constexpr (variable) {
        next.reset(expected);
      } else {
        const int width = rules.width(level + 1);
        stats.stateBytes = std::max(stats.stateBytes, width);
        next.reset(width, expected);
        buffer.assign(next.words(), 0);
        out = reinterpret_cast<std::uint8_t*>(buffer.data());
      }
      sink.beginLevel(level, cur.size());
      const std::size_t fixed = cur.bytes() + sink.heldBytes() + cur.size() * sink.bytesPerState();
      // Variable-width states: the children of a batch of parents are made
      // first and their slots fetched ahead, then inserted in the same
      // order as one by one (the table's numbering and the sink's sums do
      // not change); the probes' cache misses then overlap.
      if constexpr (variable) {
        constexpr std::size_t kBatch = 64;
        for (std::size_t first = 0; first < cur.size(); first += kBatch) {
          if (first % 256 == 256 - kBatch)
            if (Status st = poll(level, stats.statesCreated + next.size()); st != Status::kComplete)
              return finish(st);
          const std::size_t last = std::min(cur.size(), first + kBatch);
          batchWords.clear();
          batchStart.clear();
          for (std::size_t s = first; s < last; ++s)
            for (int works = 0; works < 2; ++works) {
              const Outcome o = rules.child(level, cur.state(s), works != 0, buffer);
              batchOutcome[2 * (s - first) + works] = o;
              batchStart.push_back(batchWords.size());
              if (o != Outcome::kState) continue;
              batchWords.insert(batchWords.end(), buffer.begin(), buffer.end());
            }
          batchStart.push_back(batchWords.size());
          for (std::size_t c = 0; c + 1 < batchStart.size(); ++c) {
            const std::size_t words = batchStart[c + 1] - batchStart[c];
            batchHash[c] = words == 0 ? 0 : Table::hashOf(batchWords.data() + batchStart[c], words);
            if (words != 0) next.prefetch(batchHash[c]);
          }
          for (std::size_t s = first; s < last; ++s)
            for (int works = 0; works < 2; ++works) {
              const std::size_t c = 2 * (s - first) + works;
              const Outcome o = batchOutcome[c];
              std::int32_t code = o == Outcome::kAccepted ? kAccept : kReject;
              if (o == Outcome::kState) {
                const std::size_t words = batchStart[c + 1] - batchStart[c];
                const std::size_t need = fixed + rules.heldBytes() +
                                         (next.size() + 1) * sink.bytesPerState() +
                                         next.bytesAfterInsert(words) + batchWords.capacity() * 8;
                if (need > options.memoryBytes || next.size() >= 0x7FFFFFF0u)
                  return finish(Status::kMemoryLimit);
                stats.peakBytes = std::max(stats.peakBytes, need);
                stats.stateBytes = std::max(stats.stateBytes, static_cast<int>(words * 8));
                code = next.insert(batchWords.data() + batchStart[c], words, batchHash[c], fresh);
              }
              sink.add(s, works != 0, code);
            }
        }
      } else {
        for (std::size_t s = 0; s < cur.size(); ++s) {
          if ((s & 255) == 255)
            if (Status st = poll(level, stats.statesCreated + next.size()); st != Status::kComplete)
              return finish(st);
          const auto* parent = reinterpret_cast<const std::uint8_t*>(cur.state(s));
          for (int works = 0; works < 2; ++works) {
            buffer.back() = 0;
            const Outcome o = rules.child(level, parent, works != 0, out);
            std::int32_t code = o == Outcome::kAccepted ? kAccept : kReject;
            if (o == Outcome::kState) {
              const std::size_t need =
                  fixed + next.bytesAfterInsert() + (next.size() + 1) * sink.bytesPerState();
              if (need > options.memoryBytes || next.size() >= 0x7FFFFFF0u)
                return finish(Status::kMemoryLimit);
              stats.peakBytes = std::max(stats.peakBytes, need);
              code = next.insert(buffer.data(), fresh);
            }
            sink.add(s, works != 0, code);
          }
        }
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

#include "frontier/distributed_sweep.hpp"  // IWYU pragma: export
#include "frontier/parallel_sweep.hpp"     // IWYU pragma: export
