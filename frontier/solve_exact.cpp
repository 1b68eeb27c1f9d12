// solveExact: exact numerators carried along the sweep's branches.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "frontier/frontier.hpp"
#include "frontier/record.hpp"

namespace frontier {

namespace {

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
    // R < +inf and R >= -inf hold from the start; NaN is never settled.
    if (!std::isfinite(threshold)) return !std::isnan(threshold);
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
    raceSolve(plans, make, opts, r);
  } catch (const std::bad_alloc&) {
    r.status = Status::kMemoryLimit;
    r.message = "the levels exceed the memory bound";
    r.lower = 0, r.upper = 1;
  }
  return r;
}

}  // namespace frontier
