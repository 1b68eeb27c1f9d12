#include "frontier/pool.hpp"

#include <chrono>
#include <system_error>

namespace frontier {

namespace {

// A thread about to wait first spins this long: the sweep's phases end
// within microseconds of each other more often than not, and a sleeping
// thread takes tens of microseconds to wake, longer on a virtual machine
// whose idle processor the host has parked.
constexpr auto kSpin = std::chrono::microseconds(100);

template <class Done>
void spinUntil(const Done& done) {
  const auto until = std::chrono::steady_clock::now() + kSpin;
  for (int i = 1; !done(); ++i) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
    if (i % 64 == 0 && std::chrono::steady_clock::now() > until) return;
  }
}

// Pools no sweep is using. Leaked on purpose: their threads must not be
// joined by a static destructor while a sweep may still run elsewhere.
struct Idle {
  std::mutex lock;
  std::vector<std::unique_ptr<Pool>> pools;
};
Idle& idle() {
  static Idle* pools = new Idle;
  return *pools;
}

}  // namespace

PoolLease::PoolLease(int threads) {
  {
    Idle& i = idle();
    std::lock_guard<std::mutex> hold(i.lock);
    for (auto it = i.pools.begin(); it != i.pools.end(); ++it)
      if ((*it)->size() == threads) {
        pool_ = std::move(*it);
        i.pools.erase(it);
        break;
      }
  }
  if (!pool_) pool_ = std::make_unique<Pool>(threads);
}

PoolLease::~PoolLease() {
  Idle& i = idle();
  std::lock_guard<std::mutex> hold(i.lock);
  i.pools.push_back(std::move(pool_));
}

Pool::Pool(int threads) {
  for (int i = 1; i < threads; ++i) {
    try {
      workers_.emplace_back(&Pool::work, this, i);
    } catch (const std::system_error&) {
      break;  // fewer threads: the same work, just slower
    }
  }
}

Pool::~Pool() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    quit_ = true;
  }
  wake_.notify_all();
  for (auto& t : workers_)
    t.join();
}

// Takes tasks until none is left (or one failed); in each() mode, runs
// the worker's own call.
void Pool::drain(int worker) {
  if (eachFn_) {
    try {
      (*eachFn_)(worker);
    } catch (...) {
      std::lock_guard<std::mutex> hold(lock_);
      if (!error_) error_ = std::current_exception();
    }
    std::lock_guard<std::mutex> hold(lock_);
    --pending_;
    return;
  }
  for (;;) {
    std::size_t task;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (next_ >= tasks_ || error_) return;
      task = next_++;
    }
    try {
      (*fn_)(task, worker);
    } catch (...) {
      std::lock_guard<std::mutex> hold(lock_);
      if (!error_) error_ = std::current_exception();
    }
  }
}

void Pool::work(int worker) {
  std::size_t seen = 0;
  for (;;) {
    spinUntil([&] { return generation_.load(std::memory_order_acquire) != seen; });
    {
      std::unique_lock<std::mutex> hold(lock_);
      wake_.wait(hold, [&] { return quit_ || generation_ != seen; });
      if (quit_) return;
      seen = generation_;
      ++busy_;
    }
    drain(worker);
    {
      std::lock_guard<std::mutex> hold(lock_);
      --busy_;
    }
    done_.notify_all();
  }
}

void Pool::run(std::size_t tasks, const std::function<void(std::size_t, int)>& fn) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    fn_ = &fn;
    tasks_ = tasks;
    next_ = 0;
    error_ = nullptr;
    ++generation_;
  }
  if (!workers_.empty() && tasks > 1) wake_.notify_all();
  drain(0);
  std::exception_ptr error;
  {
    // Every task handed out has finished once no worker is inside the job;
    // a worker that wakes late finds no task left and leaves at once.
    spinUntil([&] { return busy_.load(std::memory_order_acquire) == 0; });
    std::unique_lock<std::mutex> hold(lock_);
    done_.wait(hold, [&] { return busy_ == 0; });
    tasks_ = 0;
    error = error_;
  }
  if (error) std::rethrow_exception(error);
}

void Pool::each(const std::function<void(int)>& fn) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    eachFn_ = &fn;
    pending_ = size();
    error_ = nullptr;
    ++generation_;
  }
  if (!workers_.empty()) wake_.notify_all();
  drain(0);
  std::exception_ptr error;
  {
    // Here every worker must have run its own call, however late it woke.
    spinUntil([&] { return pending_.load(std::memory_order_acquire) == 0 && busy_.load() == 0; });
    std::unique_lock<std::mutex> hold(lock_);
    done_.wait(hold, [&] { return pending_ == 0 && busy_ == 0; });
    eachFn_ = nullptr;
    error = error_;
  }
  if (error) std::rethrow_exception(error);
}

}  // namespace frontier
