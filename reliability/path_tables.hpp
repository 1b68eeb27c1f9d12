// The link records' heads, their folds and order, and the mask search's
// tables, straight from the stored paths. Internal to the engine.
//
// The mask forms read neither the path-state table nor the records'
// membership lists: only each record's count and fold, its probability, its
// branching position, and per position the alive words it touches. With
// millions of paths the membership lists are the engine's largest table
// (8 bytes per step of every path), so computeReliability takes these facts
// from the paths directly when a mask form will run:
//
//   planLinks   one pass over the paths: per edge its membership count, a
//               hash of its membership list, the alive words it touches;
//               the records' heads [count | u | v] (memberships left out),
//               the folds of equal lists (checked exactly by a second pass
//               over the paths where hashes agree), linkProb, linkOrder
//   fillMasks   one more pass over the paths: the groups of every position
//
// Both passes walk runs of consecutive paths that take one edge at the
// same step (a path shares its first steps with the one before it), so a
// path costs about the steps it does not share.
//
// Both give what buildLinkInfo, prepareLinks and the table building of the
// mask search give, bit for bit: the same records, counts, folds,
// probabilities (the same products in the same order), order, and groups
// in the same order.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "reliability/edge_index.hpp"
#include "reliability/mask_search.hpp"
#include "reliability/my_graph.hpp"

namespace pathTables {

// What planLinks learns per record that fillMasks needs.
struct plan {
  std::unique_ptr<const edgeIndex> index;  // the graph's edges, numbered
  std::vector<int> recordOf;               // per edge: its record, -1 for an edge on no path
  struct record {
    int words;  // alive words it has paths in
    // When it holds the one-edge path of a pair: the place of that path in
    // a scan of its memberships in (pair, path) order (-1: none), its word,
    // and the words of the first two memberships of that scan.
    int oneEdgeAt, oneEdgeWord, firstWord, secondWord;
  };
  bigTable<record> records;  // per record
};

// Fills g.linkInfo (heads only), g.linkStart, g.numLinks, g.linkProb and
// g.linkOrder from g.terminalPairs, and `out`. Returns false, with nothing
// of g changed, when two different membership lists share a hash: the
// caller then builds the records the long way.
bool planLinks(myGraph& g, plan& out);

// The mask search's tables from the paths, for records planned by
// planLinks.
void fillMasks(const myGraph& g, const plan& p, masks::problem& mp);

// Sets every group's doneBy, the paths whose last record stands at its
// position: its paths on the record that no group of a later position
// holds.
void markDone(masks::problem& mp);

}  // namespace pathTables
