// Text a user typed, made safe to show: in a terminal, where control bytes
// would move the cursor or rewrite the screen, and in a plot title.
#pragma once

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

// Reads the whole file at `path`, or standard input for "-". False when it
// cannot be read.
bool readInput(const std::string& path, std::string& text);
