// A fixed set of worker threads for the sweep's parallel phases. run()
// hands out tasks 0 .. n-1 to the caller and the workers through one
// counter; each() has every worker run the function once, with its own
// number, so that what a worker made in one phase it finds again, in its
// own cache, in the next. Both return once all is done, so a phase is a
// plain loop with a barrier at its end. A task that throws stops the
// handing out; the first exception is thrown again by the call.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace frontier {

class Pool {
 public:
  // `threads` in all, the caller included; fewer if the system refuses more.
  explicit Pool(int threads);
  ~Pool();
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  int size() const { return static_cast<int>(workers_.size()) + 1; }
  // fn(task, worker): worker 0 is the caller, 1 .. size()-1 the pool's.
  void run(std::size_t tasks, const std::function<void(std::size_t, int)>& fn);
  // fn(worker) once on each worker, the caller being worker 0.
  void each(const std::function<void(int)>& fn);

 private:
  void work(int worker);
  void drain(int worker);

  std::vector<std::thread> workers_;
  std::mutex lock_;
  std::condition_variable wake_, done_;
  const std::function<void(std::size_t, int)>* fn_ = nullptr;
  const std::function<void(int)>* eachFn_ = nullptr;  // set: each() mode
  std::size_t tasks_ = 0, next_ = 0;
  // Changed under lock_ (the waits' predicates read them there), and read
  // without it by the short spins that come before a wait.
  std::atomic<std::size_t> generation_{0};
  std::atomic<int> busy_{0};     // workers inside the current job
  std::atomic<int> pending_{0};  // each(): workers yet to run theirs
  bool quit_ = false;
  std::exception_ptr error_;
};

// A pool on loan: an idle pool of that size kept from an earlier sweep, or
// a new one; it goes back to the idle ones when the lease ends, so that a
// program that sweeps many times starts its threads once. Sweeps running at
// the same time (raced orders) each get their own.
class PoolLease {
 public:
  explicit PoolLease(int threads);
  ~PoolLease();
  PoolLease(const PoolLease&) = delete;
  PoolLease& operator=(const PoolLease&) = delete;
  Pool* operator->() const { return pool_.get(); }

 private:
  std::unique_ptr<Pool> pool_;
};

}  // namespace frontier
