// solveDouble, solveExact, the Diagram and the reliability polynomial: the
// sinks that carry masses along the sweep's branches.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "frontier/frontier.hpp"
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
  std::vector<Payload> cur_, next_;
  double accLo_ = 0, accHi_ = 0, rejLo_ = 0, rejHi_ = 0, accNear_ = 0, rejNear_ = 0;
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
  // The distributed sweep's parts of add (see IntervalSink). A mass
  // crosses as its limb count (8 bytes) and its limbs, least significant
  // first (every rank runs the same binary): masses are never negative.
  using Payload = mpz_class;
  // The product lands in one scratch number, valid until the next share,
  // so that a branch's mass costs no allocation once the scratch has grown.
  const Payload& share(std::size_t parent, bool works) const {
    mpz_mul(shared_.get_mpz_t(), cur_[parent].get_mpz_t(),
            (works ? a_[level_] : c_[level_]).get_mpz_t());
    return shared_;
  }
  void addLocal(std::int32_t code, const Payload& c) {
    if (mpz_ptr fresh = claim(code)) {
      mpz_set(fresh, c.get_mpz_t());
      return;
    }
    next_[code] += c;
  }
  // addLocal of the mass put wrote at `at`, read straight into its state.
  void addLocalFrom(std::int32_t code, const std::uint8_t* at) {
    if (mpz_ptr fresh = claim(code)) {
      load(fresh, at);
      return;
    }
    load(arrived_.get_mpz_t(), at);
    next_[code] += arrived_;
  }
  void addEnd(const Payload& c, bool accept) { (accept ? accNew_ : rejNew_) += c; }
  void dropRoot() { curCount_ = 0; }
  static void put(std::vector<std::uint8_t>& out, const Payload& m) {
    const std::uint64_t n = mpz_size(m.get_mpz_t());
    const std::size_t at = out.size();
    out.resize(at + 8 + n * sizeof(mp_limb_t));
    std::memcpy(out.data() + at, &n, 8);
    if (n > 0)
      std::memcpy(out.data() + at + 8, mpz_limbs_read(m.get_mpz_t()), n * sizeof(mp_limb_t));
  }
  static Payload take(const std::uint8_t* at) {
    Payload m;
    load(m.get_mpz_t(), at);
    return m;
  }
  static std::size_t bytesAt(const std::uint8_t* at) {
    std::uint64_t n;
    std::memcpy(&n, at, 8);
    return 8 + n * sizeof(mp_limb_t);
  }
  // The ends' sums (rank 0 alone forms them) for the other ranks.
  std::vector<std::uint8_t> sums() const {
    std::vector<std::uint8_t> out;
    for (const mpz_class* z : {&acc_, &rej_, &accNew_, &rejNew_}) {
      put(out, *z);
      out.resize((out.size() + 7) / 8 * 8, 0);
    }
    return out;
  }
  void setSums(const std::vector<std::uint8_t>& bytes) {
    std::size_t at = 0;
    for (mpz_class* z : {&acc_, &rej_, &accNew_, &rejNew_}) {
      *z = take(bytes.data() + at);
      at += (bytesAt(bytes.data() + at) + 7) / 8 * 8;
    }
  }
  // The threaded sweep's (see IntervalSink).
  void reserveNext(std::size_t count) {
    while (next_.size() < count)
      next_.emplace_back();
    nextCount_ = count;
  }
  void arrive(std::size_t parent, bool works, std::int32_t code, bool fresh) {
    const mpz_class& f = works ? a_[level_] : c_[level_];
    if (fresh)
      mpz_mul(next_[code].get_mpz_t(), cur_[parent].get_mpz_t(), f.get_mpz_t());
    else
      mpz_addmul(next_[code].get_mpz_t(), cur_[parent].get_mpz_t(), f.get_mpz_t());
  }
  void add(std::size_t parent, bool works, std::int32_t code) {
    const mpz_class& f = works ? a_[level_] : c_[level_];
    mpz_ptr target;
    if (code >= 0) {
      if (mpz_ptr fresh = claim(code)) {
        mpz_mul(fresh, cur_[parent].get_mpz_t(), f.get_mpz_t());
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
  // The state `code` when it is new (its mass is set, not added), else null.
  mpz_ptr claim(std::int32_t code) {
    if (static_cast<std::size_t>(code) != nextCount_) return nullptr;
    if (next_.size() == nextCount_) next_.emplace_back();
    ++nextCount_;
    return next_[code].get_mpz_t();
  }
  static void load(mpz_ptr z, const std::uint8_t* at) {
    std::uint64_t n;
    std::memcpy(&n, at, 8);
    if (n == 0) {
      mpz_set_ui(z, 0);
      return;
    }
    std::memcpy(mpz_limbs_write(z, static_cast<mp_size_t>(n)), at + 8, n * sizeof(mp_limb_t));
    mpz_limbs_finish(z, static_cast<mp_size_t>(n));
  }
  std::vector<mpz_class> a_, b_, c_;
  std::vector<mpz_class> cur_, next_;
  std::size_t curCount_ = 0, nextCount_ = 0, bytes_ = 32;
  mutable mpz_class shared_;  // share's product
  mpz_class arrived_;         // addLocalFrom's mass on its way to a sum
  mpz_class acc_ = 0, rej_ = 0, accNew_ = 0, rejNew_ = 0, den_ = 1, one_ = 1;
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
  std::vector<std::unique_ptr<IntervalSink>> sinks;
  std::size_t winner = 0;
  r.status = racePlans(plans, make, sinks, opts, r.stats, winner);
  if (r.status == Status::kInvalidInput) r.message = "internal: states left after the last edge";
  if (r.status == Status::kMemoryLimit) r.message = "the levels exceed the memory bound";
  if (sinks[winner]) sinks[winner]->result(r.status, r);
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
  Options opts = options;
  std::vector<Plan> plans;
  r.status = makePlans(problem, opts, plans, r.message);
  if (r.status != Status::kComplete) return r;
  if (!validProbabilities(problem, p, r.message)) return r.status = Status::kInvalidInput, r;
  auto make = [&](const Plan& plan) {
    std::vector<mpz_class> a, b;
    for (int src : plan.source) {
      mpq_class x = p[src];
      x.canonicalize();
      a.push_back(x.get_num());
      b.push_back(x.get_den());
    }
    return std::make_unique<ExactSink>(std::move(a), std::move(b));
  };
  try {
    std::vector<std::unique_ptr<ExactSink>> sinks;
    std::size_t winner = 0;
    r.status = racePlans(plans, make, sinks, opts, r.stats, winner);
    if (r.status == Status::kInvalidInput) r.message = "internal: states left after the last edge";
    if (r.status == Status::kMemoryLimit) r.message = "the levels exceed the memory bound";
    if (sinks[winner]) sinks[winner]->result(r.status, r);
  } catch (const std::bad_alloc&) {
    r.status = Status::kMemoryLimit;
    r.message = "the levels exceed the memory bound";
    r.lower = 0, r.upper = 1;
  }
  return r;
}

Diagram Diagram::build(const Problem& problem, const Options& options) {
  Diagram dg;
  Options opts = options;
  opts.decide.reset();
  std::vector<Plan> plans;
  dg.status_ = makePlans(problem, opts, plans, dg.message_);
  if (dg.status_ != Status::kComplete) return dg;
  if (singleProcessOnly(opts, dg.status_, dg.message_)) return dg;
  std::vector<std::unique_ptr<RecordSink>> sinks;
  std::size_t winner = 0;
  dg.status_ = racePlans(
      plans, [](const Plan&) { return std::make_unique<RecordSink>(); }, sinks, opts, dg.stats_,
      winner);
  if (sinks[winner]) {
    dg.rootCode_ = sinks[winner]->rootCode;
    dg.children_ = std::move(sinks[winner]->children);
  }
  sinks.clear();
  if (dg.status_ == Status::kComplete) {
    // Roundings per state, as evaluate meets them: a mass k roundings from
    // exact is multiplied by an input (one conversion, one product) and
    // summed with the c - 1 others that reach its child (Higham's
    // recursive summation: at most c - 1 more for any term). R sums every
    // accepting transition the same way.
    try {
      std::vector<std::uint64_t> cur(dg.rootCode_ >= 0 ? 1 : 0, 0), next, count;
      std::uint64_t accMax = 0, accCount = 0;
      for (std::size_t level = 0; level < dg.children_.size(); ++level) {
        next.assign(dg.stats_.levelStates[level + 1], 0);
        count.assign(next.size(), 0);
        const auto& ch = dg.children_[level];
        for (std::size_t i = 0; i < ch.size(); ++i) {
          const std::int32_t code = ch[i];
          if (code == kReject) continue;
          ++dg.transitions_;
          const std::uint64_t k = cur[i / 2] + 2;
          if (code == kAccept) {
            accMax = std::max(accMax, k);
            ++accCount;
          } else {
            next[code] = std::max(next[code], k);
            ++count[code];
          }
        }
        for (std::size_t s = 0; s < next.size(); ++s)
          next[s] += count[s] - 1;
        cur.swap(next);
      }
      dg.roundings_ = accCount == 0 ? 0 : accMax + accCount - 1;
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
  // side by side, so the transitions are read once per block and the inner
  // loop vectorises. The sums run in plain round-to-nearest; the bound is
  // a priori. Against the exact masses of the decimal inputs, every
  // contribution to R carries at most `roundings_` relative errors of at
  // most u = 2^-53 each (input conversions and operations alike; all terms
  // are nonnegative), so |R^ - R| <= gamma(k) R + E, where E covers the
  // absolute loss below the normal range: at most 2^-1074 per transition,
  // doubled for the slack of the relative factors along the way.
  constexpr std::size_t B = 32;
  const double g = gamma(roundings_);
  const double floor = static_cast<double>(2 * transitions_ + 2) * 0x1p-1074;
  std::uint64_t widest = 1;
  for (std::uint64_t c : stats_.levelStates)
    widest = std::max(widest, c);
  std::vector<double> cur(widest * B), next(widest * B);
  for (std::size_t first = 0; first < points.size(); first += B) {
    const std::size_t n = std::min(B, points.size() - first);
    alignas(64) double f[2][B], acc[B];
    bool valid[B];
    for (std::size_t k = 0; k < B; ++k) {
      const auto [p, q] = k < n ? points[first + k] : std::make_pair(0.0, 0.0);
      valid[k] = k < n && probability(p) && probability(q);
      f[1][k] = valid[k] ? p : 0.0;
      f[0][k] = valid[k] ? q : 0.0;
      acc[k] = rootCode_ == kAccept ? 1.0 : 0.0;
    }
    if (rootCode_ >= 0) std::fill(cur.begin(), cur.begin() + B, 1.0);
    std::size_t parents = rootCode_ >= 0 ? 1 : 0;
    for (std::size_t level = 0; level < children_.size(); ++level) {
      const auto& ch = children_[level];
      // States are numbered in the order the sweep met them, so a code one
      // past the highest so far is a state's first transition: it writes
      // its product instead of adding (no zeroing pass).
      std::int32_t made = 0;
      for (std::size_t s = 0; s < parents; ++s)
        for (int works = 0; works < 2; ++works) {
          const std::int32_t code = ch[2 * s + works];
          if (code == kReject) continue;
          const double* m = &cur[s * B];
          const double* fw = f[works];
          if (code == made) {
            double* t = &next[code * B];
            for (std::size_t k = 0; k < B; ++k)
              t[k] = m[k] * fw[k];
            ++made;
            continue;
          }
          double* t = code == kAccept ? acc : &next[code * B];
          for (std::size_t k = 0; k < B; ++k)
            t[k] += m[k] * fw[k];
        }
      parents = static_cast<std::size_t>(made);
      cur.swap(next);
    }
    for (std::size_t k = 0; k < n; ++k) {
      if (!valid[k]) continue;
      Value& v = values[first + k];
      const double r = acc[k];
      v.lower = std::max(0.0, down(down(r - floor) / up(1.0 + g)));
      v.upper = std::min(1.0, up(up(r + floor) / down(1.0 - g)));
      v.reliability = std::clamp(r, 0.0, 1.0);
      v.error = std::max(v.reliability > v.lower ? up(v.reliability - v.lower) : 0.0,
                         v.upper > v.reliability ? up(v.upper - v.reliability) : 0.0);
    }
  }
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
  Options opts = options;
  opts.decide.reset();
  std::vector<Plan> plans;
  poly.status = makePlans(problem, opts, plans, poly.message);
  if (poly.status != Status::kComplete) return poly;
  if (singleProcessOnly(opts, poly.status, poly.message)) return poly;
  try {
    std::vector<std::unique_ptr<RecordSink>> sinks;
    std::size_t winner = 0;
    poly.status = racePlans(
        plans, [](const Plan&) { return std::make_unique<RecordSink>(); }, sinks, opts, poly.stats,
        winner);
    if (poly.status != Status::kComplete) {
      poly.message = statusName(poly.status);
      return poly;
    }
    const Plan& plan = plans[winner];
    const RecordSink& sink = *sinks[winner];
    const auto& children = sink.children;
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
