// One fuzz input, checked end to end: the reader on the raw bytes, and, for
// problems small enough to search quickly, the engine against the reference
// engine. Shared by the libFuzzer target and the regression runner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Returns "" when every check holds, else what went wrong. Memory and
// undefined-behaviour faults are left to the sanitizers.
std::string checkFuzzInput(const std::uint8_t* data, std::size_t size);
