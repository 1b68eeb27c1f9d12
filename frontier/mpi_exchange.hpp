// The ranks of an MPI job (MPI_COMM_WORLD) as an Exchange, for a frontier
// sweep under mpirun. Built only where MPI is installed (DCR_HAVE_MPI).
#pragma once

#include <memory>

#include "frontier/exchange.hpp"

namespace frontier {

// Starts MPI if nobody has, and ends it when the exchange goes (if it
// started it). Call once per process, from its main thread.
std::unique_ptr<Exchange> startMpi();

}  // namespace frontier
