// The HTTP plumbing's workers.
#include <gtest/gtest.h>

#include "endpoint/worker_pool.hpp"
#include "support.hpp"

namespace {

using namespace std::chrono_literals;

TEST(WorkerPool, AConnectionForWhichNoThreadStartsIsClosedWithALine) {
  testing_support::ConsoleCapture console;
  endpoint::WorkerPool pool(0, 4, {}, 1s, [](std::function<void()>) -> std::thread {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  });
  EXPECT_FALSE(pool.enqueue([] {}));
  EXPECT_EQ(console.count("Connexion fermee : le systeme ne peut pas demarrer de tache de plus ("), 1u);
}

}  // namespace
