// Small text helpers shared by the reader and the look-ups.
#pragma once

#include <string>
#include <string_view>

namespace netfile {

// `s` without leading and trailing blanks (space, tab, CR, LF).
std::string trimmed(std::string_view s);

// `s` fit for a one-line message: control characters become spaces, runs
// of spaces one, and past 300 bytes it is cut with "...".
std::string oneLine(std::string_view s);

bool equalsIgnoringCase(std::string_view a, std::string_view b);

// The shortest fixed-point decimal that reads back as `x` ("0.9", "1e-05"
// as "0.00001"); "0" for either zero, "inf" and "-inf" for infinities.
std::string shortestDecimal(double x);

}  // namespace netfile
