#include "driver/tool/text.hpp"

#include <cstdio>
#include <string>

#include "driver/problem_file.hpp"

namespace {

// Length of the valid UTF-8 sequence starting at `i` (1 for ASCII), or 0 if
// the bytes there are not one. Overlong forms and surrogates are invalid.
std::size_t sequenceLength(std::string_view s, std::size_t i, unsigned& codePoint) {
  const auto byte = [&s](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned lead = byte(i);
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  }
  std::size_t length = 0;
  unsigned min = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, min = 0x80, codePoint = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, min = 0x800, codePoint = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, min = 0x10000, codePoint = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > s.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    codePoint = (codePoint << 6) | (byte(i + k) & 0x3F);
  }
  if (codePoint < min || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
    return 0;
  return length;
}

bool isControl(unsigned codePoint) {
  return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F);
}

void appendHex(std::string& out, unsigned char c) {
  char buf[5];
  std::snprintf(buf, sizeof buf, "\\x%02X", c);
  out += buf;
}

}  // namespace

namespace {

// Copies `text`, valid non-control UTF-8 sequences as they are; for any
// other byte run (an invalid byte, length 0, or a control sequence of
// `length` bytes at `i`) `other` appends its stand-in and returns the bytes
// it consumed.
template <class Other>
std::string keepPrintable(std::string_view text, Other other) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    unsigned codePoint = 0;
    const std::size_t length = sequenceLength(text, i, codePoint);
    if (length > 0 && !isControl(codePoint)) {
      out.append(text.substr(i, length));
      i += length;
    } else {
      i += other(out, i, length);
    }
  }
  return out;
}

}  // namespace

std::string printable(std::string_view text) {
  // A C1 control is escaped byte by byte, like an invalid sequence.
  return keepPrintable(text, [text](std::string& out, std::size_t i, std::size_t length) {
    const std::size_t bad = length > 0 ? length : 1;
    for (std::size_t k = i; k < i + bad; ++k) {
      switch (text[k]) {
        case '\n':
          out += "\\n";
          break;
        case '\r':
          out += "\\r";
          break;
        case '\t':
          out += "\\t";
          break;
        default:
          appendHex(out, static_cast<unsigned char>(text[k]));
      }
    }
    return bad;
  });
}

std::string titleText(std::string_view text) {
  // Invalid bytes read "?", controls a blank.
  return keepPrintable(text, [](std::string& out, std::size_t, std::size_t length) {
    out += length == 0 ? '?' : ' ';
    return length == 0 ? std::size_t{1} : length;
  });
}

InputRead readInput(const std::string& path, std::string& text) {
  std::FILE* file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
  if (file == nullptr) return InputRead::kUnreadable;
  text.clear();
  InputRead result = InputRead::kOk;
  char buffer[1 << 16];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    if (text.size() + got > kMaxInputBytes) {
      result = InputRead::kTooLarge;
      break;
    }
    text.append(buffer, got);
  }
  if (result == InputRead::kOk && std::ferror(file)) result = InputRead::kUnreadable;
  if (file != stdin) std::fclose(file);
  if (result != InputRead::kOk) text.clear();
  return result;
}

std::string inputProblem(InputRead why, const std::string& what, const std::string& path) {
  switch (why) {
    case InputRead::kTooLarge:
      return "the " + what + " '" + path + "' is larger than " +
             std::to_string(kMaxInputBytes >> 20) + " MiB";
    default:
      return "cannot read the " + what + " '" + path + "'";
  }
}
