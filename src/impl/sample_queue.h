// A bounded first-in first-out queue between Zenoh's threads and one reader
// that waits with a time-out. When full, the oldest entry goes (and is counted).
#pragma once

#include <cstddef>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <iterator>
#include <utility>

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
  // `max_count` in all; empty on time-out. One lock for the whole run; a run
  // of every queued entry is handed over whole, without a move per entry.
  template <typename SameRun>
  std::deque<T> PopRun(size_t max_count, std::chrono::nanoseconds timeout, SameRun same_run) {
    std::deque<T> run;
    std::unique_lock<std::mutex> lock(mutex_);
    if (!ready_.wait_for(lock, timeout, [this] { return !items_.empty(); })) return run;
    size_t n = 1;
    while (n < max_count && n < items_.size() && same_run(items_.front(), items_[n])) ++n;
    if (n == items_.size()) {
      run.swap(items_);
    } else {
      const auto end = items_.begin() + static_cast<std::ptrdiff_t>(n);
      run.insert(run.end(), std::make_move_iterator(items_.begin()), std::make_move_iterator(end));
      items_.erase(items_.begin(), end);
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
