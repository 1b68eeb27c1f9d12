// The Birnbaum importance of every edge from one recorded sweep.
//
// R is linear in each p_e. With f(s) the mass reaching state s of the level
// that decides edge e (edges before it only) and b(s) the probability of
// acceptance from s (edges after it only),
//   R = (mass accepted or rejected above the level) + sum_s f(s) (p_e b(w) + q_e b(f))
// where w and f are s's children when e works and fails; so
//   I_e = R(p_e = 1) - R(p_e = 0) = sum_s f(s) (b(w) - b(f)).
// One forward pass keeps f for every level, one backward pass makes b
// level by level and sums I_e as it goes: all edges for the price of about
// one evaluation. Every input edge is on at most one level; the plan's
// dropped edges never change R, so their importance is 0.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "frontier/frontier.hpp"
#include "frontier/record.hpp"

namespace frontier {

namespace {

// The winning lane's levels and the plan that maps them to input edges.
struct Recorded {
  Plan plan;
  std::int32_t rootCode = kReject;
  std::vector<std::vector<std::int32_t>> children;  // as RecordSink's
};

// Sweeps the plans, keeping `keptBytes` per state of every level against
// the memory bound (the codes' 8 and what the passes keep).
Status record(const std::vector<Plan>& plans, const Options& options, std::size_t keptBytes,
              Recorded& out, Stats& stats, std::string& message) {
  std::vector<std::unique_ptr<RecordSink>> sinks;
  std::size_t winner = 0;
  Options opts = options;
  opts.decide.reset();
  const Status status = racePlans(
      plans, [&](const Plan&) { return std::make_unique<RecordSink>(keptBytes); }, sinks, opts,
      stats, winner);
  if (status == Status::kComplete) {
    out.plan = plans[winner];
    out.rootCode = sinks[winner]->rootCode;
    out.children = std::move(sinks[winner]->children);
  } else if (status == Status::kMemoryLimit) {
    message = "the levels exceed the memory bound";
  } else if (status == Status::kInvalidInput) {
    message = "internal: states left after the last edge";
  } else {
    message = statusName(status);
  }
  return status;
}

// The time limit and cancel, polled once a level by the passes (a level's
// pass is quick next to its sweep).
class Clock {
 public:
  explicit Clock(const Options& options)
      : options_(options), start_(std::chrono::steady_clock::now()) {}
  double seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }
  Status poll() const {
    if (options_.timeLimit >= 0 && seconds() >= options_.timeLimit) return Status::kTimeLimit;
    if (options_.cancelled && options_.cancelled()) return Status::kCancelled;
    return Status::kComplete;
  }

 private:
  const Options& options_;
  std::chrono::steady_clock::time_point start_;
};

// The level sums add the terms in blocks of kBlock, then the blocks: a term
// meets at most sumRoundings(n) additions instead of n - 1.
constexpr std::size_t kBlock = 256;
std::uint64_t sumRoundings(std::size_t n) {
  return n == 0 ? 0 : std::min(n, kBlock) - 1 + (n + kBlock - 1) / kBlock;
}

// A bound on |S^ - S| for a computed sum S^ of nonnegative terms, each
// within k roundings (relative errors of at most u = 2^-53) of its exact
// value: |S^ - S| <= gamma(k) S <= gamma(k) S^ / (1 - gamma(k)).
double spread(std::uint64_t k, double sum) {
  const double g = gamma(k);
  return up(up(g * sum) / down(1.0 - g));
}

// The double passes. The rounding error is bounded by counting, as for
// Diagram::evaluate. Against the exact masses of the decimal inputs, every
// input carries one relative error of at most u; a forward mass f^(s)
// carries at most kf(s) of them (input, product, then the additions where
// its terms meet, per state as Diagram::build counts them); an acceptance
// or rejection probability at level i at most 3 (m - i) (input, product and
// one addition per level below). A level's four sums A = sum f b(w),
// B = sum f b(f) and their rejection twins then have every term within
// K = max kf + 3 (m - i - 1) + 1 + sumRoundings(n) roundings, all terms
// being nonnegative: |A^ - A| + |B^ - B| <= spread(K, A^ + B^), and the
// subtraction adds u (A^ + B^) at most. I_e = A - B = B' - A' (acceptance
// and rejection add to 1 at every state), so each edge takes the form with
// the smaller bound: near R = 1 the rejection form keeps I_e's relative
// accuracy where A - B would cancel. Below the normal range each product,
// and each input converted there, may lose 2^-1075 more, carried on by
// factors that add to less than 2 along either pass and in the sums:
// `floor`, 2^-1072 for each, covers it. Clamping to [0, 1], where the truth
// lies, only moves toward it.
void doublePasses(const Recorded& rec, const std::vector<double>& p, const std::vector<double>& q,
                  const Clock& clock, ImportanceResult& r) {
  const std::size_t edges = p.size();
  r.birnbaum.assign(edges, 0.0);
  r.potential.assign(edges, 0.0);
  if (rec.rootCode < 0) {  // R is 0 or 1 whatever the edges do
    r.reliability = rec.rootCode == kAccept ? 1.0 : 0.0;
    return;
  }
  const auto& ch = rec.children;
  const auto& states = r.stats.levelStates;
  const std::size_t m = ch.size();

  // Forward: f per state of every level, kf per state of the current one.
  std::vector<std::vector<double>> f(m);
  std::vector<std::uint64_t> levelK(m, 0);  // the most kf at each level
  std::vector<std::uint64_t> kf(1, 0), kfNext, fanIn;
  std::uint64_t products = 8;
  f[0].assign(1, 1.0);
  for (std::size_t i = 0; i < m; ++i) {
    if (Status s = clock.poll(); s != Status::kComplete) return void(r.status = s);
    const std::size_t parents = states[i], count = states[i + 1];
    const double x[2] = {q[rec.plan.source[i]], p[rec.plan.source[i]]};
    levelK[i] = kf.empty() ? 0 : *std::max_element(kf.begin(), kf.end());
    if (i + 1 < m) f[i + 1].assign(count, 0.0);
    kfNext.assign(count, 0);
    fanIn.assign(count, 0);
    for (std::size_t s = 0; s < parents; ++s)
      for (int works = 0; works < 2; ++works) {
        const std::int32_t code = ch[i][2 * s + works];
        if (code < 0) continue;
        f[i + 1][code] += f[i][s] * x[works];
        kfNext[code] = std::max(kfNext[code], kf[s] + 2);
        ++fanIn[code];
      }
    for (std::size_t c = 0; c < count; ++c)
      kfNext[c] += fanIn[c] - 1;
    kf.swap(kfNext);
    // Up to 2 here, 4 in the backward pass and 4 in its sums; and the two
    // inputs, each converted once.
    products += 10 * parents + 4;
  }
  const double floor = up(static_cast<double>(products) * 0x1p-1072);

  // Backward: acceptance and rejection per state of level i + 1, then i.
  std::vector<double> acc, rej, accCur, rejCur;
  std::vector<double> edgeError(edges, 0.0);
  for (std::size_t i = m; i-- > 0;) {
    if (Status s = clock.poll(); s != Status::kComplete) return void(r.status = s);
    const std::size_t parents = states[i];
    const int e = rec.plan.source[i];
    const double x[2] = {q[e], p[e]};
    accCur.assign(parents, 0.0);
    rejCur.assign(parents, 0.0);
    double sum[4] = {0, 0, 0, 0};  // f b(w), f b(f), f rej(w), f rej(f)
    for (std::size_t first = 0; first < parents; first += kBlock) {
      double block[4] = {0, 0, 0, 0};
      for (std::size_t s = first; s < std::min(parents, first + kBlock); ++s) {
        double a[2], j[2];
        for (int works = 0; works < 2; ++works) {
          const std::int32_t code = ch[i][2 * s + works];
          a[works] = code == kAccept ? 1.0 : code == kReject ? 0.0 : acc[code];
          j[works] = code == kAccept ? 0.0 : code == kReject ? 1.0 : rej[code];
        }
        accCur[s] = x[1] * a[1] + x[0] * a[0];
        rejCur[s] = x[1] * j[1] + x[0] * j[0];
        const double fs = f[i][s];
        block[0] += fs * a[1];
        block[1] += fs * a[0];
        block[2] += fs * j[1];
        block[3] += fs * j[0];
      }
      for (int k = 0; k < 4; ++k)
        sum[k] += block[k];
    }
    const std::uint64_t K = levelK[i] + 3 * (m - i - 1) + 1 + sumRoundings(parents);
    auto bound = [&](double plus, double minus) {
      const double both = up(plus + minus);
      return up(up(spread(K, both) + up(both * 0x1p-53)) + floor);
    };
    const double byAcc = bound(sum[0], sum[1]), byRej = bound(sum[2], sum[3]);
    const double value = byAcc <= byRej ? sum[0] - sum[1] : sum[3] - sum[2];
    r.birnbaum[e] = std::clamp(value, 0.0, 1.0);
    edgeError[e] = std::min(byAcc, byRej);
    r.birnbaumError = std::max(r.birnbaumError, edgeError[e]);
    acc.swap(accCur);
    rej.swap(rejCur);
  }
  r.reliability = std::clamp(acc[0], 0.0, 1.0);
  r.reliabilityError = up(spread(3 * m, acc[0]) + floor);

  // (1 - p_e) I_e: the input q_e^ is within u of q_e, the product rounds
  // once, and I_e^ carries its own bound: |P^ - P| <= q_e^ err_e / (1 - u)
  // + gamma(4) P^.
  for (std::size_t e = 0; e < edges; ++e) {
    r.potential[e] = q[e] * r.birnbaum[e];
    const double err =
        up(up(q[e] * edgeError[e]) / down(1.0 - 0x1p-53)) + up(gamma(4) * r.potential[e]);
    r.potentialError = std::max(r.potentialError, up(err));
  }
}

// The exact passes on integer numerators: f at level i has the denominator
// d_0 .. d_{i-1} (prefix[i]), b at level i the denominator d_i .. d_{m-1}
// (suffix[i]), so f(s) b(child) is over prefix[i] suffix[i + 1].
void exactPasses(const Recorded& rec, const std::vector<mpq_class>& p, const Options& options,
                 const Clock& clock, ExactImportanceResult& r) {
  const std::size_t edges = p.size();
  r.birnbaum.assign(edges, mpq_class(0));
  r.potential.assign(edges, mpq_class(0));
  if (rec.rootCode < 0) {
    r.reliability = rec.rootCode == kAccept ? 1 : 0;
    return;
  }
  const auto& ch = rec.children;
  const auto& states = r.stats.levelStates;
  const std::size_t m = ch.size();
  std::vector<mpz_class> num(m), den(m), prefix(m + 1, mpz_class(1)), suffix(m + 1, mpz_class(1));
  for (std::size_t i = 0; i < m; ++i) {
    mpq_class x = p[rec.plan.source[i]];
    x.canonicalize();
    num[i] = x.get_num();
    den[i] = x.get_den();
    prefix[i + 1] = prefix[i] * den[i];
  }
  for (std::size_t i = m; i-- > 0;)
    suffix[i] = suffix[i + 1] * den[i];
  // The numerators stay below prefix[m]; refuse what cannot fit.
  std::size_t total = 0;
  for (std::size_t i = 0; i < m; ++i)
    total += states[i];
  const std::size_t limbs = mpz_size(prefix[m].get_mpz_t()) + 1;
  if (total * (sizeof(mpz_class) + 8 * limbs) > options.memoryBytes) throw std::bad_alloc();

  std::vector<std::vector<mpz_class>> f(m);
  f[0].assign(1, mpz_class(1));
  for (std::size_t i = 0; i + 1 < m; ++i) {
    if (Status s = clock.poll(); s != Status::kComplete) return void(r.status = s);
    const mpz_class fails = den[i] - num[i];
    f[i + 1].assign(states[i + 1], mpz_class(0));
    for (std::size_t s = 0; s < states[i]; ++s)
      for (int works = 0; works < 2; ++works) {
        const std::int32_t code = ch[i][2 * s + works];
        if (code < 0) continue;
        mpz_addmul(f[i + 1][code].get_mpz_t(), f[i][s].get_mpz_t(),
                   (works ? num[i] : fails).get_mpz_t());
      }
  }
  std::vector<mpz_class> b, bCur;
  const mpz_class zero = 0;
  mpz_class diff, sum;
  for (std::size_t i = m; i-- > 0;) {
    if (Status s = clock.poll(); s != Status::kComplete) return void(r.status = s);
    const mpz_class fails = den[i] - num[i];
    bCur.assign(states[i], mpz_class(0));
    sum = 0;
    for (std::size_t s = 0; s < states[i]; ++s) {
      auto value = [&](std::int32_t code) -> const mpz_class& {
        return code == kAccept ? suffix[i + 1] : code == kReject ? zero : b[code];
      };
      const mpz_class& works = value(ch[i][2 * s + 1]);
      const mpz_class& failed = value(ch[i][2 * s]);
      bCur[s] = num[i] * works + fails * failed;
      diff = works - failed;
      mpz_addmul(sum.get_mpz_t(), f[i][s].get_mpz_t(), diff.get_mpz_t());
    }
    const int e = rec.plan.source[i];
    r.birnbaum[e] = mpq_class(sum, prefix[i] * suffix[i + 1]);
    r.birnbaum[e].canonicalize();
    b.swap(bCur);
    std::vector<mpz_class>().swap(f[i]);
  }
  r.reliability = mpq_class(b[0], suffix[0]);
  r.reliability.canonicalize();
  for (std::size_t e = 0; e < edges; ++e)
    r.potential[e] = (1 - p[e]) * r.birnbaum[e];
}

}  // namespace

ImportanceResult importanceDouble(const Problem& problem, const std::vector<double>& p,
                                  const std::vector<double>& q, const Options& options) {
  const Clock clock(options);
  Options opts = options;  // less the time the plans take
  ImportanceResult r;
  std::vector<Plan> plans;
  r.status = makePlans(problem, opts, plans, r.message);
  if (r.status != Status::kComplete) return r;
  if (singleProcessOnly(options, r.status, r.message)) return r;
  if (!validProbabilities(problem, p, q, r.message)) return r.status = Status::kInvalidInput, r;
  try {
    Recorded rec;
    r.status = record(plans, opts, 16, rec, r.stats, r.message);  // codes and f
    if (r.status == Status::kComplete) doublePasses(rec, p, q, clock, r);
  } catch (const std::bad_alloc&) {
    r.status = Status::kMemoryLimit;
    r.message = "the importance passes exceed the memory bound";
  }
  if (r.status != Status::kComplete) {
    if (r.message.empty()) r.message = statusName(r.status);
    r.birnbaum.clear();
    r.potential.clear();
    r.reliability = r.reliabilityError = r.birnbaumError = r.potentialError = 0;
  }
  r.stats.seconds = clock.seconds();
  return r;
}

ExactImportanceResult importanceExact(const Problem& problem, const std::vector<mpq_class>& p,
                                      const Options& options) {
  const Clock clock(options);
  Options opts = options;  // less the time the plans take
  ExactImportanceResult r;
  std::vector<Plan> plans;
  r.status = makePlans(problem, opts, plans, r.message);
  if (r.status != Status::kComplete) return r;
  if (singleProcessOnly(options, r.status, r.message)) return r;
  if (!validProbabilities(problem, p, r.message)) return r.status = Status::kInvalidInput, r;
  try {
    Recorded rec;
    r.status = record(plans, opts, 8 + sizeof(mpz_class), rec, r.stats, r.message);
    if (r.status == Status::kComplete) exactPasses(rec, p, options, clock, r);
  } catch (const std::bad_alloc&) {
    r.status = Status::kMemoryLimit;
    r.message = "the importance passes exceed the memory bound";
  }
  if (r.status != Status::kComplete) {
    if (r.message.empty()) r.message = statusName(r.status);
    r.birnbaum.clear();
    r.potential.clear();
    r.reliability = 0;
  }
  r.stats.seconds = clock.seconds();
  return r;
}

}  // namespace frontier
