#include "api/numbers.hpp"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

bool isDigit(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// 10^k for k >= 0.
mpz_class powerOfTen(unsigned long k) {
  mpz_class out;
  mpz_ui_pow_ui(out.get_mpz_t(), 10, k);
  return out;
}

// value * 10^scale as a whole number: to nearest (ties to even), down or
// up; value >= 0.
mpz_class scaledRound(const mpq_class& value, long scale, Rounding rounding = Rounding::kNearest) {
  mpq_class scaled = value;
  if (scale >= 0)
    scaled *= mpq_class(powerOfTen(static_cast<unsigned long>(scale)));
  else
    scaled /= mpq_class(powerOfTen(static_cast<unsigned long>(-scale)));
  mpz_class quotient, remainder;
  mpz_fdiv_qr(quotient.get_mpz_t(), remainder.get_mpz_t(), scaled.get_num_mpz_t(),
              scaled.get_den_mpz_t());
  if (rounding == Rounding::kDown) return quotient;  // floor
  if (rounding == Rounding::kUp) return sgn(remainder) != 0 ? quotient + 1 : quotient;
  const mpz_class twice = 2 * remainder;
  const int side = cmp(twice, scaled.get_den());
  if (side > 0 || (side == 0 && mpz_odd_p(quotient.get_mpz_t()))) ++quotient;
  return quotient;
}

}  // namespace

bool parseDecimal(std::string_view text, mpq_class& value) {
  std::size_t i = 0;
  if (i < text.size() && text[i] == '+') ++i;
  mpz_class digits = 0;
  long fraction = 0;  // digits after the point
  bool any = false;
  std::string mantissa;
  for (; i < text.size() && isDigit(text[i]); ++i) {
    mantissa += text[i];
    any = true;
  }
  if (i < text.size() && text[i] == '.') {
    for (++i; i < text.size() && isDigit(text[i]); ++i) {
      mantissa += text[i];
      ++fraction;
      any = true;
    }
  }
  if (!any) return false;
  long exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size() || !isDigit(text[i])) return false;
    for (; i < text.size() && isDigit(text[i]); ++i) {
      exponent = exponent * 10 + (text[i] - '0');
      if (exponent > 10000) return false;  // a probability needs no such scale
    }
    if (negative) exponent = -exponent;
  }
  if (i != text.size() || mantissa.size() > 10000) return false;
  digits.set_str(mantissa, 10);
  const long scale = exponent - fraction;
  value = digits;
  if (scale >= 0)
    value *= mpq_class(powerOfTen(static_cast<unsigned long>(scale)));
  else
    value /= mpq_class(powerOfTen(static_cast<unsigned long>(-scale)));
  value.canonicalize();
  return true;
}

double nearestDouble(const mpq_class& value) {
  // mpq_get_d truncates; the nearest double is it or the next one up.
  const double down = value.get_d();
  const double up = std::nextafter(down, 2.0);
  const mpq_class below = value - mpq_class(down), above = mpq_class(up) - value;
  const int c = cmp(below, above);
  if (c < 0) return down;
  if (c > 0) return up;
  // A tie: the one with an even last significand bit.
  std::int64_t bits = 0;
  static_assert(sizeof bits == sizeof down);
  std::memcpy(&bits, &down, sizeof bits);
  return (bits & 1) == 0 ? down : up;
}

std::string fixedDecimals(const mpq_class& value, int decimals, Rounding rounding) {
  const std::size_t places = static_cast<std::size_t>(decimals);
  std::string digits = scaledRound(value, decimals, rounding).get_str();
  if (digits.size() <= places) digits = std::string(places + 1 - digits.size(), '0') + digits;
  const std::size_t whole = digits.size() - places;
  return digits.substr(0, whole) + "." + digits.substr(whole);
}

std::string scientific(const mpq_class& value, int digits) {
  if (sgn(value) == 0) return "0";
  // Find e with 10^e <= value < 10^(e+1), starting from the double's guess.
  long e = static_cast<long>(std::floor(std::log10(value.get_d())));
  for (;;) {
    const mpz_class n = scaledRound(value, digits - 1 - e);
    const std::string s = n.get_str();
    if (s.size() > static_cast<std::size_t>(digits)) {
      ++e;  // rounding carried into a new digit, or the guess was low
      continue;
    }
    if (s.size() < static_cast<std::size_t>(digits)) {
      --e;
      continue;
    }
    char exp[32];
    std::snprintf(exp, sizeof exp, "e%c%02ld", e < 0 ? '-' : '+', e < 0 ? -e : e);
    return s.substr(0, 1) + "." + s.substr(1) + exp;
  }
}

std::string fixed20(double value, Rounding rounding) {
  // A double is a fraction: rounded outward from its exact value.
  if (rounding != Rounding::kNearest && value >= 0 && value <= 1)
    return fixedDecimals(mpq_class(value), 20, rounding);
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.20f", value);
  return buf;
}

std::string scientific17(double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.16e", value);
  return buf;
}
