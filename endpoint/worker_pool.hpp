#pragma once

#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <thread>
#include <vector>

#include "common/thread_safety.hpp"

namespace endpoint {

// The server's workers: one job per connection, which holds its worker for
// as long as the connection stays open. A new worker starts whenever more
// connections wait than there are idle workers, up to `max`; workers beyond
// `base` end after `idleTimeout` without work.
//
// (The library's own pool decides from a count of idle workers that jobs
// queued a moment earlier have not yet claimed: a burst of connections, say
// a hundred idle ones, then starts no new worker at all, and a gift queues
// behind them until each times out.)
class WorkerPool final : public httplib::TaskQueue {
 public:
  using ThreadStarter = std::function<std::thread(std::function<void()>)>;
  // `onShutdown` runs when the shutdown begins, before the workers are joined.
  // `startThread` starts each worker (the tests make it fail).
  WorkerPool(
      std::size_t base, std::size_t max, std::function<void()> onShutdown = {},
      std::chrono::milliseconds idleTimeout = std::chrono::seconds(3),
      ThreadStarter startThread = [](std::function<void()> run) { return std::thread(std::move(run)); });
  ~WorkerPool() override;
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // False when the pool is shutting down, or when the job needs a worker of
  // its own and the system cannot start one: a line says so, and the caller
  // closes what the job would have served.
  bool enqueue(std::function<void()> job) override;
  // Runs the jobs still queued, then ends every worker.
  void shutdown() override;

  std::size_t workerCount();

 private:
  void work(bool stays);
  void startWorker(bool stays) REQUIRES(mutex_);
  void joinEnded() REQUIRES(mutex_);

  const std::size_t base_;
  const std::size_t max_;
  const std::function<void()> onShutdown_;
  const std::chrono::milliseconds idleTimeout_;
  const ThreadStarter startThread_;

  Mutex mutex_;
  CondVar wake_;
  std::deque<std::function<void()>> jobs_ GUARDED_BY(mutex_);
  std::vector<std::thread> workers_ GUARDED_BY(mutex_);
  std::vector<std::thread::id> ended_ GUARDED_BY(mutex_);
  std::size_t idle_ GUARDED_BY(mutex_) = 0;
  bool shuttingDown_ GUARDED_BY(mutex_) = false;
};

}  // namespace endpoint
