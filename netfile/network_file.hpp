// Networks from the files people keep them in: GML (the Internet Topology
// Zoo's format) and GraphML (as networkx writes it), read with igraph's own
// parsers, and the look-ups a solver needs on them: terminals by label and
// per-link probabilities from an attribute.
//
// Every function returns "" on success, else one line saying what is wrong
// (for a file, "line N: ..." when the parser knows the line). Nothing is
// printed; igraph's errors and warnings are captured while it reads.
// Reads take one process-wide lock, as igraph keeps global state: other
// code must not call igraph while a read runs on another thread.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace netfile {

struct Network {
  // One per node, in the file's order: the node's `label` attribute when it
  // has a non-empty one, else its `name`, else its `id` (GraphML's node id;
  // GML's number), else its index as text. Labels are kept as written and
  // may repeat.
  std::vector<std::string> labels;

  // An undirected link, u <= v (directed files are read as undirected).
  // Parallel links stay distinct and self-loops stay, in the file's order.
  // `attributes` holds the link's attribute values as text: strings as
  // written, numbers as the shortest decimal that reads back as the same
  // double ("0.9", "-74.00597"), booleans as "true"/"false". A value the
  // link lacks is absent; igraph cannot tell an empty string from a missing
  // one, so empty strings are absent too.
  struct Link {
    int u = 0, v = 0;
    std::map<std::string, std::string> attributes;
  };
  std::vector<Link> links;

  // igraph's non-fatal notes while reading (such as an unknown XML or GML
  // entity kept verbatim), one line each, without repeats; at most 20.
  std::vector<std::string> warnings;
};

// Reads a GML or GraphML file into `out` (replacing what it held). The
// format is told by content: GraphML starts (after any byte-order mark and
// blanks) with "<?xml" or "<graphml"; anything else is read as GML.
std::string readNetwork(const std::string& path, Network& out);

// The same, from the file's text in memory.
std::string readNetworkText(std::string_view text, Network& out);

// The terminal nodes that `list` names, in its order: "all" (every node,
// in index order) or comma-separated names, each trimmed of blanks. A name
// is a node's label, or "#N" for the node with 0-based index N; "#N" is the
// way to reach a node whose label is shared with others, contains a comma,
// or is itself "all" or "#" and digits. Unknown, ambiguous or repeated
// names are errors; an unknown one's message suggests close labels.
std::string resolveTerminals(const Network& network, const std::string& list,
                             std::vector<int>& nodes);

// One entry per link: the decimal text of its `attribute` value, or empty
// when the link has none (the caller supplies a default). Numbers stored as
// doubles come back as their shortest round-trip text in fixed notation
// ("0.9", "0.00001"); strings come back trimmed, as written ("0.90", ".9",
// "9e-1"). The range check is exact on the decimal digits. An error names
// the first link whose value is not a decimal number or is outside [0, 1],
// and also results when links exist but none has the attribute (a misspelt
// name).
std::string linkProbabilities(const Network& network, const std::string& attribute,
                              std::vector<std::optional<std::string>>& out);

}  // namespace netfile
