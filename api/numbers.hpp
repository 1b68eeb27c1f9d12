// Numbers for `dcr-tool solve`: probabilities as the decimals a person
// wrote, the doubles nearest to them, and exact values printed to a fixed
// number of decimals.
#pragma once

#include <gmpxx.h>

#include <string>
#include <string_view>

// A probability as written: digits with an optional point and exponent
// ("0.9", ".95", "1", "9e-1"), exactly, as a fraction (0.9 is 9/10). No
// sign but '+', no inf, nan or hexadecimal. False when `text` is not such a
// decimal or has more than 10000 exponent digits' worth of scale.
bool parseDecimal(std::string_view text, mpq_class& value);

// The double nearest to `value` (ties to even), for values in [0, 1].
double nearestDouble(const mpq_class& value);

// How a value is cut to a number of decimals: to nearest (ties to even),
// or down and up, so that a printed bound still holds.
enum class Rounding { kNearest, kDown, kUp };

// `value` (in [0, 1]) with `decimals` digits after the point, rounded to
// nearest unless asked otherwise: "0.97555658950537834091".
std::string fixedDecimals(const mpq_class& value, int decimals,
                          Rounding rounding = Rounding::kNearest);

// `value` > 0 in scientific notation with `digits` significant digits,
// rounded to nearest ("2.4443410494621659e-02"); "0" for zero.
std::string scientific(const mpq_class& value, int digits);

// A double printed as "%.20f" (or, for a value in [0, 1], rounded down or
// up at the 20th decimal) and as "%.16e".
std::string fixed20(double value, Rounding rounding = Rounding::kNearest);
std::string scientific17(double value);
