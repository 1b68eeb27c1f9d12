#include "frontier/profile.hpp"

#include <algorithm>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace frontier {

namespace {

// Byte vectors of S lanes (S a multiple of 16), 16 at a time. Entries are
// at most D + 1 <= 127, so a sum of two fits a byte; sums saturate anyway.
#if defined(__SSE2__)
using Lanes = __m128i;
inline Lanes load(const std::uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void store(std::uint8_t* p, Lanes x) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), x);
}
// Every byte value splat over 16 lanes: a load, where building one from
// a byte takes SSE2 four instructions.
struct SplatTable {
  alignas(16) std::uint8_t lanes[256][16];
  constexpr SplatTable() : lanes() {
    for (int v = 0; v < 256; ++v)
      for (int k = 0; k < 16; ++k)
        lanes[v][k] = static_cast<std::uint8_t>(v);
  }
};
constexpr SplatTable kSplats;
inline Lanes splat(std::uint8_t x) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(kSplats.lanes[x]));
}
// Lanes below k (0 <= k <= 16) all ones, the others zero.
struct BelowTable {
  alignas(16) std::uint8_t lanes[17][16];
  constexpr BelowTable() : lanes() {
    for (int k = 0; k <= 16; ++k)
      for (int j = 0; j < k; ++j)
        lanes[k][j] = 0xFF;
  }
};
constexpr BelowTable kBelow;
inline Lanes below(int k) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(kBelow.lanes[k]));
}
// The 16 bytes one place down (byte k + 1 to k), zero in the top one.
inline Lanes downOne(Lanes x) {
  return _mm_srli_si128(x, 1);
}
inline Lanes addSat(Lanes a, Lanes b) {
  return _mm_adds_epu8(a, b);
}
inline Lanes lower(Lanes a, Lanes b) {
  return _mm_min_epu8(a, b);
}
// Bit k set when lane k of a <= lane k of b.
inline unsigned atMost(Lanes a, Lanes b) {
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(a, b), a)));
}
inline Lanes pick(Lanes keep, Lanes mask, Lanes other) {
  return _mm_or_si128(_mm_and_si128(mask, keep), _mm_andnot_si128(mask, other));
}
inline Lanes atMostMask(Lanes a, Lanes b) {
  return _mm_cmpeq_epi8(_mm_min_epu8(a, b), a);
}
#else
struct Lanes {
  std::uint8_t v[16];
};
inline Lanes load(const std::uint8_t* p) {
  Lanes x;
  std::memcpy(x.v, p, 16);
  return x;
}
inline void store(std::uint8_t* p, Lanes x) {
  std::memcpy(p, x.v, 16);
}
inline Lanes splat(std::uint8_t x) {
  Lanes r;
  std::memset(r.v, x, 16);
  return r;
}
inline Lanes below(int k) {
  Lanes r;
  for (int j = 0; j < 16; ++j)
    r.v[j] = j < k ? 0xFF : 0;
  return r;
}
inline Lanes downOne(Lanes x) {
  for (int k = 0; k < 15; ++k)
    x.v[k] = x.v[k + 1];
  x.v[15] = 0;
  return x;
}
inline Lanes addSat(Lanes a, Lanes b) {
  for (int k = 0; k < 16; ++k)
    a.v[k] = static_cast<std::uint8_t>(std::min(255, a.v[k] + b.v[k]));
  return a;
}
inline Lanes lower(Lanes a, Lanes b) {
  for (int k = 0; k < 16; ++k)
    a.v[k] = std::min(a.v[k], b.v[k]);
  return a;
}
inline unsigned atMost(Lanes a, Lanes b) {
  unsigned bits = 0;
  for (int k = 0; k < 16; ++k)
    bits |= static_cast<unsigned>(a.v[k] <= b.v[k]) << k;
  return bits;
}
inline Lanes atMostMask(Lanes a, Lanes b) {
  for (int k = 0; k < 16; ++k)
    a.v[k] = a.v[k] <= b.v[k] ? 0xFF : 0;
  return a;
}
inline Lanes pick(Lanes keep, Lanes mask, Lanes other) {
  for (int k = 0; k < 16; ++k)
    keep.v[k] = mask.v[k] ? keep.v[k] : other.v[k];
  return keep;
}
#endif

template <int S>
inline bool lessEqual(const std::uint8_t* a, const std::uint8_t* b) {
  for (int k = 0; k < S; k += 16)
    if (atMost(load(a + k), load(b + k)) != 0xFFFFu) return false;
  return true;
}

// t = min(t, s + row), capped at inf.
template <int S>
inline void relax(std::uint8_t* t, int s, const std::uint8_t* row, std::uint8_t inf) {
  const Lanes add = splat(static_cast<std::uint8_t>(s)), cap = splat(inf);
  for (int k = 0; k < S; k += 16)
    store(t + k, lower(load(t + k), lower(addSat(add, load(row + k)), cap)));
}

// r = min over x < n of p[x] + rows[x] (rows S apart), capped at inf: the
// running minimum stays in registers and starts at inf, so no row needs a
// cap of its own.
template <int S>
inline void reachFrom(const std::uint8_t* p, int n, const std::uint8_t* rows, std::uint8_t* r,
                      std::uint8_t inf) {
  Lanes acc[S / 16];
  for (int k = 0; k < S / 16; ++k)
    acc[k] = splat(inf);
  // An entry past D is D + 1 (capped): its sums are D + 1 or more, which
  // leaves the minimum as it is, so it needs no test.
  for (int x = 0; x < n; ++x) {
    const Lanes add = splat(p[x]);
    for (int k = 0; k < S / 16; ++k)
      acc[k] = lower(acc[k], addSat(add, load(rows + std::size_t(x) * S + 16 * k)));
  }
  for (int k = 0; k < S / 16; ++k)
    store(r + 16 * k, acc[k]);
}

// reachFrom for the two sides of a pair at once: each row is read once.
template <int S>
inline void reachFrom2(const std::uint8_t* p, const std::uint8_t* q, int n,
                       const std::uint8_t* rows, std::uint8_t* rp, std::uint8_t* rq,
                       std::uint8_t inf) {
  Lanes accP[S / 16], accQ[S / 16];
  for (int k = 0; k < S / 16; ++k)
    accP[k] = accQ[k] = splat(inf);
  for (int x = 0; x < n; ++x) {
    const Lanes addP = splat(p[x]), addQ = splat(q[x]);
    for (int k = 0; k < S / 16; ++k) {
      const Lanes row = load(rows + std::size_t(x) * S + 16 * k);
      accP[k] = lower(accP[k], addSat(addP, row));
      accQ[k] = lower(accQ[k], addSat(addQ, row));
    }
  }
  for (int k = 0; k < S / 16; ++k) {
    store(rp + 16 * k, accP[k]);
    store(rq + 16 * k, accQ[k]);
  }
}

// Whether a[k] + b[k] <= D for some k.
template <int S>
inline bool anyWithin(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t D) {
  const Lanes limit = splat(D);
  for (int k = 0; k < S; k += 16)
    if (atMost(addSat(load(a + k), load(b + k)), limit) != 0) return true;
  return false;
}

// p[k] = inf where p[k] + by[k] > D.
template <int S>
inline void capBy(std::uint8_t* p, const std::uint8_t* by, std::uint8_t D, std::uint8_t inf) {
  const Lanes limit = splat(D), cap = splat(inf);
  for (int k = 0; k < S; k += 16) {
    const Lanes x = load(p + k);
    store(p + k, pick(x, atMostMask(addSat(x, load(by + k)), limit), cap));
  }
}

// t = min(t, x) lane by lane.
template <int S>
inline void lowerInto(std::uint8_t* t, const std::uint8_t* x) {
  for (int k = 0; k < S; k += 16)
    store(t + k, lower(load(t + k), load(x + k)));
}

// Moves n bytes, sizeof(Word) <= n <= 2 sizeof(Word), by two overlapping
// words.
template <class Word>
inline void overlapMove(std::uint8_t* to, const std::uint8_t* from, int n) {
  Word a, b;
  std::memcpy(&a, from, sizeof(Word));
  std::memcpy(&b, from + n - sizeof(Word), sizeof(Word));
  std::memcpy(to, &a, sizeof(Word));
  std::memcpy(to + n - sizeof(Word), &b, sizeof(Word));
}

// Copies n bytes: a state's rows are a few bytes each, where a call to
// memcpy costs more than the copy.
inline void copyRow(std::uint8_t* to, const std::uint8_t* from, int n) {
  if (n >= 8 && n <= 16)
    overlapMove<std::uint64_t>(to, from, n);
  else if (n >= 4 && n < 8)
    overlapMove<std::uint32_t>(to, from, n);
  else if (n >= 2 && n < 4)
    overlapMove<std::uint16_t>(to, from, n);
  else if (n == 1)
    to[0] = from[0];
  else if (n > 16)
    std::memcpy(to, from, n);
}

// Two entries a byte (low nibble first) when every entry is at most 15:
// `n` entries from `from` into (n + 1) / 2 bytes at `to`, and back; whole
// blocks of 16 entries go by vector.
inline void packNibbles(std::uint8_t* to, const std::uint8_t* from, std::size_t n) {
  std::size_t k = 0;
#if defined(__SSE2__)
  const __m128i low = _mm_set1_epi16(0x00FF);
  for (; k + 16 <= n; k += 16, to += 8) {
    const __m128i x = load(from + k);
    const __m128i w = _mm_or_si128(_mm_and_si128(x, low), _mm_slli_epi16(_mm_srli_epi16(x, 8), 4));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to), _mm_packus_epi16(w, w));
  }
#endif
  for (; k + 1 < n; k += 2)
    *to++ = static_cast<std::uint8_t>(from[k] | from[k + 1] << 4);
  if (k < n) *to = from[k];
}
inline void unpackNibbles(std::uint8_t* to, const std::uint8_t* from, std::size_t n) {
  std::size_t k = 0;
#if defined(__SSE2__)
  const __m128i nibble = _mm_set1_epi8(15);
  for (; k + 16 <= n; k += 16, from += 8) {
    const __m128i y = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(from));
    const __m128i lo = _mm_and_si128(y, nibble), hi = _mm_and_si128(_mm_srli_epi16(y, 4), nibble);
    store(to + k, _mm_unpacklo_epi8(lo, hi));
  }
#endif
  for (; k + 1 < n; k += 2, ++from) {
    to[k] = *from & 15;
    to[k + 1] = *from >> 4;
  }
  if (k < n) to[k] = *from & 15;
}

// A total order on records (whole 8-byte words, as integers): any fixed
// order makes the sorted sets canonical; this one needs no byte loop.
// compare is negative, zero or positive as a is before, equal to or after b.
inline int compare(const std::uint8_t* a, const std::uint8_t* b, int bytes) {
  for (int k = 0; k < bytes; k += 8) {
    std::uint64_t x, y;
    std::memcpy(&x, a + k, 8);
    std::memcpy(&y, b + k, 8);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}
inline bool before(const std::uint8_t* a, const std::uint8_t* b, int bytes) {
  return compare(a, b, bytes) < 0;
}

// Sorts `count` records of `Bytes` bytes in place, drops duplicates and
// every record that another dominates. Returns the count left. Pointwise
// at most implies `before` or equal, so once sorted and without duplicates
// a record can only be dominated by one after it.
template <int Bytes, class Dominated>
int canonical(std::vector<std::uint8_t>& records, int count, const Dominated& dominated) {
  if (count <= 1) return count;
  std::uint8_t* base = records.data();
  auto at = [base](int i) { return base + std::size_t(i) * Bytes; };
  // Insertion sort that drops duplicates as it goes: a state holds a few
  // dozen records at most, and they come mostly in order (the parent's
  // were sorted). at(0) .. at(kept - 1) are sorted and distinct.
  int kept = 1;
  for (int i = 1; i < count; ++i) {
    const int last = compare(at(i), at(kept - 1), Bytes);
    if (last == 0) continue;
    if (last > 0) {
      if (kept != i) std::memcpy(at(kept), at(i), Bytes);
      ++kept;
      continue;
    }
    int j = kept - 1;  // at(i) goes before at(j): find where
    int c = -1;
    while (j > 0 && (c = compare(at(i), at(j - 1), Bytes)) < 0)
      --j;
    if (j > 0 && c == 0) continue;
    std::uint8_t x[Bytes];
    std::memcpy(x, at(i), Bytes);
    std::memmove(at(j + 1), at(j), std::size_t(kept - j) * Bytes);
    std::memcpy(at(j), x, Bytes);
    ++kept;
  }
  // Kept records move down only, past records already read.
  int out = 0;
  for (int i = 0; i < kept; ++i) {
    bool dead = false;
    for (int j = i + 1; j < kept && !dead; ++j)
      dead = dominated(at(i), at(j));
    if (dead) continue;
    if (out != i) std::memcpy(at(out), at(i), Bytes);
    ++out;
  }
  return out;
}

}  // namespace

ProfileRules::ProfileRules(const Plan& plan) : plan_(plan) {
  const int m = plan.levels(), n = plan.nodes;
  D_ = plan.maxHops;
  inf_ = D_ + 1;
  packed_ = inf_ <= 15;
  std::vector<std::vector<int>> adj(n);  // undecided edges: those after the current one
  std::vector<int> dist(n), position(n, -1);
  levels_.resize(m);
  int widest = 0;
  for (int i = m - 1; i >= 0; --i) {
    Level& L = levels_[i];
    const auto& F = plan.frontier[i];
    std::vector<int> work = F;
    const auto [eu, ev] = plan.edges[i];
    for (int x : {eu, ev})
      if (std::find(work.begin(), work.end(), x) == work.end()) {
        work.push_back(x);
        if (plan.isTerminal(x)) L.touched.push_back(static_cast<int>(work.size()) - 1);
      }
    std::fill(position.begin(), position.end(), -1);
    for (std::size_t k = 0; k < work.size(); ++k)
      position[work[k]] = static_cast<int>(k);
    L.f = static_cast<int>(F.size());
    L.work = static_cast<int>(work.size());
    L.u = position[eu];
    L.v = position[ev];
    const auto& F1 = plan.frontier[i + 1];
    L.f1 = static_cast<int>(F1.size());
    for (int x : F1)
      L.keep.push_back(position[x]);
    for (int k = L.work - 1; k >= 0; --k)
      if (std::find(L.keep.begin(), L.keep.end(), k) == L.keep.end()) L.leaving.push_back(k);
    std::vector<int> nodes = F1;
    for (int t : plan.terminals)
      if (plan.first[t] > i) nodes.push_back(t);
    L.t1 = static_cast<int>(nodes.size()) - L.f1;
    L.dropsR2 = L.t1 == 0;
    L.n1 = static_cast<int>(nodes.size());
    L.stride1 = (L.n1 + 15) / 16 * 16;
    if (L.stride1 == 0) L.stride1 = 16;
    L.undecided.assign(std::size_t(L.n1) * L.stride1, static_cast<std::uint8_t>(inf_));
    for (int k = 0; k < L.n1; ++k) {
      L.undecided[std::size_t(k) * L.stride1 + k] = 0;
      cappedDistances(adj, nodes[k], inf_, dist);
      for (int j = 0; j < L.n1; ++j)
        L.undecided[std::size_t(k) * L.stride1 + j] = static_cast<std::uint8_t>(dist[nodes[j]]);
    }
    adj[eu].push_back(ev);
    adj[ev].push_back(eu);
    widest = std::max({widest, L.work, L.f1});
  }
  for (int s : {16, 32, 48, 64})
    if (widest <= s) {
      S_ = s;
      break;
    }
  // The root: all edges undecided, every terminal untouched.
  for (std::size_t a = 0; a < plan.terminals.size() && !rootRejects_; ++a) {
    cappedDistances(adj, plan.terminals[a], inf_, dist);
    for (int t : plan.terminals)
      if (dist[t] > D_) rootRejects_ = true;
  }
  const std::size_t S = S_;
  for (auto* v : {&d_, &baseD_, &childD_})
    v->assign(S * S, 0);
  for (auto* v : {&colU_, &colV_, &a_, &b_})
    v->assign(S, 0);
  key_.assign(S * S + 8, 0);
}

int ProfileRules::fixedWidth(int level) const {
  const int f = static_cast<int>(plan_.frontier[level].size());
  return 4 + (packed_ ? (f * (f - 1) / 2 + 1) / 2 : f * (f - 1) / 2);
}

Outcome ProfileRules::root(std::vector<std::uint64_t>& out) {
  if (rootRejects_) return Outcome::kRejected;
  out.assign(1, 0);  // no profile, no pair
  return Outcome::kState;
}

Outcome ProfileRules::child(int level, const std::uint64_t* parent, bool works,
                            std::vector<std::uint64_t>& out) {
  switch (S_) {
    case 16:
      return childOf<16>(level, parent, works, out);
    case 32:
      return childOf<32>(level, parent, works, out);
    case 48:
      return childOf<48>(level, parent, works, out);
    default:
      return childOf<64>(level, parent, works, out);
  }
}

template <int S>
void ProfileRules::decode(const Level& L, const std::uint8_t* state, int f) {
  const std::uint8_t inf = static_cast<std::uint8_t>(inf_);
  const int nR2 = state[0] | state[1] << 8, nPairs = state[2] | state[3] << 8;
  const std::uint8_t* at = state + 4;
  const Lanes infs = splat(inf);
  const Lanes firstF = below(std::min(f, 16));
  if (packed_) {
    const std::size_t body = std::size_t(f) * (f - 1) / 2 + std::size_t(nR2 + 2 * nPairs) * f;
    unpackNibbles(rawFor(body), at, body);
    at = raw_.data();
  }
  // Only the rows of the work positions are ever read.
  std::uint8_t* d = baseD_.data();
  std::fill(d, d + L.work * S, inf);
  for (int k = 0; k < L.work; ++k)
    d[k * S + k] = 0;
  for (int a = 0; a < f; ++a)
    for (int b = a + 1; b < f; ++b, ++at)
      d[a * S + b] = d[b * S + a] = *at;
  const std::size_t touches = L.touched.size();
  // Room for the touches: each turns every profile into a pair, then adds one.
  const std::size_t r2Room = nR2 + touches;
  const std::size_t pairRoom = nPairs + touches * r2Room;
  // Every row used is written whole below: the buffers only grow.
  if (baseR2_.size() < r2Room * S) baseR2_.resize(r2Room * S);
  if (basePairs_.size() < pairRoom * 2 * S) basePairs_.resize(pairRoom * 2 * S);
  std::uint8_t* r2Rows = baseR2_.data();
  std::uint8_t* pairRows = basePairs_.data();
  auto row = [&](std::uint8_t* to, const std::uint8_t* from) {
    if constexpr (S == 16) {
      // raw_ has 16 bytes of room past its entries (rawFor): one load, the
      // bytes past f set to D + 1.
      if (packed_) {
        store(to, pick(load(from), firstF, infs));
        return;
      }
    }
    std::memset(to, inf, S);
    copyRow(to, from, f);
  };
  for (int r = 0; r < nR2; ++r, at += f)
    row(r2Rows + std::size_t(r) * S, at);
  for (int p = 0; p < nPairs; ++p, at += 2 * f) {
    row(pairRows + std::size_t(p) * 2 * S, at);
    row(pairRows + std::size_t(p) * 2 * S + S, at + f);
  }
  int r2 = nR2, pairs = nPairs;
  for (int z : L.touched) {
    for (int r = 0; r < r2; ++r, ++pairs) {
      std::uint8_t* pair = pairRows + std::size_t(pairs) * 2 * S;
      std::memcpy(pair, r2Rows + std::size_t(r) * S, S);
      std::memset(pair + S, inf, S);
      pair[S + z] = 0;
    }
    std::memset(r2Rows + std::size_t(r2) * S, inf, S);
    r2Rows[std::size_t(r2++) * S + z] = 0;
  }
  baseR2Count_ = L.dropsR2 ? 0 : r2;
  basePairCount_ = pairs;
}

template <int S>
const ProfileRules::CacheEntry& ProfileRules::lookup(int level, const std::uint8_t* key,
                                                     int keyBytes, const Level& L) {
  const std::uint8_t inf = static_cast<std::uint8_t>(inf_);
  // A level's cache is dropped when the level changes or it grows past
  // 64 MiB; entries are then made again as needed.
  if (cacheLevel_ != level || cacheBytes_ > (std::size_t{64} << 20)) {
    cacheLevel_ = level;
    cacheIndex_.reset(keyBytes);
    cache_.clear();
    cacheData_.clear();
    cacheOpen_.clear();
  }
  bool fresh = false;
  const std::int32_t index = cacheIndex_.insert(reinterpret_cast<const std::uint64_t*>(key), fresh);
  if (!fresh) return cache_[index];
  CacheEntry e;
  const int n1 = L.n1, st = L.stride1, f1 = L.f1;
  closure_.assign(L.undecided.begin(), L.undecided.end());
  std::uint8_t* w = closure_.data();
  const std::uint8_t* cd = childD_.data();
  for (int a = 0; a < f1; ++a)
    for (int b = 0; b < f1; ++b)
      w[a * st + b] = std::min(w[a * st + b], cd[a * S + b]);
  // The distances over undecided edges are already shortest paths, and the
  // past's shortcuts join frontier nodes only: a shortest route changes
  // between the two at frontier nodes, so they are the only pivots needed.
  for (int k = 0; k < f1; ++k)
    pivotBytes(w, n1, st, k, D_);
  e.ok = true;
  for (int a = f1; a < n1 && e.ok; ++a)
    for (int b = a + 1; b < n1; ++b)
      if (w[a * st + b] > D_) {
        e.ok = false;
        break;
      }
  if (e.ok) {
    e.offset = static_cast<std::uint32_t>(cacheData_.size());
    const int t1 = L.t1;
    cacheData_.resize(cacheData_.size() + std::size_t(f1 + 3 + t1) * S, inf);
    std::uint8_t* mf = cacheData_.data() + e.offset;
    for (int x = 0; x < f1; ++x)
      for (int y = 0; y < f1; ++y)
        mf[x * S + y] = std::min(w[x * st + y], inf);
    std::uint8_t* nearT = mf + f1 * S;  // the nearest untouched terminal's distance
    std::uint8_t* near2 = nearT + S;    // the second nearest's
    std::uint8_t* who = near2 + S;      // which is the nearest
    std::uint8_t* cols = who + S;
    for (int z = 0; z < t1; ++z)
      for (int x = 0; x < f1; ++x) {
        const std::uint8_t v = std::min(w[x * st + f1 + z], inf);
        cols[z * S + x] = v;
        if (v < nearT[x])
          near2[x] = nearT[x], nearT[x] = v, who[x] = static_cast<std::uint8_t>(z);
        else if (v < near2[x])
          near2[x] = v;
      }
    // Only the hardest columns count: reaching a column pointwise above
    // another reaches that one too.
    std::vector<std::uint8_t> colRecords(cols, cols + std::size_t(t1) * S);
    e.cols = static_cast<std::uint32_t>(canonical<S>(
        colRecords, t1,
        [](const std::uint8_t* a, const std::uint8_t* b) { return lessEqual<S>(a, b); }));
    std::copy(colRecords.begin(), colRecords.begin() + std::size_t(e.cols) * S, cols);
    // The entries of d within D that no two untouched terminals can use
    // (distinct ones: the nearest and second nearest of each end tell).
    auto untouched = [&](int a, int b) {
      if (who[a] != who[b] || nearT[a] >= inf) return nearT[a] + nearT[b];
      return std::min(nearT[a] + near2[b], near2[a] + nearT[b]);
    };
    e.open = static_cast<std::uint32_t>(cacheOpen_.size());
    for (int a = 0, k = 0; a < f1; ++a)
      for (int b = a + 1; b < f1; ++b, ++k)
        if (key[k] <= D_ && key[k] + untouched(a, b) > D_)
          cacheOpen_.push_back(static_cast<std::uint32_t>(k << 16 | a << 8 | b));
    e.opens = static_cast<std::uint32_t>(cacheOpen_.size()) - e.open;
    cacheData_.resize(e.offset + std::size_t(f1 + 3 + e.cols) * S);
  }
  cache_.push_back(e);
  cacheBytes_ = cacheIndex_.bytes() + cacheData_.capacity() + cacheOpen_.capacity() * 4 +
                cache_.capacity() * sizeof(CacheEntry);
  return cache_.back();
}

// d(a, b) reads D + 1 unless some requirement has a best-case route
// through it within D: two untouched terminals, a profile of R2 and an
// untouched terminal, or the two sides of a pair. `out` holds the child's
// d bytes; the entries to weigh, those the untouched terminals cannot use,
// depend on d alone and come from the cache.
template <int S, class ReachOf>
void ProfileRules::capShortcuts(std::uint8_t* out, int nR2, int nPairs, const CacheEntry& entry,
                                const std::uint8_t* nearT, const ReachOf& reachOf) {
  if (entry.opens == 0) return;
  const std::uint8_t inf = static_cast<std::uint8_t>(inf_);
  // The nearest reach of any profile of R2: the minima over profiles and
  // over frontier nodes commute, so one reach of the profiles' minimum.
  std::uint8_t* lowest = a_.data();
  std::fill(lowest, lowest + S, inf);
  for (int r = 0; r < nR2; ++r)
    lowerInto<S>(lowest, &r2_[std::size_t(r) * S]);
  std::uint8_t* nearR2 = b_.data();
  reachOf(lowest, nearR2);
  const std::uint32_t* open = cacheOpen_.data() + entry.open;
  for (std::uint32_t c = 0; c < entry.opens; ++c) {
    const int k = static_cast<int>(open[c] >> 16), a = open[c] >> 8 & 0xFF, b = open[c] & 0xFF;
    const int x = out[k];
    bool useful = x + nearR2[a] + nearT[b] <= D_ || x + nearT[a] + nearR2[b] <= D_;
    for (int q = 0; q < nPairs && !useful; ++q) {
      const std::uint8_t* rp = &pairReach_[std::size_t(q) * 2 * S];
      const std::uint8_t* rq = rp + S;
      useful = x + rp[a] + rq[b] <= D_ || x + rq[a] + rp[b] <= D_;
    }
    if (!useful) out[k] = inf;
  }
}

template <int S>
Outcome ProfileRules::childOf(int level, const std::uint64_t* parent, bool works,
                              std::vector<std::uint64_t>& out) {
  const Level& L = levels_[level];
  const std::uint8_t inf = static_cast<std::uint8_t>(inf_), D = static_cast<std::uint8_t>(D_);
  if (parent != decoded_ || level != decodedLevel_) {
    decode<S>(L, reinterpret_cast<const std::uint8_t*>(parent), L.f);
    decoded_ = parent;
    decodedLevel_ = level;
  }
  int nR2 = baseR2Count_, nPairs = basePairCount_;
  if (works) {
    // The sweeps ask for a parent's failing branch, then its working one:
    // this branch takes the decoded rows themselves, and a later call for
    // the same parent decodes it again.
    r2_.swap(baseR2_);
    pairs_.swap(basePairs_);
    d_.swap(baseD_);
    decoded_ = nullptr;
  } else {
    r2_.assign(baseR2_.begin(), baseR2_.begin() + std::size_t(nR2) * S);
    pairs_.assign(basePairs_.begin(), basePairs_.begin() + std::size_t(nPairs) * 2 * S);
    std::copy(baseD_.begin(), baseD_.begin() + std::size_t(L.work) * S, d_.begin());
  }
  std::uint8_t* d = d_.data();

  if (works) {
    const int u = L.u, v = L.v;
    std::uint8_t* cu = colU_.data();
    std::uint8_t* cv = colV_.data();
    std::memcpy(cu, d + u * S, S);
    std::memcpy(cv, d + v * S, S);
    auto update = [&](std::uint8_t* p) {
      const int pu = p[u], pv = p[v];
      if (pu < inf) relax<S>(p, pu + 1, cv, inf);
      if (pv < inf) relax<S>(p, pv + 1, cu, inf);
    };
    for (int a = 0; a < L.work; ++a)
      update(d + a * S);
    for (int r = 0; r < nR2; ++r)
      update(&r2_[std::size_t(r) * S]);
    int kept = 0;
    for (int p = 0; p < nPairs; ++p) {
      std::uint8_t* pair = &pairs_[std::size_t(p) * 2 * S];
      update(pair);
      update(pair + S);
      if (pair[u] + pair[S + u] <= D_) continue;  // now within D
      if (kept != p) std::memcpy(&pairs_[std::size_t(kept) * 2 * S], pair, 2 * S);
      ++kept;
    }
    nPairs = kept;
  }
  if (L.t1 == 0 && nPairs == 0) return Outcome::kAccepted;

  // Onto the child's frontier. The kept positions are the work positions
  // in order, less the edge's ends that leave: for S = 16 each leaving
  // byte goes by moving the bytes above it one place down, then the bytes
  // past f1 read D + 1. The masks are made once a child, in locals: every
  // row is written through a byte pointer, which could alias the level's.
  const int f1 = L.f1;
  const int leaves = static_cast<int>(L.leaving.size());
  Lanes under[16];        // under[i]: the lanes below leaving position i
  if constexpr (S == 16)  // work positions < 16
    for (int i = 0; i < leaves; ++i)
      under[i] = below(L.leaving[i]);
  const Lanes keep = below(std::min(f1, 16)), infs = splat(inf);
  // `rows` rows of S bytes from `p` on; for S = 16 the usual one or two
  // leaving bytes are steps written out, not a loop a row.
  auto project = [&](std::uint8_t* p, int rows) {
    if constexpr (S == 16) {
      auto each = [&](auto step) {
        for (int r = 0; r < rows; ++r, p += S)
          store(p, pick(step(load(p)), keep, infs));
      };
      auto one = [&](Lanes x, int i) { return pick(x, under[i], downOne(x)); };
      switch (leaves) {
        case 0:
          each([](Lanes x) { return x; });
          break;
        case 1:
          each([&](Lanes x) { return one(x, 0); });
          break;
        case 2:
          each([&](Lanes x) { return one(one(x, 0), 1); });
          break;
        default:
          each([&](Lanes x) {
            for (int i = 0; i < leaves; ++i)
              x = one(x, i);
            return x;
          });
      }
    } else {
      for (int r = 0; r < rows; ++r, p += S) {
        std::uint8_t tmp[S];
        for (int j = 0; j < S; ++j)
          tmp[j] = j < f1 ? p[L.keep[j]] : inf;
        std::memcpy(p, tmp, S);
      }
    }
  };
  std::uint8_t* cd = childD_.data();  // rows past f1 are never read
  for (int a = 0; a < f1; ++a)
    std::memcpy(cd + a * S, d + L.keep[a] * S, S);
  project(cd, f1);
  project(r2_.data(), nR2);
  project(pairs_.data(), 2 * nPairs);

  const int keyBytes = f1 * (f1 - 1) / 2;
  // Row a's part right of the diagonal, 16 bytes at a time: the bytes
  // past it are written over by the next row, or zeroed after the last
  // (rows and key have room: a * S + a + 17 <= S * S for a <= S - 2).
  for (int a = 0, k = 0; a + 1 < f1; k += f1 - a - 1, ++a)
    for (int j = 0; j < f1 - a - 1; j += 16)
      std::memcpy(&key_[k + j], cd + a * S + a + 1 + j, 16);
  std::fill(key_.begin() + keyBytes, key_.begin() + (keyBytes + 7) / 8 * 8 + 8, 0);
  const CacheEntry entry = lookup<S>(level, key_.data(), keyBytes, L);
  if (!entry.ok) return Outcome::kRejected;
  const std::uint8_t* mf = cacheData_.data() + entry.offset;
  const std::uint8_t* nearT = mf + f1 * S;
  const std::uint8_t* cols = nearT + 3 * S;  // past near2 and who
  // reach = min over x of p[x] + M(x, .)
  auto reachOf = [&](const std::uint8_t* p, std::uint8_t* r) { reachFrom<S>(p, f1, mf, r, inf); };

  for (int r = 0; r < nR2; ++r) {
    std::uint8_t* p = &r2_[std::size_t(r) * S];
    capBy<S>(p, nearT, D, inf);
    for (std::uint32_t c = 0; c < entry.cols; ++c)
      if (!anyWithin<S>(p, cols + c * S, D)) return Outcome::kRejected;
  }
  if (pairReach_.size() < std::size_t(nPairs) * 2 * S)  // grows only: its rows are all written
    pairReach_.resize(std::size_t(nPairs) * 2 * S);
  for (int q = 0; q < nPairs; ++q) {
    std::uint8_t* p = &pairs_[std::size_t(q) * 2 * S];
    std::uint8_t* pq = p + S;
    std::uint8_t* reachP = &pairReach_[std::size_t(q) * 2 * S];
    std::uint8_t* reachQ = reachP + S;
    reachFrom2<S>(p, pq, f1, mf, reachP, reachQ, inf);
    if (!anyWithin<S>(reachP, pq, D)) return Outcome::kRejected;
    capBy<S>(pq, reachP, D, inf);
    capBy<S>(p, reachQ, D, inf);
    if (before(pq, p, S))
      for (int k = 0; k < S; k += 16) {
        const Lanes x = load(p + k);
        store(p + k, load(pq + k));
        store(pq + k, x);
      }
  }
  const int pairsBefore = nPairs;  // pairReach_ rows: every pair, dominated ones too
  nR2 = canonical<S>(
      r2_, nR2, [](const std::uint8_t* a, const std::uint8_t* b) { return lessEqual<S>(a, b); });
  nPairs = canonical<2 * S>(pairs_, nPairs, [](const std::uint8_t* a, const std::uint8_t* b) {
    return (lessEqual<S>(a, b) && lessEqual<S>(a + S, b + S)) ||
           (lessEqual<S>(a, b + S) && lessEqual<S>(a + S, b));
  });
  if (nR2 > 0xFFFF || nPairs > 0xFFFF) throw std::bad_alloc();

  // Write the child; d entries no requirement can use read D + 1. The
  // body (all but the counts) goes through raw_ when it is packed.
  const std::size_t body = keyBytes + std::size_t(nR2) * f1 + std::size_t(nPairs) * 2 * f1;
  const std::size_t bytes = 4 + (packed_ ? (body + 1) / 2 : body);
  // Every byte up to `bytes` is written below; those past it, in the last
  // word, must read zero.
  out.resize((bytes + 7) / 8);
  out.back() = 0;
  auto* head = reinterpret_cast<std::uint8_t*>(out.data());
  head[0] = static_cast<std::uint8_t>(nR2), head[1] = static_cast<std::uint8_t>(nR2 >> 8);
  head[2] = static_cast<std::uint8_t>(nPairs), head[3] = static_cast<std::uint8_t>(nPairs >> 8);
  std::uint8_t* o = packed_ ? rawFor(body) : head + 4;
  std::memcpy(o, key_.data(), keyBytes);  // d's upper triangle, as the cache's key
  o += keyBytes;
  capShortcuts<S>(o - keyBytes, nR2, pairsBefore, entry, nearT, reachOf);
  if (S == 16 && packed_) {
    // raw_ has 16 bytes of room past the body: whole rows go, each
    // written over past f1 by the next.
    for (int r = 0; r < nR2; ++r, o += f1)
      store(o, load(&r2_[std::size_t(r) * S]));
    for (int row = 0; row < 2 * nPairs; ++row, o += f1)
      store(o, load(&pairs_[std::size_t(row) * S]));
  } else {
    for (int r = 0; r < nR2; ++r, o += f1)
      copyRow(o, &r2_[std::size_t(r) * S], f1);
    for (int row = 0; row < 2 * nPairs; ++row, o += f1)
      copyRow(o, &pairs_[std::size_t(row) * S], f1);
  }
  if (packed_) packNibbles(head + 4, raw_.data(), body);
  return Outcome::kState;
}

}  // namespace frontier
