// Deterministic waiting in tests: poll a condition until a deadline.
#pragma once

#include <chrono>
#include <thread>

namespace norvik::test {

template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds within = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + within;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace norvik::test
