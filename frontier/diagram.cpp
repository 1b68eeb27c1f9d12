// The Diagram and the reliability polynomial: the recorded sweep, evaluated
// afterwards at any p.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "frontier/frontier.hpp"
#include "frontier/record.hpp"

namespace frontier {

template Status runSweep<RecordSink>(const Plan&, RecordSink&, const Options&, Stats&,
                                     const LostTest&);

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
