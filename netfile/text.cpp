#include "netfile/text.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

namespace netfile {

std::string trimmed(std::string_view s) {
  const std::size_t first = s.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return "";
  const std::size_t last = s.find_last_not_of(" \t\r\n");
  return std::string(s.substr(first, last - first + 1));
}

std::string oneLine(std::string_view s) {
  constexpr std::size_t kMaxBytes = 300;
  std::string out;
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    const char put = (u < 0x20 || u == 0x7f) ? ' ' : c;
    if (put == ' ' && (out.empty() || out.back() == ' ')) continue;
    out.push_back(put);
    if (out.size() > kMaxBytes) {
      out.resize(kMaxBytes);
      // Cut at a character boundary, not inside a UTF-8 sequence.
      while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0x80)
        out.pop_back();
      if (!out.empty() && static_cast<unsigned char>(out.back()) >= 0xC0) out.pop_back();
      return out + "...";
    }
  }
  while (!out.empty() && out.back() == ' ')
    out.pop_back();
  return out;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string shortestDecimal(double x) {
  if (x == 0) return "0";
  if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
  // The longest fixed form of a double is the smallest subnormal's, about
  // 330 characters.
  char text[512];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, x, std::chars_format::fixed);
  if (ec != std::errc{}) return "nan";
  return std::string(text, end);
}

}  // namespace netfile
