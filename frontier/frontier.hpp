// The frontier engine: diameter-constrained K-terminal reliability by a
// decision diagram built level by level, independent of myGraph.
//
// Contract
// --------
// A Problem is n nodes (0 .. n-1), an undirected edge list (self-loops are
// ignored, parallel edges allowed), K terminals and a hop limit D (D < 0: no
// limit). Edge e works with probability p_e, independently. The reliability
// R is the probability that every two terminals are joined by a path of at
// most D working edges.
//
//   solveDouble     R and 1 - R in double precision, each with a rigorous
//                   bound on its absolute error (input conversion included:
//                   the caller passes p_e and q_e = 1 - p_e each rounded to
//                   nearest from its decimal text).
//   solveExact      R and 1 - R as exact fractions (p_e rational).
//   reliabilityPolynomial
//                   counts N_0 .. N_m of working edge sets of each size that
//                   meet the hop condition: R(p) = sum N_k p^k (1-p)^(m-k),
//                   m = edges as given.
//   Diagram         levels built once, then R(p) for many uniform p.
//   importanceDouble, importanceExact
//                   the Birnbaum importance I_e = dR/dp_e = R(p_e = 1) -
//                   R(p_e = 0) of every edge and its improvement potential
//                   (1 - p_e) I_e, from one sweep and two passes over its
//                   levels (double: one rigorous bound for all edges).
//                   Self-loops and edges on no path that could matter have
//                   exactly 0; parallel edges each have their own.
//
// Every call returns a Status. Only kComplete carries the value; kDecided,
// kTimeLimit and kCancelled carry proved bounds lower <= R <= upper;
// kMemoryLimit means the levels would not fit in Options::memoryBytes (use
// the other engine); kTooFewTerminals (K < 2 after removing duplicates),
// kInvalidInput (node out of range, probability outside [0, 1], counts that
// do not match) and kUnsupported (D above 253 and below n - 1, or more than
// 120 portals at once; for a forced profile state D above 126 or more than
// 62 frontier nodes, where auto takes distances) compute nothing. Nothing throws out of these
// calls. The importance calls carry no bounds: stopped early, they
// return no values at all.
//
// The method: edges are ordered so that few nodes are open at once (the
// frontier); after each prefix of decisions a state holds what the rest
// needs to know. Without a hop limit the state is the partition of the
// frontier with terminal marks (connectivity.cpp); with one it is the capped
// distances between portals, the frontier nodes and the terminals already
// passed, and the terminal pairs already within D (distance.cpp); with five
// terminals or more at a hop limit it is the profiles of the terminals
// passed, their capped distances to the frontier, only those no other one
// dominates (profile.hpp). Branches with equal states merge (sweep.hpp).
// With three terminals or more at a hop limit the plan may offer two edge
// orders; both are swept (side by side when Options::threads allows, else
// one after another) and the one with fewer states gives the answer, so the
// result never depends on timing (race.hpp). Options::memoryBytes is then
// shared between them. With Options::threads > 1 a sweep's levels are
// shared among the threads (parallel_sweep.hpp), states numbered and masses
// added in the one-thread order: the same bits for every thread count.
// With Options::exchange (the ranks of an MPI job) solveDouble and
// solveExact spread each level over the ranks (distributed_sweep.hpp),
// again with the one-process numbers and sums, so the same bits (the same
// fraction) for every rank count.
#pragma once

#include <gmpxx.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace frontier {

class Exchange;

struct Problem {
  int nodes = 0;
  std::vector<std::pair<int, int>> edges;
  std::vector<int> terminals;
  int maxHops = -1;  // D; negative means no limit
};

enum class Status {
  kComplete,         // the value is exact (or within its error bound)
  kDecided,          // stopped: the bounds settle the decide threshold
  kTimeLimit,        // stopped at the time limit; bounds only
  kCancelled,        // stopped by Options::cancelled; bounds only
  kMemoryLimit,      // a level would exceed Options::memoryBytes
  kTooFewTerminals,  // fewer than two distinct terminals
  kInvalidInput,     // see the contract above; `message` says what
  kUnsupported,      // see the contract above; `message` says what
};
const char* statusName(Status status);

// Which state the sweep keeps. kAuto: connectivity when D < 0 or D >= n - 1
// (then the hop limit cannot bind); otherwise the plan picks distances or
// profiles (see plan.hpp). kDistance and kProfile force one (both need
// D >= 0; profiles also D <= 126).
enum class StateKind { kAuto, kConnectivity, kDistance, kProfile };
const char* kindName(StateKind kind);

struct Progress {
  int edge = 0;                 // edges decided so far
  int edges = 0;                // edges in the sweep (after removing useless ones)
  std::uint64_t states = 0;     // states at the level being built
  double lower = 0, upper = 1;  // proved bounds so far
};

struct Options {
  double timeLimit = -1;                           // seconds; negative: none. 0 stops at once
  std::optional<double> decide;                    // stop once R >= decide or R < decide is proved
  std::size_t memoryBytes = std::size_t{4} << 30;  // bound on the sweep's tables
  // Both may be called from a racing lane's thread, never two at a time;
  // progress about 5 times a second per lane.
  std::function<void(const Progress&)> progress;
  std::function<bool()> cancelled;  // polled with the clock
  StateKind kind = StateKind::kAuto;
  bool race = true;  // false: sweep the plan's first edge order only
  // Threads in all: a sweep's levels are expanded on all of them, and with
  // fewer threads than raced orders the orders run one after another. The
  // answer is the same, bit for bit, for every count.
  int threads = 1;
  // A rank of a distributed sweep (exchange.hpp), or none. With more than
  // one rank, each holds about 1 / ranks of every level and the answer is
  // the one-process answer, bit for bit; every rank returns it. Ranks run
  // one thread each and the raced orders one after another. Only solveDouble
  // and solveExact run distributed (the others return kUnsupported);
  // memoryBytes is per rank.
  Exchange* exchange = nullptr;
};

struct Stats {
  StateKind kind = StateKind::kAuto;       // the kind that ran
  int edgesUsed = 0;                       // edges left after removing useless ones
  int maxFrontier = 0;                     // most portals (frontier + passed terminals)
  std::uint64_t statesCreated = 0;         // over all levels
  std::uint64_t widestLevel = 0;           // most states in one level
  std::vector<std::uint64_t> levelStates;  // states per level, root first
  std::size_t peakBytes = 0;               // most table bytes held at once
  int stateBytes = 0;                      // widest state encoding, bytes
  int orders = 1;                          // edge orders swept (2: raced, see race.hpp)
  std::string order;                       // the winning order's rule, if it has a name
  double seconds = 0;
};

struct DoubleResult {
  Status status = Status::kInvalidInput;
  double reliability = 0, reliabilityError = 0;      // |R - reliability| <= error
  double unreliability = 0, unreliabilityError = 0;  // |(1-R) - unreliability| <= error
  double lower = 0, upper = 1;                       // lower <= R <= upper, always
  Stats stats;
  std::string message;
};

struct ExactResult {
  Status status = Status::kInvalidInput;
  mpq_class reliability, unreliability;  // exact when kComplete
  mpq_class lower = 0, upper = 1;        // lower <= R <= upper, always
  Stats stats;
  std::string message;
};

DoubleResult solveDouble(const Problem& problem, const std::vector<double>& p,
                         const std::vector<double>& q, const Options& options = {});
// q_e = 1 - p_e computed in double; fine for tests and for exactly
// representable p, adds one rounding per edge otherwise (still bounded).
DoubleResult solveDouble(const Problem& problem, const std::vector<double>& p,
                         const Options& options = {});
ExactResult solveExact(const Problem& problem, const std::vector<mpq_class>& p,
                       const Options& options = {});

// Per input edge e (vectors as long as Problem::edges): the Birnbaum
// importance I_e and the improvement potential (1 - p_e) I_e, what a
// perfect edge e would add to R. Filled only when kComplete.
struct ImportanceResult {
  Status status = Status::kInvalidInput;
  double reliability = 0, reliabilityError = 0;  // |R - reliability| <= error
  std::vector<double> birnbaum, potential;
  double birnbaumError = 0;   // |I_e - birnbaum[e]| <= birnbaumError for every e
  double potentialError = 0;  // likewise for potential
  Stats stats;
  std::string message;
};

struct ExactImportanceResult {
  Status status = Status::kInvalidInput;
  mpq_class reliability;
  std::vector<mpq_class> birnbaum, potential;
  Stats stats;
  std::string message;
};

// p and q as solveDouble takes them. Options::decide is ignored.
ImportanceResult importanceDouble(const Problem& problem, const std::vector<double>& p,
                                  const std::vector<double>& q, const Options& options = {});
ExactImportanceResult importanceExact(const Problem& problem, const std::vector<mpq_class>& p,
                                      const Options& options = {});

// The plan alone, without a sweep (milliseconds): what kind of state would
// run, on how many edges, with how many portals and bytes per state at the
// widest. A cheap screen before choosing this engine; the sure test is a
// solve with a modest Options::memoryBytes (say 256 MiB) and a time limit:
// kMemoryLimit or kTimeLimit then means "use the other engine".
struct Shape {
  Status status = Status::kInvalidInput;  // kComplete when the plan was made
  std::string message;
  StateKind kind = StateKind::kAuto;
  int edgesUsed = 0;
  int maxPortals = 0;  // over the edge orders that may run (see race.hpp)
  int stateBytes = 0;  // widest state encoding, likewise
};
Shape shape(const Problem& problem, StateKind kind = StateKind::kAuto);

struct Polynomial {
  Status status = Status::kInvalidInput;
  std::vector<mpz_class> counts;  // N_0 .. N_m
  Stats stats;
  std::string message;
  mpq_class evaluate(const mpq_class& p) const;
};
Polynomial reliabilityPolynomial(const Problem& problem, const Options& options = {});

// The levels with their transitions kept (8 bytes per state), so that R(p)
// for another p is a pass over integers and doubles, no states rebuilt.
class Diagram {
 public:
  struct Value {
    double reliability = 0, error = 0;  // |R(p) - reliability| <= error
    double lower = 0, upper = 1;
  };
  // Builds the levels; status() says whether that worked (a time limit,
  // cancel or the memory bound ends it early: then the diagram is not
  // usable). Options::decide is ignored here.
  static Diagram build(const Problem& problem, const Options& options = {});
  Status status() const { return status_; }
  const std::string& message() const { return message_; }
  const Stats& stats() const { return stats_; }
  // R at one working probability for every edge; q = 1 - p rounded to
  // nearest from the same decimal text (see solveDouble).
  Value evaluate(double p, double q) const;
  Value evaluate(double p) const { return evaluate(p, 1.0 - p); }
  // Many (p, q) pairs, read through the levels 32 at a time in plain
  // round-to-nearest (the bound comes from a count of roundings fixed at
  // build): a curve of 101 points costs a fraction of a solve. Invalid
  // pairs (outside [0, 1]) give the default Value; if the pass's arrays
  // (512 bytes per state of the widest level) cannot be had, every value is
  // the trivial [0, 1].
  std::vector<Value> evaluate(const std::vector<std::pair<double, double>>& points) const;

 private:
  Status status_ = Status::kInvalidInput;
  std::string message_;
  Stats stats_;
  void evaluateInto(const std::vector<std::pair<double, double>>& points,
                    std::vector<Value>& values) const;
  int rootCode_ = 0;  // see sweep.hpp: kAccept, kReject or state 0
  // children_[level][2 * s + works]: the child code of state s.
  std::vector<std::vector<std::int32_t>> children_;
  // The most roundings (input conversions included) on the way to R, and
  // the transitions followed: the a priori error bound of evaluate.
  std::uint64_t roundings_ = 0, transitions_ = 0;
};

}  // namespace frontier
