#include "endpoint/worker_pool.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

using namespace std::chrono_literals;

// Jobs that hold their worker until released, as open connections do.
class HeldJobs {
 public:
  std::function<void()> job() {
    return [this] {
      std::unique_lock<std::mutex> lock(mutex_);
      ++running_;
      ++started_;
      changed_.notify_all();
      changed_.wait(lock, [this] { return released_; });
      --running_;
    };
  }
  // Waits until `count` jobs have started; false if they do not within 10 s.
  bool started(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 10s, [&] { return started_ >= count; });
  }
  int running() {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
  }
  void release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int running_ = 0;
  int started_ = 0;
  bool released_ = false;
};

bool workersFallTo(endpoint::WorkerPool& pool, std::size_t count) {
  for (int i = 0; i < 100 && pool.workerCount() > count; ++i) std::this_thread::sleep_for(50ms);
  return pool.workerCount() == count;
}

TEST(WorkerPool, BurstOfHeldJobsEachGetAWorkerAtOnce) {
  endpoint::WorkerPool pool(8, 512, {}, 200ms);
  HeldJobs held;
  // Queued in one go, before any worker has woken for the first of them.
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(pool.enqueue(held.job()));
  EXPECT_TRUE(held.started(100)) << held.running() << " of 100 running";

  std::atomic<bool> ran{false};
  pool.enqueue([&] { ran = true; });
  for (int i = 0; i < 200 && !ran; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(ran.load()) << "a job waited behind the held ones";
  held.release();
  // The extra workers end once idle; the base ones stay.
  EXPECT_TRUE(workersFallTo(pool, 8)) << pool.workerCount();
}

TEST(WorkerPool, NeverMoreThanTheMaximumAndTheRestWaitTheirTurn) {
  endpoint::WorkerPool pool(2, 4, {}, 200ms);
  HeldJobs held;
  for (int i = 0; i < 6; ++i) pool.enqueue(held.job());
  ASSERT_TRUE(held.started(4));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(held.running(), 4);
  EXPECT_EQ(pool.workerCount(), 4u);
  held.release();
  EXPECT_TRUE(held.started(6));
}

TEST(WorkerPool, ShutdownRunsWhatIsQueuedThenRefusesMore) {
  std::atomic<int> done{0};
  {
    endpoint::WorkerPool pool(1, 1);
    for (int i = 0; i < 20; ++i) pool.enqueue([&] { ++done; });
    pool.shutdown();
    EXPECT_EQ(done.load(), 20);
    EXPECT_FALSE(pool.enqueue([&] { ++done; }));
  }
  EXPECT_EQ(done.load(), 20);
}

}  // namespace
