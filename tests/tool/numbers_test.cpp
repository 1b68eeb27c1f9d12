// Probabilities as written and exact values as printed.
#include "api/numbers.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>

namespace {

TEST(Numbers, DecimalsAreReadExactly) {
  struct Case {
    const char* text;
    const char* fraction;
  };
  const Case good[] = {{"0.9", "9/10"},    {".95", "19/20"},
                       {"1", "1"},         {"0", "0"},
                       {"9e-1", "9/10"},   {"+0.5", "1/2"},
                       {"1.", "1"},        {"0.0001E+2", "1/100"},
                       {"000.250", "1/4"}, {"1e-30", "1/1000000000000000000000000000000"}};
  for (const Case& c : good) {
    mpq_class v;
    ASSERT_TRUE(parseDecimal(c.text, v)) << c.text;
    EXPECT_EQ(v.get_str(), c.fraction) << c.text;
  }
  for (const char* bad : {"", ".", "-0.5", "inf", "nan", "0x1p-1", "0.5x", "1e", "1e+", " 0.5",
                          "0.5 ", "1e99999", "e5", "0,5"}) {
    mpq_class v;
    EXPECT_FALSE(parseDecimal(bad, v)) << bad;
  }
}

// The C library's strtod rounds correctly, so it is an independent check
// of the nearest double, q = 1 - p included (computed here as a decimal).
TEST(Numbers, NearestDoubleAgreesWithStrtod) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 3000; ++i) {
    const int digits = 1 + static_cast<int>(rng() % 25);
    std::string text = "0.";
    for (int d = 0; d < digits; ++d)
      text += static_cast<char>('0' + rng() % 10);
    mpq_class p;
    ASSERT_TRUE(parseDecimal(text, p));
    EXPECT_EQ(nearestDouble(p), std::strtod(text.c_str(), nullptr)) << text;
    // 1 - p as a decimal: the digits' complement to 10^digits.
    const mpq_class q = 1 - p;
    mpz_class ten;
    mpz_ui_pow_ui(ten.get_mpz_t(), 10, static_cast<unsigned long>(digits));
    const mpz_class scaled(q * mpq_class(ten));
    const std::string qDigits = scaled.get_str();
    std::string qText = p == 0 ? std::string("1") : std::string("0.");
    if (p != 0) {
      qText.append(static_cast<std::size_t>(digits) - qDigits.size(), '0');
      qText.append(qDigits);
    }
    EXPECT_EQ(nearestDouble(q), std::strtod(qText.c_str(), nullptr)) << qText;
  }
  // A tie between two doubles goes to the even one.
  const mpq_class tie = mpq_class(1) + mpq_class(1, mpz_class(1) << 53);
  EXPECT_EQ(nearestDouble(tie), 1.0);
}

TEST(Numbers, FixedAndScientificRoundToNearest) {
  EXPECT_EQ(fixedDecimals(mpq_class(5, 8), 20), "0.62500000000000000000");
  EXPECT_EQ(fixedDecimals(mpq_class(1), 20), "1.00000000000000000000");
  EXPECT_EQ(fixedDecimals(mpq_class(0), 3), "0.000");
  EXPECT_EQ(fixedDecimals(mpq_class(2, 3), 20), "0.66666666666666666667");
  EXPECT_EQ(fixedDecimals(mpq_class(1, 3), 20), "0.33333333333333333333");
  EXPECT_EQ(fixedDecimals(mpq_class(1, 8), 2), "0.12");  // tie, to even
  EXPECT_EQ(fixedDecimals(mpq_class(3, 8), 2), "0.38");  // tie, to even
  EXPECT_EQ(fixedDecimals(mpq_class(999, 1000), 2), "1.00");
  EXPECT_EQ(scientific(mpq_class(1, 3), 5), "3.3333e-01");
  EXPECT_EQ(scientific(mpq_class(99999, 100000), 3), "1.00e+00");
  EXPECT_EQ(scientific(mpq_class(1, 1000000), 2), "1.0e-06");
  EXPECT_EQ(scientific(mpq_class(0), 5), "0");
  EXPECT_EQ(fixed20(0.9), "0.90000000000000002220");
}

}  // namespace
