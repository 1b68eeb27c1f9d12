// Text a user typed, made safe to show: in a terminal, where control bytes
// would move the cursor or rewrite the screen, and in a plot title.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// `text` with every byte that is not printable written as an escape: \n, \r
// and \t by name, any other control byte (C0, DEL), a UTF-8 encoded C1
// control and every byte that is not part of valid UTF-8 as \xHH. Printable
// ASCII and valid UTF-8 pass unchanged, so "réseau.input" stays readable.
std::string printable(std::string_view text);

// `text` for a plot title: every control character (C0, DEL, C1) becomes a
// blank, and bytes that are not valid UTF-8 become '?'.
std::string titleText(std::string_view text);

// What readInput found: the text, or why there is none.
enum class InputRead { kOk, kUnreadable, kTooLarge };
inline constexpr std::size_t kMaxInputBytes = std::size_t{64} << 20;

// Reads the whole file at `path`, or standard input for "-", as it comes:
// past kMaxInputBytes (an endless stream such as /dev/zero; the networks
// this tool can solve take far less) the reading stops, so memory holds at
// most that.
InputRead readInput(const std::string& path, std::string& text);

// "cannot read the problem file 'x'", "the edge list 'x' is larger than ...".
std::string inputProblem(InputRead why, const std::string& what, const std::string& path);
