// The estimate: diameter-constrained K-terminal reliability by Monte Carlo,
// for networks no exact engine reaches.
//
// Contract
// --------
// A Problem is n nodes (0 .. n-1), an undirected edge list (self-loops are
// ignored, parallel edges allowed), a probability p_e per edge, K terminals
// (duplicates ignored) and a hop limit D (D < 0: no limit). R is the
// probability that every two terminals are joined by a path of at most D
// working edges. The answer is a statistical estimate of R and of 1 - R
// with a confidence interval on R (clipped to [0, 1]), not a bound.
//
//   estimateReliability  R for the problem's own p_e.
//   estimateCurve        R at each p of a list, every edge at that p
//                        (Problem::p is ignored), from one set of samples.
//
// Samplers:
//   kCrude        the indicator of "network up" on independent edge states,
//                 256 samples at once, one bit each (a bit-parallel hop-bounded
//                 search from every terminal). Good while 1 - R is not small.
//   kPermutation  the evolution process: edge e is born at an exponential
//                 time of rate -ln(1 - p_e), so it is born by time 1 with
//                 probability p_e. Per sample, the birth order is drawn and
//                 P(down at time 1 | order) is computed exactly (a
//                 hypoexponential tail); 1 - R is the mean. Conditioning can
//                 only lower the variance, and the relative error stays
//                 bounded as p -> 1, where crude sampling sees no failures.
//   kAuto         a crude pilot of 4096 samples (reused): fewer than 4
//                 failures (1 - R likely below 1e-3) switch to permutation,
//                 else crude goes on. estimateCurve's kAuto is permutation
//                 (one order serves every p, see below).
//
// Stopping: at fixed checkpoints (after 1, 2, 4, ... 1024 blocks, then every
// 1024 blocks) the run stops once Options::samples are drawn (exactly that
// many, the last block cut short), or once the interval's half-width is at
// most relError * min(R, 1 - R) (needing, for crude, at least 10 failures and
// 10 successes; for permutation, at least 256 samples). The time limit and
// cancelled() stop at once; the result then uses the blocks completed in
// order. At least one of samples, relError, timeLimit must be set.
//
// Determinism: samples come in fixed blocks (256 crude, 8 permutation), each
// block's random numbers keyed by (seed, block index) alone; partial sums
// are merged in block order and the rules checked only at the checkpoints.
// So the same seed gives the same bits whatever `threads` is, unless the time
// limit or cancellation stops the run.
//
// Importance (Options::importance), from the same samples at no extra
// search: crude takes, per edge, the up fractions among samples with the
// edge up and down, q1 - q0, with standard error sqrt(q1(1 - q1)/n1 +
// q0(1 - q0)/n0); few samples see a reliable edge down (about (1 - p_e) n),
// so its error is about sqrt(R(1 - R) / ((1 - p_e) n)). Permutation
// conditions on the order as for R: an edge born i-th is down at time 1
// iff fewer than i births happened, which gives P(down, edge down | order)
// and P(down, edge up | order) from the tails of the same order, and
// dR/dp_e = E[first] / (1 - p_e) - E[second] / p_e; both are small with
// 1 - R, so the error stays relative to 1 - R as p -> 1. Cost: a few
// operations per edge and sample (crude), or one pass for the tails of
// every prefix per sample (permutation with unequal rates).
//
// Intervals: normal, with the sample standard error. Crude sampling with
// fewer than 10 failures (or successes) takes the Wilson score interval
// instead, so zero failures still give an interval of honest width.
//
// Exact cases need no sampling and return kComplete with a zero-width
// interval: fewer than two distinct terminals (R = 1), the edges with
// p_e = 1 already up (R = 1), all edges with p_e > 0 not up (R = 0).
//
// Nothing throws out of these calls except std::bad_alloc. Progress and
// cancelled are called from the calling thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace frontier {
class Exchange;  // frontier/exchange.hpp
}

namespace estimate {

struct Problem {
  int nodes = 0;
  std::vector<std::pair<int, int>> edges;
  std::vector<double> p;  // per edge, in [0, 1]
  std::vector<int> terminals;
  int maxHops = -1;  // D; negative means no limit
};

enum class Sampler { kAuto, kCrude, kPermutation };

struct Progress {
  std::uint64_t samples = 0;
  double estimate = 0, halfWidth = 1;  // of R
};

struct Options {
  std::uint64_t samples = 0;  // stop after this many samples (0: no cap)
  double relError = 1e-3;     // stop once the CI half-width <= relError * min(R, 1 - R); 0: off
  double timeLimit = -1;      // seconds; negative: none
  double confidence = 0.95;   // of the interval, in (0, 1)
  std::uint64_t seed = 1;
  int threads = 0;  // 0: all cores
  Sampler sampler = Sampler::kAuto;
  bool importance = false;          // estimateReliability: also each edge's importance
  std::function<bool()> cancelled;  // polled between blocks
  std::function<void(const Progress&)> progress;  // at each checkpoint
  // A rank of an MPI job (frontier/exchange.hpp): the ranks share each
  // round's blocks and every rank returns the same estimate, the one a
  // single process gives with the same seed. Only rank 0 is asked for
  // cancelled and progress.
  frontier::Exchange* exchange = nullptr;
};

enum class Status {
  kComplete,  // a stopping rule met (or the value is exact)
  kTimeLimit,
  kCancelled,
  kInvalidInput,  // `message` says what
};
const char* statusName(Status status);

struct Result {
  Status status = Status::kInvalidInput;
  std::string message;
  double estimate = 0, unreliability = 0;  // R and 1 - R
  double stdError = 0;                     // of either
  double ciLow = 0, ciHigh = 1;            // on R, within [0, 1]
  double confidence = 0.95;
  std::uint64_t samples = 0, seed = 0;
  std::string sampler;  // "crude" or "permutation" ("exact" when no sampling was needed)
  std::string reason;   // which rule stopped it: "samples", "relative error", "time limit", ...
  double seconds = 0;
  // With Options::importance, per edge (input order): dR/dp_e = R(p_e = 1) -
  // R(p_e = 0) and its standard error; NaN where the samples cannot tell
  // (p_e = 0 or 1: the edge is never seen in one of its states).
  std::vector<double> importance, importanceStdError;
};

Result estimateReliability(const Problem& problem, const Options& options);

// R at every p of `ps`, every edge at p, with common random numbers: each
// sample is one draw of the randomness and is evaluated at every p. This is
// valid because each point, on its own, sees samples with exactly the
// distribution of a separate run at that p, so each estimate and interval
// holds as before; only the points' errors are correlated (positively),
// which makes the curve smooth and differences between points precise.
// Crude: edge e works at p iff U_e < p, the same U_e for every p.
// Permutation: with one p for all edges the birth order is a uniform random
// permutation whatever p is, so one order (and its first up prefix k) serves
// every p; only the tail P(S_k > 1) depends on p. The stopping rules ask the
// relative error of every point (points at p = 0 or 1 are exact).
std::vector<Result> estimateCurve(const Problem& problem, const std::vector<double>& ps,
                                  const Options& options);

}  // namespace estimate
