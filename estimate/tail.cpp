// The hypoexponential tail P(X_0 + ... + X_{k-1} > 1), X_i ~ Exp(rate_i).
//
// Why uniformization: the textbook closed form sum_i c_i e^{-rate_i} has
// coefficients c_i = prod_{j != i} rate_j / (rate_j - rate_i) of
// alternating sign that grow without bound when rates are close (in the
// evolution process they differ by one edge's rate, out of hundreds), so
// the sum cancels to noise long before the tail is small. Instead read the
// sum as the time a pure-birth chain needs to pass stages 0 .. k-1 and
// uniformize at Q = max rate: P(S > 1) = sum_n Poisson(n; Q) a_n, where
// a_n is the probability that the discrete chain (stay in stage i with
// probability 1 - rate_i / Q, else move on) has not left stage k-1 after n
// steps. Every quantity is a convex combination of nonnegative numbers:
// no subtraction, so the relative error grows only like n * eps. The
// Poisson weights are formed in logarithms until they are far from
// underflow (then by the product w_{n+1} = w_n Q / (n + 1)), so e^{-Q}
// never underflows the whole sum; weights below the smallest double are
// lost, which costs at most about 1e-300 absolutely. Past the mode the
// remaining sum is at most w_{n+1} a_{n+1} / (1 - Q / (n + 2)) (a_n
// decreases; the weights fall geometrically), and the series stops once
// that is below 1e-17 of the sum. Cost: about
// (Q + c sqrt(Q)) steps of O(k); Q is the sum of the rates still unborn,
// m ln(1/(1-p)) for m edges at p, so it grows only logarithmically as p -> 1.
#include <algorithm>
#include <cmath>
#include <vector>

#include "estimate/internal.hpp"

namespace estimate::detail {

namespace {

// One pass for the tail of k stages; with `all`, also every shorter
// prefix's: all[i - 1] = P(X_0 + ... + X_{i-1} > 1), the mass of the same
// chain not yet past stage i - 1, summed the same way.
double tails(const double* rates, int k, double* all) {
  if (k <= 0) return 0;
  double q = 0;
  for (int i = 0; i < k; ++i)
    q = std::max(q, rates[i]);
  std::vector<double> stay(k), move(k), v(k, 0.0);
  for (int i = 0; i < k; ++i) {
    move[i] = rates[i] / q;
    stay[i] = 1 - move[i];
  }
  v[0] = 1;
  int lo = 0, hi = 0;  // v is zero outside [lo, hi]
  double alive = 1;    // a_n: the mass still in stages < k
  const double logQ = std::log(q);
  double logWeight = -q;  // log Poisson(n; Q)
  double sum = 0;
  const long long cap = static_cast<long long>(2 * q + 60 * std::sqrt(q) + 1000);
  double weight = 0;
  bool linear = false;  // once the weight is far from underflow, a product per step
  if (all) std::fill(all, all + k, 0.0);
  for (long long n = 0; n <= cap; ++n) {
    if (!linear) {
      weight = std::exp(logWeight);
      linear = weight > 1e-250;
    }
    sum += weight * alive;
    if (all) {
      double below = 0;  // mass in stages < i, for i = lo + 1 .. hi + 1
      for (int j = lo; j <= hi; ++j) {
        below += v[j];
        all[j] += weight * below;
      }
      for (int j = hi + 1; j < k; ++j)
        all[j] += weight * below;
    }
    const double ratio = q / static_cast<double>(n + 1);
    if (linear) {
      weight *= ratio;
    } else {
      logWeight += logQ - std::log(static_cast<double>(n + 1));
      weight = std::exp(logWeight);
    }
    // One step of the discrete chain, from the top down so that v[j - 1]
    // is still the old value; what leaves stage k-1 is absorbed.
    if (hi < k - 1) ++hi;
    for (int j = hi; j > lo; --j)
      v[j] = v[j] * stay[j] + v[j - 1] * move[j - 1];
    v[lo] *= stay[lo];
    while (lo < hi && v[lo] == 0)
      ++lo;
    alive = 0;
    for (int j = lo; j <= hi; ++j)
      alive += v[j];
    if (alive == 0) break;
    // Past the mode the weights fall at least geometrically, by q / (n + 2).
    const double fall = q / static_cast<double>(n + 2);
    if (fall < 1 && weight * alive / (1 - fall) <= 1e-17 * sum) break;
  }
  if (all)
    for (int i = 0; i < k; ++i)
      all[i] = std::min(all[i], 1.0);
  return std::min(sum, 1.0);
}

}  // namespace

double hypoexponentialTail(const double* rates, int k) {
  return tails(rates, k, nullptr);
}

void hypoexponentialTails(const double* rates, int k, double* out) {
  tails(rates, k, out);
}

}  // namespace estimate::detail
