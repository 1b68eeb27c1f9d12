// `dcr-tool solve`: its options as typed (main.cpp declares them), how the
// network is read (a problem file, an edge list or a network file) and how
// the front door's answer is printed; the engines and the choice between
// them are the front door's.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "api/dcr.hpp"
#include "driver/problem_file.hpp"

// The estimate's options, as typed; solve and sweep share them.
struct EstimateArgs {
  std::string samples, relError, confidence, seed, threads;
};
// Sets the estimate's fields of `options`; returns "" or what is wrong.
std::string readEstimateOptions(const EstimateArgs& args, dcr::Options& options);

struct SolveArgs {
  std::string file;        // a problem file in dcr's format ...
  std::string edges;       // ... or an edge list "u v [p]"
  std::string graph;       // ... or a GML or GraphML network file
  std::string pAttribute;  // with --graph: the link attribute holding p
  std::string terminals;   // with --edges
  std::string diameter;    // with --edges
  std::string p;           // probability of edges that give none
  std::string nodes;
  std::string base = "0";
  std::string method = "auto";
  std::string threshold;
  bool decide = false;
  bool exact = false;
  bool fraction = false;
  bool polynomial = false;
  bool importance = false;
  std::string timeLimit;
  EstimateArgs estimate;
  std::string memoryLimit;  // MiB for the frontier's levels
  std::string format = "text";
  bool mpi = false;  // one rank of an MPI job (under mpirun)
};

// A checked problem file's network for the front door, with hop limit D
// (the search keeps the file's neighbour order).
dcr::Network networkOf(const Problem& problem, int D);

// Reports a failure: prints the message and returns the status.
using Fail = std::function<int(int status, const std::string& message)>;

// Runs the command; returns the exit status (see dcr-tool's main).
int runSolve(const SolveArgs& args, const Fail& fail);
