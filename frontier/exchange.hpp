// Ranks: several processes (an MPI job, or threads standing in for one in
// the tests) that share one sweep, each holding a part of every level.
//
// An Exchange is one rank's end of the collective operations the
// distributed sweep needs. Every rank calls the same operations in the same
// order (they are collective: a rank that skipped one would leave the
// others waiting); they block until every rank has taken part. The bytes
// carry plain records, the same layout on every rank (one binary per job).
#pragma once

#include <cstdint>
#include <vector>

namespace frontier {

class Exchange {
 public:
  virtual ~Exchange() = default;
  virtual int rank() const = 0;  // 0 .. size() - 1; rank 0 answers
  virtual int size() const = 0;
  // send[r] goes to rank r. `recv` gets what the ranks sent here, rank by
  // rank: rank r's bytes from recvAt[r] to recvAt[r + 1].
  virtual void allToAll(const std::vector<std::vector<std::uint8_t>>& send,
                        std::vector<std::uint8_t>& recv, std::vector<std::size_t>& recvAt) = 0;
  // Element by element over the ranks; every rank gets the result.
  virtual void sum(std::vector<std::uint64_t>& values) = 0;
  virtual void max(std::vector<std::uint64_t>& values) = 0;
  // Rank 0 gets every rank's bytes (all[r]); the others get nothing.
  virtual void gather(const std::vector<std::uint8_t>& mine,
                      std::vector<std::vector<std::uint8_t>>& all) = 0;
  // Rank 0's bytes to every rank.
  virtual void broadcast(std::vector<std::uint8_t>& bytes) = 0;
};

}  // namespace frontier
