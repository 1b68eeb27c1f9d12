// solveDouble, solveExact, the Diagram and the reliability polynomial: the
// sinks that carry masses along the sweep's branches.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "frontier/connectivity.hpp"
#include "frontier/distance.hpp"
#include "frontier/frontier.hpp"
#include "frontier/plan.hpp"
#include "frontier/sweep.hpp"

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

namespace {

// Outward steps for nonnegative doubles: a round-to-nearest result moved one
// step down (up) is below (above) the exact value, including across a power
// of two and in the subnormal range.
inline double down(double x) {
  if (!(x > 0)) return 0.0;
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(x) - 1);
}
inline double up(double x) {
  if (std::isinf(x)) return x;
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(x) + 1);
}

template <class Sink>
Status runSpec(const Plan& plan, Sink& sink, const Options& options, Stats& stats) {
  try {
    if (plan.kind == StateKind::kDistance) {
      DistanceSpec spec(plan);
      return sweep(plan, spec, sink, options, stats);
    }
    ConnectivitySpec spec(plan);
    return sweep(plan, spec, sink, options, stats);
  } catch (const std::bad_alloc&) {
    return Status::kMemoryLimit;
  }
}

// Lower and upper masses per state; every operation rounds outward.
class IntervalSink {
 public:
  IntervalSink(std::vector<double> pLo, std::vector<double> pHi, std::vector<double> qLo,
               std::vector<double> qHi)
      : pLo_(std::move(pLo)), pHi_(std::move(pHi)), qLo_(std::move(qLo)), qHi_(std::move(qHi)) {}
  void root(std::int32_t code) {
    if (code == kAccept) accLo_ = accHi_ = 1;
    if (code == kReject) rejLo_ = rejHi_ = 1;
    if (code >= 0) curLo_.assign(1, 1.0), curHi_.assign(1, 1.0);
  }
  void beginLevel(int level, std::size_t) {
    nextLo_.clear();
    nextHi_.clear();
    level_ = level;
  }
  void add(std::size_t parent, bool works, std::int32_t code) {
    const double lo = down(curLo_[parent] * (works ? pLo_[level_] : qLo_[level_]));
    const double hi = up(curHi_[parent] * (works ? pHi_[level_] : qHi_[level_]));
    if (code >= 0) {
      if (static_cast<std::size_t>(code) == nextLo_.size()) {
        nextLo_.push_back(lo);
        nextHi_.push_back(hi);
      } else {
        nextLo_[code] = down(nextLo_[code] + lo);
        nextHi_[code] = up(nextHi_[code] + hi);
      }
    } else if (code == kAccept) {
      accLo_ = down(accLo_ + lo);
      accHi_ = up(accHi_ + hi);
    } else {
      rejLo_ = down(rejLo_ + lo);
      rejHi_ = up(rejHi_ + hi);
    }
  }
  void endLevel(int, std::size_t) {
    curLo_.swap(nextLo_);
    curHi_.swap(nextHi_);
  }
  std::size_t bytesPerState() const { return 16; }
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
    }
    auto centre = [](double lo, double hi, double& value, double& error) {
      value = lo + (hi - lo) / 2;
      error = up(std::max(value - lo, hi - value));
    };
    centre(r.lower, r.upper, r.reliability, r.reliabilityError);
    centre(uLo, uHi, r.unreliability, r.unreliabilityError);
  }

 private:
  std::vector<double> pLo_, pHi_, qLo_, qHi_;
  std::vector<double> curLo_, curHi_, nextLo_, nextHi_;
  double accLo_ = 0, accHi_ = 0, rejLo_ = 0, rejHi_ = 0;
  int level_ = 0;
};

// Exact masses: at level i every mass has the denominator b_0 .. b_{i-1},
// so each state keeps only its integer numerator; the accepted and rejected
// sums are scaled by b_i as each level ends.
class ExactSink {
 public:
  ExactSink(std::vector<mpz_class> a, std::vector<mpz_class> b)
      : a_(std::move(a)), b_(std::move(b)) {
    for (std::size_t i = 0; i < a_.size(); ++i)
      c_.push_back(b_[i] - a_[i]);
  }
  void root(std::int32_t code) {
    if (code == kAccept) acc_ = 1;
    if (code == kReject) rej_ = 1;
    if (code >= 0) cur_.assign(1, mpz_class(1)), curCount_ = 1;
  }
  void beginLevel(int level, std::size_t) {
    level_ = level;
    nextCount_ = 0;
    bytes_ =
        sizeof(mpz_class) + 8 * (mpz_size(den_.get_mpz_t()) + mpz_size(b_[level].get_mpz_t()) + 1);
  }
  void add(std::size_t parent, bool works, std::int32_t code) {
    const mpz_class& f = works ? a_[level_] : c_[level_];
    mpz_ptr target;
    if (code >= 0) {
      if (static_cast<std::size_t>(code) == nextCount_) {
        if (next_.size() == nextCount_) next_.emplace_back();
        ++nextCount_;
        mpz_mul(next_[code].get_mpz_t(), cur_[parent].get_mpz_t(), f.get_mpz_t());
        return;
      }
      target = next_[code].get_mpz_t();
    } else {
      target = (code == kAccept ? accNew_ : rejNew_).get_mpz_t();
    }
    mpz_addmul(target, cur_[parent].get_mpz_t(), f.get_mpz_t());
  }
  void endLevel(int level, std::size_t) {
    acc_ = acc_ * b_[level] + accNew_;
    rej_ = rej_ * b_[level] + rejNew_;
    den_ *= b_[level];
    accNew_ = rejNew_ = 0;
    cur_.swap(next_);
    curCount_ = nextCount_;
  }
  std::size_t bytesPerState() const { return bytes_; }
  std::size_t heldBytes() const { return 0; }
  // Accepted and rejected mass so far, exactly (mid-level sums included).
  void exactBounds(mpq_class& lower, mpq_class& upper) const {
    const mpz_class& b = b_.empty() ? one_ : b_[level_];
    const mpz_class den = den_ * b;
    lower = mpq_class(acc_ * b + accNew_, den);
    upper = 1 - mpq_class(rej_ * b + rejNew_, den);
    lower.canonicalize();
    upper.canonicalize();
  }
  void bounds(double& lower, double& upper) const {
    mpq_class lo, hi;
    exactBounds(lo, hi);
    lower = lo.get_d();
    upper = hi.get_d();
  }
  bool decided(double threshold) const {
    mpq_class lo, hi;
    exactBounds(lo, hi);
    const mpq_class r(threshold);
    return lo >= r || hi < r;
  }
  void result(Status status, ExactResult& r) const {
    exactBounds(r.lower, r.upper);
    if (status == Status::kComplete) {
      r.reliability = mpq_class(acc_, den_);
      r.unreliability = mpq_class(rej_, den_);
      r.reliability.canonicalize();
      r.unreliability.canonicalize();
      r.lower = r.upper = r.reliability;
    }
  }

 private:
  std::vector<mpz_class> a_, b_, c_;
  std::vector<mpz_class> cur_, next_;
  std::size_t curCount_ = 0, nextCount_ = 0, bytes_ = 32;
  mpz_class acc_ = 0, rej_ = 0, accNew_ = 0, rejNew_ = 0, den_ = 1, one_ = 1;
  int level_ = 0;
};

// Records every transition; the masses come later (Diagram::evaluate and
// the polynomial).
class RecordSink {
 public:
  explicit RecordSink(std::vector<std::vector<std::int32_t>>& children) : children_(children) {}
  void root(std::int32_t code) { rootCode = code; }
  void beginLevel(int, std::size_t parents) {
    children_.emplace_back(2 * parents, kReject);
    held_ += 8 * parents;
  }
  void add(std::size_t parent, bool works, std::int32_t code) {
    children_.back()[2 * parent + (works ? 1 : 0)] = code;
  }
  void endLevel(int, std::size_t) {}
  std::size_t bytesPerState() const { return 0; }
  std::size_t heldBytes() const { return held_; }
  void bounds(double& lower, double& upper) const { lower = 0, upper = 1; }
  bool decided(double) const { return false; }
  std::int32_t rootCode = kReject;

 private:
  std::vector<std::vector<std::int32_t>>& children_;
  std::size_t held_ = 0;
};

bool probability(double x) {
  return x >= 0 && x <= 1;
}

}  // namespace

DoubleResult solveDouble(const Problem& problem, const std::vector<double>& p,
                         const std::vector<double>& q, const Options& options) {
  DoubleResult r;
  Plan plan;
  r.status = makePlan(problem, options.kind, plan, r.message);
  if (r.status != Status::kComplete) return r;
  if (p.size() != problem.edges.size() || q.size() != problem.edges.size()) {
    r.message = "one probability per edge is needed";
    return r.status = Status::kInvalidInput, r;
  }
  std::vector<double> pLo, pHi, qLo, qHi;
  for (std::size_t e = 0; e < p.size(); ++e)
    if (!probability(p[e]) || !probability(q[e])) {
      r.message = "probabilities must lie in [0, 1]";
      return r.status = Status::kInvalidInput, r;
    }
  // Each input double is within half a step of its decimal: one step out
  // on each side covers the conversion.
  for (int src : plan.source) {
    pLo.push_back(down(p[src]));
    pHi.push_back(std::min(up(p[src]), 1.0));
    qLo.push_back(down(q[src]));
    qHi.push_back(std::min(up(q[src]), 1.0));
  }
  IntervalSink sink(std::move(pLo), std::move(pHi), std::move(qLo), std::move(qHi));
  r.status = runSpec(plan, sink, options, r.stats);
  if (r.status == Status::kInvalidInput) r.message = "internal: states left after the last edge";
  if (r.status == Status::kMemoryLimit) r.message = "the levels exceed the memory bound";
  sink.result(r.status, r);
  return r;
}

DoubleResult solveDouble(const Problem& problem, const std::vector<double>& p,
                         const Options& options) {
  std::vector<double> q;
  for (double x : p)
    q.push_back(1.0 - x);
  return solveDouble(problem, p, q, options);
}

ExactResult solveExact(const Problem& problem, const std::vector<mpq_class>& p,
                       const Options& options) {
  ExactResult r;
  Plan plan;
  r.status = makePlan(problem, options.kind, plan, r.message);
  if (r.status != Status::kComplete) return r;
  if (p.size() != problem.edges.size()) {
    r.message = "one probability per edge is needed";
    return r.status = Status::kInvalidInput, r;
  }
  for (const auto& x : p)
    if (x < 0 || x > 1) {
      r.message = "probabilities must lie in [0, 1]";
      return r.status = Status::kInvalidInput, r;
    }
  std::vector<mpz_class> a, b;
  for (int src : plan.source) {
    mpq_class x = p[src];
    x.canonicalize();
    a.push_back(x.get_num());
    b.push_back(x.get_den());
  }
  try {
    ExactSink sink(std::move(a), std::move(b));
    r.status = runSpec(plan, sink, options, r.stats);
    if (r.status == Status::kInvalidInput) r.message = "internal: states left after the last edge";
    if (r.status == Status::kMemoryLimit) r.message = "the levels exceed the memory bound";
    sink.result(r.status, r);
  } catch (const std::bad_alloc&) {
    r.status = Status::kMemoryLimit;
    r.message = "the levels exceed the memory bound";
    r.lower = 0, r.upper = 1;
  }
  return r;
}

Diagram Diagram::build(const Problem& problem, const Options& options) {
  Diagram dg;
  Plan plan;
  Options opts = options;
  opts.decide.reset();
  dg.status_ = makePlan(problem, opts.kind, plan, dg.message_);
  if (dg.status_ != Status::kComplete) return dg;
  RecordSink sink(dg.children_);
  dg.status_ = runSpec(plan, sink, opts, dg.stats_);
  dg.rootCode_ = sink.rootCode;
  if (dg.status_ == Status::kComplete) {
    try {  // transitions into each state, and into acceptance, per level
      for (std::size_t level = 0; level < dg.children_.size(); ++level) {
        dg.inDegree_.emplace_back(dg.stats_.levelStates[level + 1], 0);
        dg.accepted_.push_back(0);
        for (std::int32_t code : dg.children_[level]) {
          if (code >= 0) ++dg.inDegree_.back()[code];
          if (code == kAccept) ++dg.accepted_.back();
        }
      }
    } catch (const std::bad_alloc&) {
      dg.status_ = Status::kMemoryLimit;
    }
  }
  if (dg.status_ == Status::kMemoryLimit) dg.message_ = "the levels exceed the memory bound";
  if (dg.status_ != Status::kComplete) {
    std::vector<std::vector<std::int32_t>>().swap(dg.children_);
    if (dg.message_.empty()) dg.message_ = statusName(dg.status_);
  }
  return dg;
}

Diagram::Value Diagram::evaluate(double p, double q) const {
  return evaluate({{p, q}})[0];
}

// gamma(k) = k u / (1 - k u), u = 2^-53, rounded up: the relative error of
// a result k roundings away from exact nonnegative inputs.
static double gamma(std::uint64_t k) {
  const double g = static_cast<double>(k) * 0x1p-53;  // exact for k < 2^53
  return up(g / down(1.0 - g));
}

std::vector<Diagram::Value> Diagram::evaluate(
    const std::vector<std::pair<double, double>>& points) const {
  std::vector<Value> values(points.size());
  if (status_ != Status::kComplete) return values;
  try {
    evaluateInto(points, values);
  } catch (const std::bad_alloc&) {  // the pass needs 512 bytes per state of a level
    for (auto& v : values)
      v = Value{0.5, 0.5, 0, 1};
  }
  return values;
}

void Diagram::evaluateInto(const std::vector<std::pair<double, double>>& points,
                           std::vector<Value>& values) const {
  // Points go through the levels in blocks of B, the masses of one state
  // side by side, so the transitions are read once per block. Inside a
  // level the sums run in plain round-to-nearest (branch-free, vectorised);
  // a state reached by c transitions is then at most c + 1 roundings from
  // the exact sum of its nonnegative terms, so one outward widening by
  // gamma(c + 1) per state and level keeps lo <= exact <= hi (Higham's
  // bound for sums of nonnegative products, plus the absolute loss of
  // products below the normal range).
  constexpr std::size_t B = 16;
  for (std::size_t first = 0; first < points.size(); first += B) {
    const std::size_t n = std::min(B, points.size() - first);
    double fLo[2][B], fHi[2][B], accLo[B], accHi[B], levLo[B], levHi[B];
    bool valid[B];
    for (std::size_t k = 0; k < B; ++k) {
      const auto [p, q] = k < n ? points[first + k] : std::make_pair(0.0, 0.0);
      valid[k] = k < n && probability(p) && probability(q);
      fLo[1][k] = valid[k] ? down(p) : 0.0;
      fHi[1][k] = valid[k] ? std::min(up(p), 1.0) : 0.0;
      fLo[0][k] = valid[k] ? down(q) : 0.0;
      fHi[0][k] = valid[k] ? std::min(up(q), 1.0) : 0.0;
      accLo[k] = accHi[k] = rootCode_ == kAccept ? 1.0 : 0.0;
    }
    std::vector<double> lo, hi, nlo, nhi;
    if (rootCode_ >= 0) lo.assign(B, 1.0), hi.assign(B, 1.0);
    for (std::size_t level = 0; level < children_.size(); ++level) {
      const std::size_t count = stats_.levelStates[level + 1];
      nlo.assign(count * B, 0.0);
      nhi.assign(count * B, 0.0);
      std::fill(levLo, levLo + B, 0.0);
      std::fill(levHi, levHi + B, 0.0);
      const auto& ch = children_[level];
      const std::size_t parents = lo.size() / B;
      for (std::size_t s = 0; s < parents; ++s)
        for (int works = 0; works < 2; ++works) {
          const std::int32_t code = ch[2 * s + works];
          if (code == kReject) continue;
          const double* l = &lo[s * B];
          const double* h = &hi[s * B];
          double* tl = code == kAccept ? levLo : &nlo[code * B];
          double* th = code == kAccept ? levHi : &nhi[code * B];
          const double* fl = fLo[works];
          const double* fh = fHi[works];
          for (std::size_t k = 0; k < B; ++k) {
            tl[k] += l[k] * fl[k];
            th[k] += h[k] * fh[k];
          }
        }
      const auto& in = inDegree_[level];
      // Below the normal range a product may also lose up to 2^-1075 in
      // absolute terms; `floor` covers one such loss per transition.
      auto widen = [](std::uint64_t transitions, double& low, double& high) {
        const double g = gamma(transitions + 1);
        const double floor = static_cast<double>(transitions + 1) * 0x1p-1074;
        low = std::max(0.0, down(down(low * down(1.0 - g)) - floor));
        high = up(up(high * up(1.0 + 2 * g)) + floor);
      };
      for (std::size_t s = 0; s < count; ++s)
        for (std::size_t k = 0; k < B; ++k)
          widen(in[s], nlo[s * B + k], nhi[s * B + k]);
      for (std::size_t k = 0; k < B; ++k) {
        widen(accepted_[level], levLo[k], levHi[k]);
        accLo[k] = down(accLo[k] + levLo[k]);
        accHi[k] = up(accHi[k] + levHi[k]);
      }
      lo.swap(nlo);
      hi.swap(nhi);
    }
    for (std::size_t k = 0; k < n; ++k) {
      if (!valid[k]) continue;
      Value& v = values[first + k];
      v.lower = accLo[k];
      v.upper = std::min(1.0, accHi[k]);
      v.reliability = v.lower + (v.upper - v.lower) / 2;
      v.error = up(std::max(v.reliability - v.lower, v.upper - v.reliability));
    }
  }
}

Shape shape(const Problem& problem, StateKind kind) {
  Shape s;
  Plan plan;
  s.status = makePlan(problem, kind, plan, s.message);
  if (s.status != Status::kComplete) return s;
  s.kind = plan.kind;
  s.edgesUsed = plan.levels();
  s.maxPortals = plan.maxPortals;
  try {
    if (plan.kind == StateKind::kDistance) {
      const DistanceSpec spec(plan);
      for (int i = 0; i <= plan.levels(); ++i)
        s.stateBytes = std::max(s.stateBytes, spec.width(i));
    } else {
      for (int i = 0; i <= plan.levels(); ++i)
        s.stateBytes = std::max(s.stateBytes, static_cast<int>(plan.frontier[i].size()));
    }
  } catch (const std::bad_alloc&) {
    s.status = Status::kMemoryLimit;
  }
  return s;
}

mpq_class Polynomial::evaluate(const mpq_class& p) const {
  mpq_class x = p;
  x.canonicalize();
  mpq_class sum = 0, q = 1 - x;
  const std::size_t m = counts.empty() ? 0 : counts.size() - 1;
  for (std::size_t k = 0; k <= m; ++k) {
    if (counts[k] == 0) continue;
    mpq_class term = counts[k];
    for (std::size_t j = 0; j < k; ++j)
      term *= x;
    for (std::size_t j = k; j < m; ++j)
      term *= q;
    sum += term;
  }
  return sum;
}

Polynomial reliabilityPolynomial(const Problem& problem, const Options& options) {
  Polynomial poly;
  Plan plan;
  Options opts = options;
  opts.decide.reset();
  poly.status = makePlan(problem, opts.kind, plan, poly.message);
  if (poly.status != Status::kComplete) return poly;
  try {
    std::vector<std::vector<std::int32_t>> children;
    RecordSink sink(children);
    poly.status = runSpec(plan, sink, opts, poly.stats);
    if (poly.status != Status::kComplete) {
      poly.message = statusName(poly.status);
      return poly;
    }
    // Forward pass: per state, the number of ways with j working edges so
    // far (j = 0 .. level); accepted ways by (level, j) into `accepted`.
    const int m = plan.levels(), total = plan.totalEdges;
    std::vector<std::vector<mpz_class>> accepted(m + 1);
    std::vector<mpz_class> cur, next;
    if (sink.rootCode == kAccept) accepted[0].assign(1, mpz_class(1));
    if (sink.rootCode >= 0) cur.assign(1, mpz_class(1));
    std::size_t limbs = 1;
    for (int level = 0; level < static_cast<int>(children.size()); ++level) {
      const std::size_t parents = poly.stats.levelStates[level];
      const std::size_t count = poly.stats.levelStates[level + 1];
      const std::size_t width = level + 2;  // j = 0 .. level + 1
      if (count * width * (sizeof(mpz_class) + 8 * limbs) > opts.memoryBytes) {
        poly.status = Status::kMemoryLimit;
        poly.message = "the polynomial's tables exceed the memory bound";
        return poly;
      }
      next.assign(count * width, mpz_class());
      accepted[level + 1].assign(width, mpz_class());
      const auto& ch = children[level];
      for (std::size_t s = 0; s < parents; ++s)
        for (int works = 0; works < 2; ++works) {
          const std::int32_t code = ch[2 * s + works];
          if (code == kReject) continue;
          mpz_class* target = code == kAccept ? accepted[level + 1].data() : &next[code * width];
          for (std::size_t j = 0; j + 1 < width; ++j)
            target[j + works] += cur[s * (width - 1) + j];
        }
      cur.swap(next);
      limbs = (level + 2) / 64 + 1;  // counts stay below 2^(level + 1)
    }
    // An accepted set of the first i edges leaves total - i edges free.
    poly.counts.assign(total + 1, mpz_class(0));
    std::vector<mpz_class> binom;
    for (int i = 0; i <= m; ++i) {
      const int free = total - i;
      binom.assign(free + 1, mpz_class(1));
      for (int k = 1; k <= free; ++k)
        binom[k] = binom[k - 1] * (free - k + 1) / k;
      for (std::size_t j = 0; j < accepted[i].size(); ++j) {
        if (accepted[i][j] == 0) continue;
        for (int k = 0; k <= free; ++k)
          poly.counts[j + k] += accepted[i][j] * binom[k];
      }
    }
  } catch (const std::bad_alloc&) {
    poly.status = Status::kMemoryLimit;
    poly.message = "the polynomial's tables exceed the memory bound";
    poly.counts.clear();
  }
  return poly;
}

}  // namespace frontier
