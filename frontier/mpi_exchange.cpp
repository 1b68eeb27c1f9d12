#include "frontier/mpi_exchange.hpp"

#include <mpi.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <new>
#include <vector>

namespace frontier {

namespace {

// MPI counts are ints: a slice's bytes stay far below 2 GiB, and a count
// that would not fit is a failure, not a wrap.
int countOf(std::size_t bytes) {
  if (bytes > static_cast<std::size_t>(std::numeric_limits<int>::max())) throw std::bad_alloc();
  return static_cast<int>(bytes);
}

// Out of memory inside a collective, a rank cannot leave it halfway
// without leaving the others waiting: it stops the whole job instead.
template <class Body>
void guarded(int rank, const Body& body) {
  try {
    body();
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "dcr-tool: rank %d ran out of memory in an exchange; stopping the job\n",
                 rank);
    MPI_Abort(MPI_COMM_WORLD, 4);
  }
}

class MpiExchange : public Exchange {
 public:
  MpiExchange() {
    int started = 0;
    MPI_Initialized(&started);
    if (!started) {
      MPI_Init(nullptr, nullptr);
      owner_ = true;
    }
    MPI_Comm_rank(MPI_COMM_WORLD, &rank_);
    MPI_Comm_size(MPI_COMM_WORLD, &size_);
  }
  ~MpiExchange() override {
    if (owner_) MPI_Finalize();
  }
  int rank() const override { return rank_; }
  int size() const override { return size_; }

  void allToAll(const std::vector<std::vector<std::uint8_t>>& send, std::vector<std::uint8_t>& recv,
                std::vector<std::size_t>& recvBegin) override {
    guarded(rank_, [&] {
      std::vector<int> sendCounts(size_), recvCounts(size_), sendAt(size_), recvAt(size_);
      std::vector<std::uint8_t>& out = out_;  // kept: a level's slices reuse its pages
      out.clear();
      for (int r = 0; r < size_; ++r) {
        sendAt[r] = countOf(out.size());
        sendCounts[r] = countOf(send[r].size());
        out.insert(out.end(), send[r].begin(), send[r].end());
      }
      MPI_Alltoall(sendCounts.data(), 1, MPI_INT, recvCounts.data(), 1, MPI_INT, MPI_COMM_WORLD);
      std::size_t total = 0;
      for (int r = 0; r < size_; ++r) {
        recvAt[r] = countOf(total);
        total += static_cast<std::size_t>(recvCounts[r]);
      }
      recv.resize(total);
      MPI_Alltoallv(out.data(), sendCounts.data(), sendAt.data(), MPI_BYTE, recv.data(),
                    recvCounts.data(), recvAt.data(), MPI_BYTE, MPI_COMM_WORLD);
      recvBegin.assign(recvAt.begin(), recvAt.end());
      recvBegin.push_back(total);
    });
  }
  void sum(std::vector<std::uint64_t>& v) override { reduce(v, MPI_SUM); }
  void max(std::vector<std::uint64_t>& v) override { reduce(v, MPI_MAX); }
  void gather(const std::vector<std::uint8_t>& mine,
              std::vector<std::vector<std::uint8_t>>& all) override {
    guarded(rank_, [&] {
      const int count = countOf(mine.size());
      std::vector<int> counts(size_), at(size_);
      MPI_Gather(&count, 1, MPI_INT, counts.data(), 1, MPI_INT, 0, MPI_COMM_WORLD);
      std::size_t total = 0;
      for (int r = 0; r < size_; ++r) {
        at[r] = countOf(total);
        total += static_cast<std::size_t>(counts[r]);
      }
      std::vector<std::uint8_t> in(rank_ == 0 ? total : 0);
      MPI_Gatherv(mine.data(), count, MPI_BYTE, in.data(), counts.data(), at.data(), MPI_BYTE, 0,
                  MPI_COMM_WORLD);
      all.clear();
      if (rank_ == 0)
        for (int r = 0; r < size_; ++r)
          all.emplace_back(in.begin() + at[r], in.begin() + at[r] + counts[r]);
    });
  }
  void broadcast(std::vector<std::uint8_t>& bytes) override {
    guarded(rank_, [&] {
      std::uint64_t n = bytes.size();
      MPI_Bcast(&n, 1, MPI_UINT64_T, 0, MPI_COMM_WORLD);
      bytes.resize(n);
      MPI_Bcast(bytes.data(), countOf(n), MPI_BYTE, 0, MPI_COMM_WORLD);
    });
  }

 private:
  void reduce(std::vector<std::uint64_t>& v, MPI_Op op) {
    guarded(rank_, [&] {
      MPI_Allreduce(MPI_IN_PLACE, v.data(), countOf(v.size()), MPI_UINT64_T, op, MPI_COMM_WORLD);
    });
  }
  int rank_ = 0, size_ = 1;
  bool owner_ = false;
  std::vector<std::uint8_t> out_;
};

}  // namespace

std::unique_ptr<Exchange> startMpi() {
  return std::make_unique<MpiExchange>();
}

}  // namespace frontier
