// Deterministic waiting in tests: poll a condition until a deadline.
#pragma once

#include <chrono>
#include <cstdint>
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

// Publishes until `count()` grows past its value on entry. A put made before
// the subscriber matched is lost, hence the repeats; copies still in flight
// when the first lands are waited for, so none of them overtakes the next
// sample a test sends.
template <typename Publish, typename Count>
bool PublishUntilSeen(Publish publish, Count count, std::chrono::milliseconds within = std::chrono::seconds(10)) {
  using namespace std::chrono_literals;
  const uint64_t before = count();
  const auto deadline = std::chrono::steady_clock::now() + within;
  uint64_t sent = 0;
  while (count() == before) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    publish();
    ++sent;
    WaitFor([&] { return count() != before; }, 100ms);
  }
  if (sent > 1) {
    // quiet for 200 ms means the rest were lost before the match
    uint64_t last = count();
    auto quiet_since = std::chrono::steady_clock::now();
    while (count() < before + sent && std::chrono::steady_clock::now() - quiet_since < 200ms) {
      std::this_thread::sleep_for(1ms);
      if (const uint64_t now = count(); now != last) {
        last = now;
        quiet_since = std::chrono::steady_clock::now();
      }
    }
  }
  return true;
}

}  // namespace norvik::test
