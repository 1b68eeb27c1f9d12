// The samplers, the block scheduler and the intervals; see estimate.hpp.
#include "estimate/estimate.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <thread>

#include "estimate/internal.hpp"
#include "frontier/exchange.hpp"

namespace estimate {

const char* statusName(Status status) {
  switch (status) {
    case Status::kComplete:
      return "complete";
    case Status::kTimeLimit:
      return "time limit";
    case Status::kCancelled:
      return "cancelled";
    case Status::kInvalidInput:
      return "invalid input";
  }
  return "?";
}

namespace {

using namespace detail;
using Clock = std::chrono::steady_clock;

constexpr int kCrudeBlock = kLanes;
constexpr int kPermutationBlock = 8;
constexpr std::uint64_t kCrudeStream = 1, kPermutationStream = 2;
constexpr std::uint64_t kPilotBlocks = 16;  // 4096 crude samples
constexpr std::size_t kSourcesFrom = 8;     // terminals from which firstUp bisects with SourceTest
constexpr std::uint64_t kMaxRound = 1024;   // checkpoints: 1, 2, 4, .. 1024, then every 1024 blocks

// Count, mean and sum of squared deviations of one point's samples (of the
// failure indicator or of P(down | order)); merged in block order.
struct Moments {
  double n = 0, mean = 0, m2 = 0;
  std::uint64_t failures = 0;  // crude only
  void add(const Moments& b) {
    if (b.n == 0) return;
    const double total = n + b.n, delta = b.mean - mean;
    mean += delta * (b.n / total);
    m2 += b.m2 + delta * delta * (n * b.n / total);
    n = total;
    failures += b.failures;
  }
};

// One edge's sums for its importance. Crude: samples with the edge up (n1)
// and down (n0), and of those the samples up (u1, u0). Permutation: the
// moments of P(down, edge down | order) / (1 - p_e) - P(down, edge up |
// order) / p_e, whose mean is dR/dp_e.
struct EdgeSums {
  double n1 = 0, u1 = 0, n0 = 0, u0 = 0;
  Moments c;
  void add(const EdgeSums& b) {
    n1 += b.n1;
    u1 += b.u1;
    n0 += b.n0;
    u0 += b.u0;
    c.add(b.c);
  }
};

// What every worker shares: the graph and, per sampled point, the edge
// thresholds (crude) and the rate scale (permutation).
struct Setup {
  Graph graph;
  std::uint64_t seed = 1;
  std::vector<std::vector<Threshold>> thresholds;  // [point][edge]
  std::vector<int> sure;                           // edges born at time 0 (p = 1)
  std::vector<int> random;                         // edges with 0 < rate < infinity
  std::vector<double> base;                        // per edge, the rate that orders births
  std::vector<double> scale;                       // per point: its rates are scale * base
  // Every random edge has the same base rate: then stage j's rate is the
  // same whatever the order, and P(down | order) depends on the stage
  // count alone, so each worker keeps it per (point, stages).
  bool sameRates = false;
  bool importance = false;  // also each edge's importance (one point only)
  std::vector<double> p;    // per edge, for the importance
  int edgeSlots() const { return importance ? graph.edges : 0; }
  int points() const { return static_cast<int>(thresholds.size()); }
};

class Worker {
 public:
  explicit Worker(const Setup& s)
      : s_(s),
        test_(s.graph),
        sources_(s.graph),
        state_(s.graph.edges),
        tails_(s.sameRates ? s.points() : 0,
               std::vector<double>(s.random.size() + 1, std::numeric_limits<double>::quiet_NaN())) {
  }

  void crude(std::uint64_t block, int count, Moments* out, EdgeSums* edges) {
    const std::uint64_t key = blockKey(s_.seed, kCrudeStream, block);
    for (int i = 0; i < s_.points(); ++i) {
      const auto& thr = s_.thresholds[i];
      for (int e = 0; e < s_.graph.edges; ++e)
        for (int w = 0; w < kLaneWords; ++w)
          state_[e].w[w] = s_.graph.selfLoop[e] ? 0 : bernoulliWord(thr[e], edgeKey(key, e, w));
      const Lanes alive = Lanes::first(count);
      const Lanes upLanes = test_.up(state_.data(), alive);
      const int up = upLanes.count();
      const std::uint64_t f = static_cast<std::uint64_t>(count - up);
      const double n = count, fd = static_cast<double>(f);
      out[i] = Moments{n, fd / n, fd * (n - fd) / n, f};
      if (edges) {
        for (int e = 0; e < s_.graph.edges; ++e) {
          Lanes x, xu;
          for (int w = 0; w < kLaneWords; ++w) {
            x.w[w] = state_[e].w[w] & alive.w[w];
            xu.w[w] = x.w[w] & upLanes.w[w];
          }
          EdgeSums& es = edges[e];
          es.n1 = x.count();
          es.u1 = xu.count();
          es.n0 = n - es.n1;
          es.u0 = up - es.u1;
        }
      }
    }
  }

  void permutation(std::uint64_t block, int count, Moments* out, EdgeSums* edges) {
    const std::uint64_t key = blockKey(s_.seed, kPermutationStream, block);
    for (int i = 0; i < s_.points(); ++i)
      out[i] = Moments{};
    for (int e = 0; edges && e < s_.graph.edges; ++e)
      edges[e] = EdgeSums{};
    const int nSure = static_cast<int>(s_.sure.size());
    const int nRandom = static_cast<int>(s_.random.size());
    for (int sample = 0; sample < count; ++sample) {
      const std::uint64_t sampleKey = mix(key ^ (static_cast<std::uint64_t>(sample) + 1));
      // Birth times E_e / rate_e with E_e ~ Exp(1); U in (0, 1] from 53 bits.
      births_.clear();
      for (int j = 0; j < nRandom; ++j) {
        const int e = s_.random[j];
        const double u = static_cast<double>((randomWord(sampleKey, e) >> 11) + 1) * 0x1p-53;
        births_.push_back({-std::log(u) / s_.base[e], e});
      }
      std::sort(births_.begin(), births_.end());
      order_.assign(s_.sure.begin(), s_.sure.end());
      for (const auto& b : births_)
        order_.push_back(b.second);
      const int stages = firstUp(nSure) - nSure;
      // Stage j's total rate: the base rates of the random edges not yet
      // born, summed from the last so no sum is formed by subtraction.
      suffix_.assign(nRandom + 1, 0.0);
      for (int j = nRandom - 1; j >= 0; --j)
        suffix_[j] = suffix_[j + 1] + s_.base[births_[j].second];
      for (int i = 0; i < s_.points(); ++i) {
        const Moments one{1, tail(i, stages), 0, 0};
        out[i].add(one);
      }
      if (edges) addImportance(stages, edges);
    }
  }

 private:
  // One order's share of every random edge's importance. The edge born
  // i-th (1-based) is down at time 1 iff fewer than i births happened, and
  // the network is down iff fewer than `stages` did: with T(i) = P(fewer
  // than i births by time 1 | order), P(down, edge down) = T(min(i,
  // stages)) and P(down, edge up) = T(stages) - T(i) for i < stages.
  void addImportance(int stages, EdgeSums* edges) {
    const int nRandom = static_cast<int>(s_.random.size());
    all_.resize(nRandom + 1);
    all_[0] = 0;
    if (s_.sameRates) {
      for (int i = 1; i <= stages; ++i)
        all_[i] = tail(0, i);
    } else {
      rates_.resize(stages);
      for (int j = 0; j < stages; ++j)
        rates_[j] = s_.scale[0] * suffix_[j];
      hypoexponentialTails(rates_.data(), stages, all_.data() + 1);
    }
    for (int r = 0; r < nRandom; ++r) {
      const int e = births_[r].second, i = r + 1;
      const double downDown = all_[std::min(i, stages)];
      const double downUp = i < stages ? all_[stages] - all_[i] : 0.0;
      const Moments one{1, downDown / (1 - s_.p[e]) - downUp / s_.p[e], 0, 0};
      edges[e].c.add(one);
    }
  }

  // P(down | order) at a point: the tail of the first `stages` stages of
  // this order's rates, cached per stage count when all rates are equal.
  double tail(int point, int stages) {
    double* cached = s_.sameRates ? &tails_[point][stages] : nullptr;
    if (cached && !std::isnan(*cached)) return *cached;
    rates_.resize(stages);
    for (int j = 0; j < stages; ++j)
      rates_[j] = s_.scale[point] * suffix_[j];
    const double c = hypoexponentialTail(rates_.data(), stages);
    if (cached) *cached = c;
    return c;
  }

  // The least prefix length of order_ whose edges make the network up,
  // known to lie in (lo, order_.size()]: 256 candidate lengths per up test,
  // one lane each, so a network of up to 257 random edges needs one test.
  int firstUp(int lo) {
    int hi = static_cast<int>(order_.size());
    // A prefix that leaves some terminal without an edge is down.
    touch_.assign(s_.graph.nodes, hi);
    for (int r = hi - 1; r >= 0; --r) {
      const auto [u, v] = s_.graph.ends[order_[r]];
      touch_[u] = touch_[v] = r;
    }
    for (int t : s_.graph.terminals)
      lo = std::max(lo, std::min(touch_[t], hi - 1));
    if (useSources_) {
      // Bisection, one state per test, every terminal searched at once.
      while (hi - lo > 1) {
        const int mid = lo + (hi - lo) / 2;
        (sources_.up(order_.data(), mid) ? hi : lo) = mid;
      }
      return hi;
    }
    for (auto& s : state_)
      s = Lanes{};
    while (hi - lo > 1) {
      const int span = hi - lo - 1, lanes = std::min(kLanes, span);
      lengths_.resize(lanes);
      for (int l = 0; l < lanes; ++l)
        lengths_[l] = lo + 1 + static_cast<int>(static_cast<long long>(l) * span / lanes);
      const Lanes all = Lanes::first(lanes);
      int f = 0;
      for (int r = 0; r < hi; ++r) {
        while (f < lanes && lengths_[f] <= r)
          ++f;
        Lanes in = all;  // lanes l >= f, whose prefix includes rank r
        const Lanes below = Lanes::first(f);
        for (int w = 0; w < kLaneWords; ++w)
          in.w[w] &= ~below.w[w];
        state_[order_[r]] = in;
      }
      const Lanes up = test_.up(state_.data(), all);
      int first = -1;
      for (int w = 0; w < kLaneWords && first < 0; ++w)
        if (up.w[w]) first = 64 * w + std::countr_zero(up.w[w]);
      if (first < 0) {
        lo = lengths_[lanes - 1];
      } else {
        hi = lengths_[first];
        if (first > 0) lo = lengths_[first - 1];
      }
      for (int r = 0; r < static_cast<int>(order_.size()); ++r)
        state_[order_[r]] = Lanes{};
    }
    return hi;
  }

  const Setup& s_;
  UpTest test_;
  SourceTest sources_;
  // Many terminals and a binding limit: searching from every terminal at
  // once on one state beats one lane-parallel search per terminal.
  const bool useSources_ = !s_.graph.connectivityOnly && s_.graph.terminals.size() >= kSourcesFrom;
  std::vector<Lanes> state_;
  std::vector<std::pair<double, int>> births_;
  std::vector<int> order_, lengths_, touch_;
  std::vector<double> suffix_, rates_, all_;
  std::vector<std::vector<double>> tails_;  // [point][stages], NaN until needed
};

struct Interval {
  double u = 0, se = 0, low = 0, high = 1, halfWidth = 1;
  bool settled = false;  // enough samples for the relative-error rule
};

Interval interval(const Moments& m, bool crude, double z) {
  Interval iv;
  if (m.n == 0) return iv;
  iv.u = m.mean;
  if (crude) {
    const double n = m.n, f = static_cast<double>(m.failures);
    iv.u = f / n;
    iv.se = std::sqrt(iv.u * (1 - iv.u) / n);
    if (f >= 10 && n - f >= 10) {
      iv.low = iv.u - z * iv.se;
      iv.high = iv.u + z * iv.se;
      iv.settled = true;
    } else {
      // Wilson: the normal interval breaks down with few events (and has
      // width zero with none).
      const double z2 = z * z, centre = (f + z2 / 2) / (n + z2);
      const double half = z / (n + z2) * std::sqrt(f * (n - f) / n + z2 / 4);
      iv.low = centre - half;
      iv.high = centre + half;
    }
  } else if (m.n >= 2) {
    iv.se = std::sqrt(m.m2 / (m.n - 1) / m.n);
    iv.low = iv.u - z * iv.se;
    iv.high = iv.u + z * iv.se;
    iv.settled = m.n >= 256;
  } else {
    iv.low = 0;
    iv.high = 1;
  }
  iv.low = std::clamp(iv.low, 0.0, 1.0);
  iv.high = std::clamp(iv.high, 0.0, 1.0);
  iv.halfWidth = std::max(iv.u - iv.low, iv.high - iv.u);
  return iv;
}

bool meetsTarget(const Interval& iv, double relError) {
  return relError > 0 && iv.settled && iv.halfWidth <= relError * std::min(iv.u, 1 - iv.u);
}

struct Outcome {
  Status status = Status::kComplete;
  std::string reason;
  std::vector<Moments> sums;
  std::vector<EdgeSums> edges;
  bool switchToPermutation = false;
};

double secondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// Over ranks: each rank's finished blocks of a round (and whether it was
// stopped or cancelled) to rank 0, and the whole round back to every rank.
void shareRound(frontier::Exchange& ex, int points, int slots, std::uint64_t size, bool& cancelled,
                std::atomic<bool>& stop, std::vector<char>& finished,
                std::vector<Moments>& blockOut, std::vector<EdgeSums>& blockEdges) {
  auto put = [](std::vector<std::uint8_t>& out, const void* p, std::size_t bytes) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    out.insert(out.end(), b, b + bytes);
  };
  std::vector<std::uint8_t> mine;
  const std::uint64_t flags[2] = {cancelled ? 1u : 0u, stop ? 1u : 0u};
  put(mine, flags, sizeof flags);
  for (std::uint64_t j = 0; j < size; ++j) {
    if (!finished[j]) continue;
    put(mine, &j, sizeof j);
    put(mine, &blockOut[j * points], sizeof(Moments) * points);
    if (slots > 0) put(mine, &blockEdges[j * slots], sizeof(EdgeSums) * slots);
  }
  std::vector<std::vector<std::uint8_t>> all;
  ex.gather(mine, all);
  std::vector<std::uint8_t> round;
  for (const auto& part : all) {  // rank 0 only: every part, its length first
    const std::uint64_t n = part.size();
    put(round, &n, sizeof n);
    round.insert(round.end(), part.begin(), part.end());
  }
  ex.broadcast(round);
  const std::size_t entry = 8 + sizeof(Moments) * points + sizeof(EdgeSums) * slots;
  for (std::size_t at = 0; at < round.size();) {
    std::uint64_t n, partFlags[2];
    std::memcpy(&n, &round[at], 8);
    std::memcpy(partFlags, &round[at + 8], sizeof partFlags);
    cancelled = cancelled || partFlags[0] != 0;
    if (partFlags[1] != 0) stop = true;
    for (std::size_t e = at + 8 + sizeof partFlags; e < at + 8 + n; e += entry) {
      std::uint64_t j;
      std::memcpy(&j, &round[e], 8);
      finished[j] = 1;
      std::memcpy(&blockOut[j * points], &round[e + 8], sizeof(Moments) * points);
      if (slots > 0)
        std::memcpy(&blockEdges[j * slots], &round[e + 8 + sizeof(Moments) * points],
                    sizeof(EdgeSums) * slots);
    }
    at += 8 + n;
  }
}

// Runs blocks of one sampler until a rule stops it. pilot: decide at block
// kPilotBlocks whether crude should give way to permutation.
Outcome run(const Setup& setup, bool permutation, const Options& opt, Clock::time_point start,
            bool pilot) {
  const int points = setup.points();
  const std::uint64_t blockSize = permutation ? kPermutationBlock : kCrudeBlock;
  const std::uint64_t maxBlocks = opt.samples ? (opt.samples + blockSize - 1) / blockSize
                                              : std::numeric_limits<std::uint64_t>::max();
  const int lastCount = opt.samples ? static_cast<int>(opt.samples - (maxBlocks - 1) * blockSize)
                                    : static_cast<int>(blockSize);
  const double z = normalQuantile(0.5 + opt.confidence / 2);
  const bool timed = opt.timeLimit >= 0;
  const auto deadline = start + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(timed ? opt.timeLimit : 0.0));
  int threads =
      opt.threads > 0 ? opt.threads : static_cast<int>(std::thread::hardware_concurrency());
  threads = std::max(threads, 1);
  std::vector<std::unique_ptr<Worker>> workers;
  // Over ranks, block b of a round goes to rank (b - round start) % ranks;
  // the round's blocks then meet on every rank and merge as in one process.
  frontier::Exchange* ex =
      opt.exchange != nullptr && opt.exchange->size() > 1 ? opt.exchange : nullptr;
  const std::uint64_t ranks = ex ? static_cast<std::uint64_t>(ex->size()) : 1;
  const std::uint64_t me = ex ? static_cast<std::uint64_t>(ex->rank()) : 0;

  Outcome out;
  out.sums.assign(points, Moments{});
  const int slots = setup.edgeSlots();
  out.edges.assign(slots, EdgeSums{});
  std::uint64_t done = 0;
  for (;;) {
    const std::uint64_t target =
        std::min(maxBlocks, done == 0 ? 1 : std::min(2 * done, done + kMaxRound));
    const std::uint64_t size = target - done;
    std::vector<Moments> blockOut(size * points);
    std::vector<EdgeSums> blockEdges(size * slots);
    std::vector<char> finished(size, 0);
    std::atomic<std::uint64_t> next{0};  // this rank's blocks of the round, counted
    std::atomic<bool> stop{false};
    bool cancelled = false, late;
    const int used = static_cast<int>(
        std::max<std::uint64_t>(1, std::min<std::uint64_t>(threads, size / ranks)));
    while (static_cast<int>(workers.size()) < used)
      workers.push_back(std::make_unique<Worker>(setup));
    auto work = [&](int t) {
      Worker& w = *workers[t];
      for (;;) {
        if (stop.load(std::memory_order_relaxed)) return;
        if (timed && Clock::now() >= deadline) {
          stop = true;
          return;
        }
        const std::uint64_t b = done + me + next++ * ranks;
        if (b >= target) return;
        const int count = b + 1 == maxBlocks ? lastCount : static_cast<int>(blockSize);
        Moments* slot = &blockOut[(b - done) * points];
        EdgeSums* edges = slots ? &blockEdges[(b - done) * slots] : nullptr;
        permutation ? w.permutation(b, count, slot, edges) : w.crude(b, count, slot, edges);
        finished[b - done] = 1;
        if (t == 0 && me == 0 && opt.cancelled && opt.cancelled()) {
          cancelled = true;
          stop = true;
          return;
        }
      }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < used; ++t)
      pool.emplace_back(work, t);
    work(0);
    for (auto& th : pool)
      th.join();
    if (ex != nullptr)
      shareRound(*ex, points, slots, size, cancelled, stop, finished, blockOut, blockEdges);
    late = stop && !cancelled;

    // Merge the blocks in order, up to the first one not finished.
    std::uint64_t merged = 0;
    while (merged < size && finished[merged]) {
      for (int i = 0; i < points; ++i)
        out.sums[i].add(blockOut[merged * points + i]);
      for (int e = 0; e < slots; ++e)
        out.edges[e].add(blockEdges[merged * slots + e]);
      ++merged;
    }
    done += merged;
    if (cancelled || late || merged < size) {
      out.status = cancelled ? Status::kCancelled : Status::kTimeLimit;
      out.reason = cancelled ? "cancelled" : "time limit";
      return out;
    }

    // A checkpoint: the same block count whatever the threads.
    std::vector<Interval> ivs(points);
    int worst = 0;
    bool all = true;
    for (int i = 0; i < points; ++i) {
      ivs[i] = interval(out.sums[i], !permutation, z);
      if (!meetsTarget(ivs[i], opt.relError)) {
        if (all) worst = i;
        all = false;
      }
    }
    if (opt.progress && points > 0 && me == 0) {
      Progress pr;
      pr.samples = static_cast<std::uint64_t>(out.sums[worst].n);
      pr.estimate = 1 - ivs[worst].u;
      pr.halfWidth = ivs[worst].halfWidth;
      opt.progress(pr);
    }
    if (pilot && done == kPilotBlocks && done < maxBlocks && out.sums[0].failures < 4) {
      out.switchToPermutation = true;
      return out;
    }
    if (done >= maxBlocks) {
      out.reason = "samples";
      return out;
    }
    if (all) {
      out.reason = "relative error";
      return out;
    }
    if (ex == nullptr && opt.cancelled && opt.cancelled()) {  // ranks: at the next block
      out.status = Status::kCancelled;
      out.reason = "cancelled";
      return out;
    }
  }
}

Result invalid(std::string message) {
  Result r;
  r.status = Status::kInvalidInput;
  r.message = std::move(message);
  return r;
}

Result exactResult(double reliability, const Options& opt, std::string why) {
  Result r;
  r.status = Status::kComplete;
  r.estimate = r.ciLow = r.ciHigh = reliability;
  r.unreliability = 1 - reliability;
  r.confidence = opt.confidence;
  r.seed = opt.seed;
  r.sampler = "exact";
  r.reason = "exact";
  r.message = std::move(why);
  return r;
}

std::string checkOptions(const Options& opt) {
  if (!(opt.confidence > 0 && opt.confidence < 1)) return "confidence must lie in (0, 1)";
  if (!(opt.relError >= 0) || std::isinf(opt.relError)) return "relError must be finite and >= 0";
  if (std::isnan(opt.timeLimit)) return "timeLimit is not a number";
  if (opt.threads < 0) return "threads must be >= 0";
  if (opt.samples == 0 && opt.relError == 0 && opt.timeLimit < 0)
    return "no stopping rule: set samples, relError or timeLimit";
  return "";
}

// The network's state with the given edges working, one lane.
bool upWith(const Graph& g, const std::vector<char>& working) {
  std::vector<Lanes> state(g.edges);
  for (int e = 0; e < g.edges; ++e)
    if (working[e]) state[e] = Lanes::first(1);
  UpTest test(g);
  return test.up(state.data(), Lanes::first(1)).any();
}

bool sameBase(const Setup& s) {
  for (int e : s.random)
    if (s.base[e] != s.base[s.random[0]]) return false;
  return true;
}

Result fill(const Outcome& o, int point, bool permutation, const Options& opt,
            Clock::time_point start) {
  Result r;
  r.status = o.status;
  r.reason = o.reason;
  r.confidence = opt.confidence;
  r.seed = opt.seed;
  r.sampler = permutation ? "permutation" : "crude";
  const Moments& m = o.sums[point];
  const Interval iv = interval(m, !permutation, normalQuantile(0.5 + opt.confidence / 2));
  r.samples = static_cast<std::uint64_t>(m.n);
  r.unreliability = iv.u;
  r.estimate = 1 - iv.u;
  r.stdError = iv.se;
  r.ciLow = 1 - iv.high;
  r.ciHigh = 1 - iv.low;
  r.seconds = secondsSince(start);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const EdgeSums& es : o.edges) {
    double value = nan, se = nan;
    if (!permutation && es.n1 > 0 && es.n0 > 0) {
      const double q1 = es.u1 / es.n1, q0 = es.u0 / es.n0;
      value = q1 - q0;
      se = std::sqrt(q1 * (1 - q1) / es.n1 + q0 * (1 - q0) / es.n0);
    } else if (permutation && es.c.n >= 2) {
      value = es.c.mean;
      se = std::sqrt(es.c.m2 / (es.c.n - 1) / es.c.n);
    }
    r.importance.push_back(value);
    r.importanceStdError.push_back(se);
  }
  return r;
}

}  // namespace

Result estimateReliability(const Problem& problem, const Options& options) {
  const auto start = Clock::now();
  if (auto why = checkOptions(options); !why.empty()) return invalid(why);
  Setup s;
  if (auto why = buildGraph(problem, s.graph); !why.empty()) return invalid(why);
  if (problem.p.size() != problem.edges.size())
    return invalid("p must give one probability per edge");
  for (double p : problem.p)
    if (!(p >= 0 && p <= 1)) return invalid("a probability lies outside [0, 1]");
  const Graph& g = s.graph;
  if (g.terminals.size() < 2) {
    Result r = exactResult(1, options, "fewer than two terminals");
    if (options.importance) r.importance = r.importanceStdError = std::vector<double>(g.edges, 0.0);
    return r;
  }

  std::vector<char> sureSet(g.edges, 0), anySet(g.edges, 0);
  s.base.assign(g.edges, 0.0);
  for (int e = 0; e < g.edges; ++e) {
    const double p = problem.p[e];
    if (g.selfLoop[e] || p == 0) continue;  // never helps, or never born
    anySet[e] = 1;
    if (p == 1) {
      sureSet[e] = 1;
      s.sure.push_back(e);
    } else {
      s.random.push_back(e);
      s.base[e] = -std::log1p(-p);
    }
  }
  // Down with every edge working: no edge matters. Up on the sure edges: no
  // random edge matters, and the sure ones are never seen down.
  auto exact = [&](double value, const char* why, bool sureUnknown) {
    Result r = exactResult(value, options, why);
    for (int e = 0; options.importance && e < g.edges; ++e) {
      const bool unknown = sureUnknown && sureSet[e];
      r.importance.push_back(unknown ? std::numeric_limits<double>::quiet_NaN() : 0.0);
      r.importanceStdError.push_back(r.importance.back());
    }
    return r;
  };
  if (!upWith(g, anySet)) return exact(0, "down even with every edge working", false);
  if (upWith(g, sureSet)) return exact(1, "up on the edges with p = 1 alone", true);
  s.seed = options.seed;
  s.sameRates = sameBase(s);
  s.importance = options.importance;
  s.p = problem.p;
  s.thresholds.assign(1, {});
  for (int e = 0; e < g.edges; ++e)
    s.thresholds[0].push_back(threshold(problem.p[e]));
  s.scale = {1.0};

  bool permutation = options.sampler == Sampler::kPermutation;
  Outcome o = run(s, permutation, options, start, options.sampler == Sampler::kAuto);
  if (o.switchToPermutation) {
    permutation = true;
    o = run(s, true, options, start, false);
  }
  Result r = fill(o, 0, permutation, options, start);
  // Self-loops never matter; edges that are never random are told apart
  // by neither sampler.
  for (int e = 0; options.importance && e < g.edges; ++e) {
    if (g.selfLoop[e]) r.importance[e] = r.importanceStdError[e] = 0;
  }
  return r;
}

std::vector<Result> estimateCurve(const Problem& problem, const std::vector<double>& ps,
                                  const Options& options) {
  const auto start = Clock::now();
  std::vector<Result> results(ps.size());
  auto allInvalid = [&](const std::string& why) {
    for (auto& r : results)
      r = invalid(why);
    return results;
  };
  if (auto why = checkOptions(options); !why.empty()) return allInvalid(why);
  Setup s;
  if (auto why = buildGraph(problem, s.graph); !why.empty()) return allInvalid(why);
  for (double p : ps)
    if (!(p >= 0 && p <= 1)) return allInvalid("a probability lies outside [0, 1]");
  const Graph& g = s.graph;
  if (g.terminals.size() < 2) {
    for (auto& r : results)
      r = exactResult(1, options, "fewer than two terminals");
    return results;
  }
  std::vector<char> every(g.edges, 0);
  s.base.assign(g.edges, 0.0);
  for (int e = 0; e < g.edges; ++e)
    if (!g.selfLoop[e]) {
      every[e] = 1;
      s.random.push_back(e);
      s.base[e] = 1;  // one rate for all: the birth order is a uniform permutation
    }
  const bool canBeUp = upWith(g, every);
  std::vector<int> sampled;  // indices into ps
  for (std::size_t i = 0; i < ps.size(); ++i) {
    if (!canBeUp) {
      results[i] = exactResult(0, options, "down even with every edge working");
    } else if (ps[i] == 0) {
      results[i] = exactResult(0, options, "no edge works");
    } else if (ps[i] == 1) {
      results[i] = exactResult(1, options, "every edge works");
    } else {
      sampled.push_back(static_cast<int>(i));
      s.thresholds.emplace_back(g.edges, threshold(ps[i]));
      s.scale.push_back(-std::log1p(-ps[i]));
    }
  }
  if (sampled.empty()) return results;
  s.seed = options.seed;
  s.sameRates = true;
  const bool permutation = options.sampler != Sampler::kCrude;
  const Outcome o = run(s, permutation, options, start, false);
  for (std::size_t j = 0; j < sampled.size(); ++j)
    results[sampled[j]] = fill(o, static_cast<int>(j), permutation, options, start);
  return results;
}

}  // namespace estimate
