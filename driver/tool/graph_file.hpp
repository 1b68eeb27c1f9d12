// Network files (GML, GraphML) for dcr-tool: the network with its node
// labels, terminals named by label, and a probability per link from an
// attribute or from --p.
#pragma once

#include <string>

#include "api/dcr.hpp"

struct GraphFileArgs {
  std::string path;
  std::string terminals;   // "all", labels separated by commas, or #N (0-based index)
  std::string diameter;    // already checked by the caller
  std::string pAttribute;  // link attribute holding the probability; empty: none
  std::string p;           // for links without one; empty: every link needs one
};

struct GraphFileOutcome {
  int status = 0;  // an exit status (driver/exit_status.hpp); 0 when read
  std::string message;
};

// Reads the file into `out` (labels kept, parallel links kept as distinct
// links, self-loops kept: they never help). `out.maxHops` is left to the
// caller.
GraphFileOutcome loadGraphFile(const GraphFileArgs& args, dcr::Network& out);

// Whether this build reads network files (it needs igraph).
bool graphFilesSupported();
