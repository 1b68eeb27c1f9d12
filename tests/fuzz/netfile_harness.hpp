// One fuzz input for the network-file reader (netfile/): read from memory
// as GML or GraphML, then the look-ups on what was read. Shared by the
// libFuzzer target dcr_fuzz_netfile and the replay of saved inputs in
// tests/netfile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Returns "" when every check holds, else what went wrong. Memory and
// undefined-behaviour faults are left to the sanitizers.
std::string checkNetfileInput(const std::uint8_t* data, std::size_t size);
