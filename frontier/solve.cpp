// solveDouble and the shape screen: the interval sink that carries double
// masses, rounded outward, along the sweep's branches; status and kind names.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "frontier/frontier.hpp"
#include "frontier/large.hpp"
#include "frontier/record.hpp"

namespace frontier {

const char* statusName(Status status) {
  switch (status) {
    case Status::kComplete:
      return "complete";
    case Status::kDecided:
      return "decided";
    case Status::kTimeLimit:
      return "time limit";
    case Status::kCancelled:
      return "cancelled";
    case Status::kMemoryLimit:
      return "memory limit";
    case Status::kTooFewTerminals:
      return "too few terminals";
    case Status::kInvalidInput:
      return "invalid input";
    case Status::kUnsupported:
      return "unsupported";
  }
  return "?";
}

const char* kindName(StateKind kind) {
  switch (kind) {
    case StateKind::kAuto:
      return "auto";
    case StateKind::kConnectivity:
      return "connectivity";
    case StateKind::kDistance:
      return "distance";
    case StateKind::kProfile:
      return "profile";
  }
  return "?";
}

namespace {

// Lower and upper masses per state, every operation rounded outward, and
// beside them the plain round-to-nearest mass: the printed value is that
// computation, so sums that are exact in double come out exact; its error
// bound is the distance to the farther rigorous bound.
class IntervalSink {
 public:
  IntervalSink(std::vector<double> p, std::vector<double> q, std::vector<double> pLo,
               std::vector<double> pHi, std::vector<double> qLo, std::vector<double> qHi)
      : p_(std::move(p)),
        q_(std::move(q)),
        pLo_(std::move(pLo)),
        pHi_(std::move(pHi)),
        qLo_(std::move(qLo)),
        qHi_(std::move(qHi)) {}
  void root(std::int32_t code) {
    if (code == kAccept) accLo_ = accHi_ = accNear_ = 1;
    if (code == kReject) rejLo_ = rejHi_ = rejNear_ = 1;
    if (code >= 0) cur_.assign(1, Payload{1.0, 1.0, 1.0});
  }
  void beginLevel(int level, std::size_t parents) {
    next_.clear();
    next_.reserve(parents);  // levels change width slowly: seldom a copy
    level_ = level;
  }
  void add(std::size_t parent, bool works, std::int32_t code) {
    const Payload c = share(parent, works);
    if (code >= 0)
      addLocal(code, c);
    else
      addEnd(c, code == kAccept);
  }
  // The threaded sweep's add of a branch to a state: the level's states
  // [0, count) exist first, then workers hand in the branches of distinct
  // states at once (`fresh`: the state's first branch).
  void reserveNext(std::size_t count) { next_.resize(count); }
  void arrive(std::size_t parent, bool works, std::int32_t code, bool fresh) {
    const Payload c = share(parent, works);
    if (fresh)
      next_[code] = c;
    else
      accumulate(next_[code], c);
  }
  // The distributed sweep's parts of add: the mass a branch carries (on
  // the parent's rank), its arrival at a state (on the child's rank, in
  // branch order) or at the end (on rank 0, in branch order).
  struct Payload {
    double lo, hi, near;
  };
  Payload share(std::size_t parent, bool works) const {
    const Payload& m = cur_[parent];
    return Payload{down(m.lo * (works ? pLo_[level_] : qLo_[level_])),
                   up(m.hi * (works ? pHi_[level_] : qHi_[level_])),
                   m.near * (works ? p_[level_] : q_[level_])};
  }
  void addLocal(std::int32_t code, const Payload& c) {
    if (static_cast<std::size_t>(code) == next_.size())
      next_.push_back(c);
    else
      accumulate(next_[code], c);
  }
  void addEnd(const Payload& c, bool accept) {
    double& lo = accept ? accLo_ : rejLo_;
    double& hi = accept ? accHi_ : rejHi_;
    double& near = accept ? accNear_ : rejNear_;
    lo = down(lo + c.lo);
    hi = up(hi + c.hi);
    near += c.near;
  }
  // A rank that does not own the root starts with no state.
  void dropRoot() { cur_.clear(); }
  // A mass on the wire: its three doubles, bit for bit.
  static void put(std::vector<std::uint8_t>& out, const Payload& m) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(&m);
    out.insert(out.end(), b, b + sizeof m);
  }
  static Payload take(const std::uint8_t* at) {
    Payload m;
    std::memcpy(&m, at, sizeof m);
    return m;
  }
  static std::size_t bytesAt(const std::uint8_t*) { return sizeof(Payload); }
  // The ends' sums, which rank 0 alone forms, for the other ranks.
  std::vector<std::uint8_t> sums() const {
    std::vector<std::uint8_t> out;
    put(out, {accLo_, accHi_, accNear_});
    put(out, {rejLo_, rejHi_, rejNear_});
    return out;
  }
  void setSums(const std::vector<std::uint8_t>& bytes) {
    const Payload a = take(bytes.data()), r = take(bytes.data() + sizeof(Payload));
    accLo_ = a.lo, accHi_ = a.hi, accNear_ = a.near;
    rejLo_ = r.lo, rejHi_ = r.hi, rejNear_ = r.near;
  }
  void endLevel(int, std::size_t) { cur_.swap(next_); }
  std::size_t bytesPerState() const { return 24; }
  std::size_t heldBytes() const { return 0; }
  void bounds(double& lower, double& upper) const {
    lower = accLo_;
    upper = std::min(1.0, up(1.0 - rejLo_));
  }
  bool decided(double threshold) const {
    double lower, upper;
    bounds(lower, upper);
    return lower >= threshold || upper < threshold;
  }
  void result(Status status, DoubleResult& r) const {
    bounds(r.lower, r.upper);
    double uLo = rejLo_, uHi = std::min(1.0, up(1.0 - accLo_));
    if (status == Status::kComplete) {
      r.lower = std::max(accLo_, down(1.0 - rejHi_));
      r.upper = std::min(r.upper, accHi_);
      uLo = std::max(uLo, down(1.0 - accHi_));
      uHi = std::min(uHi, rejHi_);
      nearest(accNear_, r.lower, r.upper, r.reliability, r.reliabilityError);
      nearest(rejNear_, uLo, uHi, r.unreliability, r.unreliabilityError);
      return;
    }
    // Stopped early: the nearest sums are partial, so the middle it is.
    auto centre = [](double lo, double hi, double& value, double& error) {
      value = lo + (hi - lo) / 2;
      error = up(std::max(value - lo, hi - value));
    };
    centre(r.lower, r.upper, r.reliability, r.reliabilityError);
    centre(uLo, uHi, r.unreliability, r.unreliabilityError);
  }

 private:
  // The value is the nearest sum (clamped to [0, 1], which only moves it
  // toward the truth); the truth lies in [lo, hi], so the farther end
  // bounds the error.
  static void nearest(double sum, double lo, double hi, double& value, double& error) {
    value = std::clamp(sum, 0.0, 1.0);
    error = std::max(value > lo ? up(value - lo) : 0.0, hi > value ? up(hi - value) : 0.0);
  }
  static void accumulate(Payload& t, const Payload& c) {
    t.lo = down(t.lo + c.lo);
    t.hi = up(t.hi + c.hi);
    t.near += c.near;
  }
  std::vector<double> p_, q_, pLo_, pHi_, qLo_, qHi_;
  std::vector<Payload, UnsetLargeAllocator<Payload>> cur_, next_;
  double accLo_ = 0, accHi_ = 0, rejLo_ = 0, rejHi_ = 0, accNear_ = 0, rejNear_ = 0;
  int level_ = 0;
};

}  // namespace

DoubleResult solveDouble(const Problem& problem, const std::vector<double>& p,
                         const std::vector<double>& q, const Options& options) {
  DoubleResult r;
  Options opts = options;
  std::vector<Plan> plans;
  r.status = makePlans(problem, opts, plans, r.message);
  if (r.status != Status::kComplete) return r;
  if (!validProbabilities(problem, p, q, r.message)) return r.status = Status::kInvalidInput, r;
  // Each input double is within half a step of its decimal: one step out
  // on each side covers the conversion.
  auto make = [&](const Plan& plan) {
    std::vector<double> pNear, qNear, pLo, pHi, qLo, qHi;
    for (int src : plan.source) {
      pNear.push_back(p[src]);
      qNear.push_back(q[src]);
      pLo.push_back(down(p[src]));
      pHi.push_back(std::min(up(p[src]), 1.0));
      qLo.push_back(down(q[src]));
      qHi.push_back(std::min(up(q[src]), 1.0));
    }
    return std::make_unique<IntervalSink>(std::move(pNear), std::move(qNear), std::move(pLo),
                                          std::move(pHi), std::move(qLo), std::move(qHi));
  };
  raceSolve(plans, make, opts, r);
  return r;
}

DoubleResult solveDouble(const Problem& problem, const std::vector<double>& p,
                         const Options& options) {
  std::vector<double> q;
  for (double x : p)
    q.push_back(1.0 - x);
  return solveDouble(problem, p, q, options);
}

Shape shape(const Problem& problem, StateKind kind) {
  Shape s;
  std::vector<Plan> plans;
  s.status = makePlans(problem, kind, plans, s.message);
  if (s.status != Status::kComplete) return s;
  // Raced orders: the widest of them, since either may be the one to run.
  s.kind = plans[0].kind;
  s.edgesUsed = plans[0].levels();
  try {
    for (const Plan& plan : plans) {
      s.maxPortals = std::max(s.maxPortals, plan.maxPortals);
      if (plan.kind == StateKind::kDistance) {
        const DistanceRules rules(plan);
        for (int i = 0; i <= plan.levels(); ++i)
          s.stateBytes = std::max(s.stateBytes, rules.width(i));
      } else if (plan.kind == StateKind::kProfile) {
        // The fixed part only: how many profiles a state holds shows in a sweep.
        const ProfileRules rules(plan);
        for (int i = 0; i <= plan.levels(); ++i)
          s.stateBytes = std::max(s.stateBytes, rules.fixedWidth(i));
      } else {
        for (int i = 0; i <= plan.levels(); ++i)
          s.stateBytes = std::max(s.stateBytes, static_cast<int>(plan.frontier[i].size()));
      }
    }
  } catch (const std::bad_alloc&) {
    s.status = Status::kMemoryLimit;
  }
  return s;
}

}  // namespace frontier
