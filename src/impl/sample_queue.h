// A bounded first-in first-out queue between Zenoh's threads and one reader
// that waits with a time-out. When full, the oldest entry goes (and is counted).
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace norvik::tarn_impl {

template <typename T>
class SampleQueue {
 public:
  explicit SampleQueue(size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {}

  void Push(T value) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (items_.size() == capacity_) {
        items_.pop_front();
        ++dropped_;
      }
      items_.push_back(std::move(value));
    }
    ready_.notify_one();
  }

  // The oldest entry, waiting up to `timeout` for one; empty on time-out.
  std::optional<T> Pop(std::chrono::nanoseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!ready_.wait_for(lock, timeout, [this] { return !items_.empty(); })) return std::nullopt;
    T value = std::move(items_.front());
    items_.pop_front();
    return value;
  }

  // The oldest entry, waiting up to `timeout` for it, then without waiting
  // the entries behind it while `same_run(first, next)` holds, up to
  // `max_count` in all; empty on time-out. One lock for the whole run.
  template <typename SameRun>
  std::vector<T> PopRun(size_t max_count, std::chrono::nanoseconds timeout, SameRun same_run) {
    std::vector<T> run;
    std::unique_lock<std::mutex> lock(mutex_);
    if (!ready_.wait_for(lock, timeout, [this] { return !items_.empty(); })) return run;
    run.reserve(std::min(max_count, items_.size()));
    run.push_back(std::move(items_.front()));
    items_.pop_front();
    while (run.size() < max_count && !items_.empty() && same_run(run.front(), items_.front())) {
      run.push_back(std::move(items_.front()));
      items_.pop_front();
    }
    return run;
  }

  uint64_t dropped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
  }

 private:
  const size_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<T> items_;
  uint64_t dropped_ = 0;
};

}  // namespace norvik::tarn_impl
