// The HTTP plumbing's workers.
#include <gtest/gtest.h>

#include <future>

#include "endpoint/worker_pool.hpp"
#include "support.hpp"

namespace {

using namespace std::chrono_literals;

TEST(WorkerPool, AConnectionForWhichNoThreadStartsIsClosedWithALineAndAShutdownWakesTheRest) {
  testing_support::ConsoleCapture console;
  endpoint::WorkerPool pool(0, 4, {}, 1s, [](std::function<void()>) -> std::thread {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  });
  EXPECT_FALSE(pool.enqueue([] {}));
  EXPECT_EQ(console.count("Connexion fermee : le systeme ne peut pas demarrer de tache de plus ("), 1u);
  std::promise<void> woken;
  std::atomic<bool> served{false};
  {
    endpoint::WorkerPool serving(1, 1, [&woken] { woken.set_value(); });
    serving.enqueue([&, w = woken.get_future().share()] { served = w.wait_for(9s) == std::future_status::ready; });
  }
  EXPECT_TRUE(served);
}

}  // namespace
