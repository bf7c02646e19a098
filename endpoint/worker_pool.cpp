#include "endpoint/worker_pool.hpp"

#include <algorithm>
#include <system_error>

#include "common/console.hpp"
#include "common/thread_safety.hpp"

namespace endpoint {

WorkerPool::WorkerPool(std::size_t base, std::size_t max, std::function<void()> onShutdown,
                       std::chrono::milliseconds idleTimeout, ThreadStarter startThread)
    : base_(base),
      max_(std::max(base, max)),
      onShutdown_(std::move(onShutdown)),
      idleTimeout_(idleTimeout),
      startThread_(std::move(startThread)) {
  MutexLock lock(mutex_);
  try {
    for (std::size_t i = 0; i < base_; ++i) startWorker(true);
  } catch (const std::system_error&) {
    // Fewer workers to start with; the next connections start more.
  }
}

WorkerPool::~WorkerPool() { shutdown(); }

bool WorkerPool::enqueue(std::function<void()> job) {
  {
    MutexLock lock(mutex_);
    if (shuttingDown_) return false;
    joinEnded();
    jobs_.push_back(std::move(job));
    // Every waiting job needs an idle worker of its own.
    if (jobs_.size() > idle_ && workers_.size() < max_) {
      try {
        startWorker(false);
      } catch (const std::system_error& e) {
        jobs_.pop_back();
        console::printLine("Connexion fermee : le systeme ne peut pas demarrer de tache de plus (" +
                           console::shown(e.what()) + ")");
        return false;
      }
    }
  }
  wake_.notify_one();
  return true;
}

void WorkerPool::shutdown() {
  std::vector<std::thread> workers;
  {
    MutexLock lock(mutex_);
    shuttingDown_ = true;
    workers.swap(workers_);
  }
  if (onShutdown_) onShutdown_();
  wake_.notify_all();
  for (auto& worker : workers) {
    if (worker.joinable()) worker.join();
  }
  MutexLock lock(mutex_);
  ended_.clear();
}

std::size_t WorkerPool::workerCount() {
  MutexLock lock(mutex_);
  return workers_.size() - ended_.size();
}

void WorkerPool::startWorker(bool stays) {
  workers_.push_back(startThread_([this, stays] { work(stays); }));
}

// Joins the workers that ended for want of work (their threads are gone; the
// join only frees what is left of them).
void WorkerPool::joinEnded() {
  for (const auto id : ended_) {
    const auto it =
        std::find_if(workers_.begin(), workers_.end(), [id](const std::thread& t) { return t.get_id() == id; });
    if (it == workers_.end()) continue;
    it->join();
    workers_.erase(it);
  }
  ended_.clear();
}

void WorkerPool::work(bool stays) {
  MutexLock lock(mutex_);
  for (;;) {
    ++idle_;
    const auto ready = [this]() REQUIRES(mutex_) { return !jobs_.empty() || shuttingDown_; };
    if (stays) {
      wake_.wait(lock, ready);
    } else {
      wake_.wait_for(lock, idleTimeout_, ready);
    }
    --idle_;
    if (jobs_.empty()) {
      // Shutting down, or a worker beyond the base one that found no work in time.
      if (!shuttingDown_) ended_.push_back(std::this_thread::get_id());
      return;
    }
    auto job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    job();
    lock.lock();
  }
}

}  // namespace endpoint
