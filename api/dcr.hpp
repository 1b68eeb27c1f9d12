// The front door: one call for every interface (dcr-tool, the Python
// module) to ask for the diameter-constrained reliability of a network.
//
// Contract
// --------
// A Network is nodes 0 .. nodes-1 (with optional labels), undirected links
// (parallel links are distinct links; self-loops never help and are
// ignored), each working with its own probability p, independently, K
// terminals and a hop limit D (negative: none). R is the probability that
// every two terminals are joined by a path of at most D working links.
//
// solve() picks the engine (Method::kAuto) once, here, for every caller:
//   - the frontier engine first (exact or with a rigorous error bound, any
//     p per link); when it stops short (memory, or 70% of the time limit)
//     and one p serves every link of a simple network, dcr's path search
//     takes over with the rest of the time; the answer keeps the tighter
//     bounds either engine proved and `reason` says what happened;
//   - exact arithmetic, polynomials, importance and per-link p have only
//     the frontier engine;
//   - when no exact engine finishes (time, memory), auto adds a Monte Carlo
//     estimate with a confidence interval (the estimate engine) to the
//     bounds proved so far; with a time limit the frontier gets 60% of it,
//     the search runs to 80% and the estimate takes the rest.
// The value always lies inside its own bounds: lower <= value <= upper.
//
// Errors: solve() never throws for a bad network or bad options; it
// returns Result::error (kind and a one-line message). Only std::bad_alloc
// from the caller's own data may escape.
#pragma once

#include <gmpxx.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "api/numbers.hpp"

namespace frontier {
class Exchange;  // frontier/exchange.hpp
}

namespace dcr {

struct Link {
  int u = 0, v = 0;
  mpq_class p = 1;  // probability that the link works, exactly as given
};

struct Network {
  int nodes = 0;
  std::vector<std::string> labels;  // empty, or one per node (for messages and importance)
  std::vector<Link> links;
  std::vector<int> terminals;  // duplicates are ignored
  int maxHops = -1;            // D; negative means no limit
  // Optional, for the path search only: dcr's own adjacency (offsets
  // KAO[0..nodes], neighbours FO counted from 1), kept as a problem file
  // gave it; the search visits neighbours in that order, which fixes the
  // last digits of its sums. Empty: built from `links`, neighbours ascending.
  std::vector<int> searchOffsets, searchNeighbours;
  // Whether every link has the same p (the path search needs it).
  bool uniform() const;
  // The name of node v: its label, or its number.
  std::string name(int v) const;
};

enum class Method { kAuto, kFrontier, kSearch, kEstimate };
const char* methodName(Method m);

struct Progress {
  const char* engine = "";      // "frontier" or "search"
  int edge = 0, edges = 0;      // frontier: links decided so far, of all
  std::uint64_t work = 0;       // frontier states at this level, or search steps
  double lower = 0, upper = 1;  // proved so far
};

struct Options {
  Method method = Method::kAuto;
  bool exact = false;       // exact rational arithmetic (frontier)
  bool polynomial = false;  // also N_0 .. N_m (one p for all links is not needed)
  bool importance = false;  // also each link's Birnbaum importance (frontier, or estimated)
  std::optional<double> threshold;
  bool decide = false;          // stop once R >= threshold or R < threshold is proved
  double timeLimit = -1;        // seconds; negative: none
  std::size_t memoryBytes = 0;  // for the frontier's levels; 0: half the memory
  std::function<void(const Progress&)> progress;  // a few times a second
  std::function<bool()> cancelled;                // polled with the clock
  // The estimate (Method::kEstimate, and auto's last resort); the exact
  // engines ignore these.
  std::uint64_t samples = 0;  // stop after this many samples; 0: no cap
  double relError = 1e-3;     // stop once the interval's half-width <= relError * min(R, 1 - R)
  double confidence = 0.95;   // of the interval
  std::uint64_t seed = 1;     // the same seed gives the same estimate, whatever `threads` says
  int threads = 0;            // 0: all cores
  // One rank of a distributed frontier sweep (an MPI job): the frontier's
  // solve (double or exact) then spreads its levels over the ranks, one thread each,
  // with the same answer on every rank. Other engines and kinds of answer
  // run whole on every rank.
  frontier::Exchange* exchange = nullptr;
};

enum class ErrorKind {
  kNone,
  kInvalidNetwork,  // a node out of range, p outside [0, 1], fewer than two terminals
  kInvalidOptions,  // options that do not go together, or a method that cannot take the network
  kEngineStopped,   // no engine could run (memory, size limits); `message` says which
};

struct LinkImportance {
  int link = 0;                                            // index into Network::links
  double birnbaum = 0;                                     // dR/dp_e = R(p_e = 1) - R(p_e = 0)
  double potential = 0;                                    // (1 - p_e) * birnbaum
  std::optional<mpq_class> exactBirnbaum, exactPotential;  // with Options::exact
  // Method::kEstimate: the standard error of birnbaum (potential's is
  // (1 - p_e) times it); birnbaum is NaN where the samples cannot tell
  // (p_e = 0 or 1), and such links come last.
  double stdError = 0;
};

struct Result {
  ErrorKind error = ErrorKind::kNone;
  std::string message;  // with an error: what is wrong, one line

  Method method = Method::kAuto;  // the engine that gave the answer
  std::string reason;             // how auto chose, or "asked for"
  std::string status;     // "complete", "decided", "time limit", "cancelled", "memory limit"
  bool complete = false;  // value holds R (within errorBound)
  bool exact = false;     // exact arithmetic: exactValue when complete

  double value = 0, unreliability = 0;  // when complete; value in [lower, upper]
  double errorBound = 0;                // on both, in double mode
  double lower = 0, upper = 1;          // proved bounds, always
  std::optional<mpq_class> exactValue, exactUnreliability;  // exact and complete
  std::optional<mpq_class> exactLower, exactUpper;          // exact mode

  std::vector<mpz_class> polynomial;               // N_0 .. N_m with Options::polynomial
  std::vector<LinkImportance> importance;          // most important first, with Options::importance
  double importanceError = 0, potentialError = 0;  // bounds on every link's, in double mode

  // Method::kEstimate: a statistical estimate with a confidence interval,
  // not a bound. The interval is clipped to the proved bounds.
  bool estimated = false;
  double estimate = 0, unreliabilityEstimate = 0, stdError = 0;
  double ciLow = 0, ciHigh = 1, confidence = 0;
  std::uint64_t samples = 0, seed = 0;
  std::string sampler;         // "crude" or "permutation"
  std::string estimateReason;  // which rule stopped the sampling

  std::uint64_t work = 0;    // frontier states, or search steps
  std::uint64_t widest = 0;  // frontier: most states in one level
  int linksUsed = 0;         // frontier: links left after dropping useless ones
  std::string state;         // frontier: the state kind that ran
  std::string order;         // frontier: how its link order was made, if named
  double seconds = 0;

  bool ok() const { return error == ErrorKind::kNone; }
  // With a threshold: "above" (R >= threshold), "below", or none while the
  // bounds straddle it.
  std::optional<std::string> verdict(const std::optional<double>& threshold) const;
};

Result solve(const Network& network, const Options& options = {});

// R(p) for many p, every link at p (the links' own p are ignored). The
// frontier builds one decision diagram and reads it at every p. Under
// Method::kAuto, when the diagram cannot be built within the limits, dcr's
// own search runs at each p instead (with Options::threshold as its
// cut-off) and `note` says why; kSearch always runs it. A search point
// gives dcr's value: `below` when it proved R < threshold, no error bound.
//
// Method::kEstimate samples instead: one set of samples serves every p
// (common random numbers, see estimate::estimateCurve), each point with its
// own interval; sampling stops when every point meets Options::relError, or
// at samples / the time limit (`note` says which). Points at p = 0 or 1, or
// where the network cannot be up, are exact.
struct CurvePoint {
  double p = 0;
  Method method = Method::kFrontier;
  double value = 0, errorBound = 0, lower = 0, upper = 1;
  bool below = false;  // the search proved R below the threshold; no value
  double seconds =
      0;  // the search's run, or the diagram's build (the sampling) for the first point
  // kEstimate: the estimate is `value`; 1 - R, its interval on R and
  // standard error; exact when no sampling was needed.
  double unreliability = 0, ciLow = 0, ciHigh = 1, stdError = 0;
  std::uint64_t samples = 0;
  bool exact = false;
};
struct Curve {
  bool ok() const { return error == ErrorKind::kNone; }
  ErrorKind error = ErrorKind::kNone;
  std::string message;
  std::string note;  // why the search stood in for the frontier; or what stopped the sampling
  std::vector<CurvePoint> points;
  std::uint64_t work = 0;
  double seconds = 0;
};
Curve curve(const Network& network, const std::vector<double>& ps, const Options& options = {});

// dcr's own run, exactly as dcr makes it: one search at `p` for every link
// with `threshold` as its cut-off. `value` is what the search returns (-1:
// below the threshold), the number dcr prints. Fails (error set) when the
// paths do not fit in memory.
struct SearchRun {
  bool ok() const { return error == ErrorKind::kNone; }
  ErrorKind error = ErrorKind::kNone;
  std::string message;
  double value = 0;
  double seconds = 0;
};
SearchRun searchRun(const Network& network, double p, double threshold);

// The path search's sizes before it searches: terminal pairs, paths of at
// most D links, the links on them, and those left once equivalent links
// are folded. Returns "" or why it failed.
struct PathCounts {
  std::size_t pairs = 0, paths = 0;
  int linksOnPaths = 0, linksAfterMerging = 0;
};
std::string countPaths(const Network& network, PathCounts& out);

// What the frontier's levels may take unless told otherwise: half of the
// machine's memory, or of the process's address-space or data limit.
std::size_t defaultMemory();

}  // namespace dcr
