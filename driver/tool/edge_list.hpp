// Edge lists and problem files, for dcr-tool.
//
// An edge list is what people keep: one edge "u v" a line, nodes numbered
// from 0 or 1, '#' starting a comment. A problem file is what dcr reads:
// offsets and a neighbour list that names every edge twice. This file turns
// one into the other and back.
//
// Inside the tool every node number is 0-based, as in myGraph; the base
// only matters when reading or printing numbers for a person.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "driver/problem_file.hpp"

struct Edge {
  int u = 0;     // 0-based
  int v = 0;     // 0-based, never equal to u
  int line = 0;  // line of the edge list it came from; 0 when not from a file
};

struct EdgeList {
  int nodes = 0;            // node count; every edge end is below it
  std::vector<Edge> edges;  // in the order read; no duplicates, no self loops
};

// The most nodes a network may have. Every node costs a few bytes in the
// problem file and in the engine whatever its edges, and a network this size
// is already far beyond what the search can solve; a larger count is a typo.
inline constexpr int kMaxNodes = 10'000'000;

// Without --nodes, the node count may exceed twice the edge count (the most
// nodes the edges can join) by this many isolated nodes. A number further
// out is almost always a typo, and would otherwise silently cost a list
// entry for every node up to it.
inline constexpr int kSpareNodes = 1000;

// Reads `text` as an edge list whose numbers start at `base` (0 or 1).
// `nodes` < 0 takes the node count from the largest number seen, which must
// then stay within 2 * edges + kSpareNodes; otherwise every number must
// name one of `nodes` nodes, and `nodes` must not exceed kMaxNodes. Returns
// "" on success, else a message beginning "line L: " when a line is at fault.
std::string parseEdgeList(std::string_view text, int base, int nodes, EdgeList& out);

// Reads --terminals: "all", or node numbers (from `base`) separated by
// commas or blanks. Fills `flags` with `nodes` entries, 1 for a terminal.
// Returns "" on success, else a message about the offending entry.
std::string parseTerminals(std::string_view text, int base, int nodes, std::vector<int>& flags);

// The problem with these edges and terminal flags (`flags` has
// `edges.nodes` entries). Each node's neighbours are listed in increasing
// order, so one edge set always gives the same file whatever order its
// edges were read in. Returns "" on success, else why it cannot be written
// (too many edges for dcr's int offsets).
std::string makeProblem(const EdgeList& edges, const std::vector<int>& flags, int D, double p,
                        double threshold, Problem& out);

// The problem file text: N M on the first line, then the offsets, the
// neighbour list and the terminal flags one list a line with a comma after
// every element, then D, p and the threshold. Numbers are written in
// shortest round-trip form, so dcr reads back exactly these doubles.
std::string problemText(const Problem& problem);

// The edges of a checked problem (readProblem succeeded), each once with
// u < v, ordered by u and then by the position of v under u.
EdgeList edgesOf(const Problem& problem);

// Shortest text that strtod reads back as exactly `value` ("0.5", "0.1",
// "0.30000000000000004").
std::string shortestText(double value);

// Strict number parsing for command-line values: the whole text must be one
// finite number; integers are decimal only (an optional sign, then digits),
// so "0x10" and "1e3" are refused rather than read in some other base.
// False otherwise.
bool parseDouble(std::string_view text, double& value);
bool parseInt(std::string_view text, int& value);
