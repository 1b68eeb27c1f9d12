// What is usually a mistake in a problem that is otherwise valid: dcr
// solves it, but most likely not the network the user meant. dcr-tool
// warns about these on standard error and carries on.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "driver/problem_file.hpp"

// Warnings about `problem`, node numbers shown from `base`. `edgeListBase`
// adds the hint that an isolated node 0 means a list counted from 1 (for
// make-input with --base 0). Each is one line without "warning: ".
std::vector<std::string> problemWarnings(const Problem& problem, int base, bool edgeListBase);

// A warning about non-blank text after the threshold, which dcr never
// reads; `end` is where the reader stopped (ReadOutcome::end). "" when
// there is none.
std::string trailingTextWarning(std::string_view text, std::size_t end);
