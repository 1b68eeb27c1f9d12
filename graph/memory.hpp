// How much memory this process may use.
#pragma once

#include <cstddef>

// What this process can have: the machine's physical memory, or less when
// an address-space or data limit is set (ulimit -v, -d). Engines stop short
// of it with a clear message instead of meeting the out-of-memory killer.
std::size_t memoryAvailable();
