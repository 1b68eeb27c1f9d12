// Ranks as threads of one process: an Exchange whose collectives meet at a
// shared hub, so that the distributed sweep runs in the tests without MPI.
#pragma once

#include <algorithm>
#include <barrier>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "frontier/exchange.hpp"

namespace frontier_test {

class Loopback : public frontier::Exchange {
 public:
  struct Hub {
    explicit Hub(int ranks)
        : ranks(ranks),
          meet(ranks),
          boxes(ranks, std::vector<std::vector<std::uint8_t>>(ranks)),
          values(ranks) {}
    int ranks;
    std::barrier<> meet;
    std::vector<std::vector<std::vector<std::uint8_t>>> boxes;  // boxes[from][to]
    std::vector<std::vector<std::uint64_t>> values;
  };
  Loopback(Hub& hub, int rank) : hub_(hub), rank_(rank) {}
  int rank() const override { return rank_; }
  int size() const override { return hub_.ranks; }
  void allToAll(const std::vector<std::vector<std::uint8_t>>& send, std::vector<std::uint8_t>& recv,
                std::vector<std::size_t>& recvAt) override {
    hub_.boxes[rank_] = send;
    hub_.meet.arrive_and_wait();
    recv.clear();
    recvAt.clear();
    for (int r = 0; r < hub_.ranks; ++r) {
      recvAt.push_back(recv.size());
      recv.insert(recv.end(), hub_.boxes[r][rank_].begin(), hub_.boxes[r][rank_].end());
    }
    recvAt.push_back(recv.size());
    hub_.meet.arrive_and_wait();
  }
  void sum(std::vector<std::uint64_t>& v) override {
    reduce(v, [](std::uint64_t a, std::uint64_t b) { return a + b; });
  }
  void max(std::vector<std::uint64_t>& v) override {
    reduce(v, [](std::uint64_t a, std::uint64_t b) { return std::max(a, b); });
  }
  void gather(const std::vector<std::uint8_t>& mine,
              std::vector<std::vector<std::uint8_t>>& all) override {
    hub_.boxes[rank_][0] = mine;
    hub_.meet.arrive_and_wait();
    all.clear();
    if (rank_ == 0)
      for (int r = 0; r < hub_.ranks; ++r)
        all.push_back(hub_.boxes[r][0]);
    hub_.meet.arrive_and_wait();
  }
  void broadcast(std::vector<std::uint8_t>& bytes) override {
    if (rank_ == 0) hub_.boxes[0][0] = bytes;
    hub_.meet.arrive_and_wait();
    if (rank_ != 0) bytes = hub_.boxes[0][0];
    hub_.meet.arrive_and_wait();
  }

  // Runs body(exchange) on `ranks` threads, one rank each.
  static void run(int ranks, const std::function<void(frontier::Exchange&)>& body) {
    Hub hub(ranks);
    std::vector<std::thread> threads;
    for (int r = 0; r < ranks; ++r)
      threads.emplace_back([&hub, &body, r] {
        Loopback ex(hub, r);
        body(ex);
      });
    for (auto& t : threads)
      t.join();
  }

 private:
  template <class Op>
  void reduce(std::vector<std::uint64_t>& v, Op op) {
    hub_.values[rank_] = v;
    hub_.meet.arrive_and_wait();
    for (int r = 0; r < hub_.ranks; ++r)
      if (r != rank_)
        for (std::size_t i = 0; i < v.size(); ++i)
          v[i] = op(v[i], hub_.values[r][i]);
    hub_.meet.arrive_and_wait();
  }
  Hub& hub_;
  int rank_;
};

}  // namespace frontier_test
