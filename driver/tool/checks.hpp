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

// Where dcr's reader stopped in `text`, which it accepted as `problem`: the
// offset just past the threshold. Found by walking the file's layout again
// (N, M, the three lists, D, p, threshold); std::string_view::npos if the
// walk does not agree with the text.
std::size_t endOfProblem(std::string_view text, const Problem& problem);

// A warning about non-blank text after the threshold, which dcr ignores;
// "" when there is none.
std::string trailingTextWarning(std::string_view text, const Problem& problem);
