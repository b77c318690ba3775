// Where the library's log lines go: spdlog's default logger as it was
// (standard output), a queue that a Python thread hands to `logging`, or
// nowhere. The lines come from any thread, Zenoh's included, so nothing here
// touches the interpreter: a line is queued or dropped, never waited on.
#pragma once

#include <spdlog/common.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace norvik::tarn::python {

enum class LogRoute { Default, Python, Silent };

// Lines waiting for the Python thread; bounded, so a stalled interpreter
// costs lines (counted) rather than memory or a blocked logger.
class LineQueue {
 public:
  using Line = std::pair<spdlog::level::level_enum, std::string>;
  static constexpr size_t kCapacity = 10000;

  // Queues the line, or counts it dropped when the queue is full.
  void Push(spdlog::level::level_enum level, std::string text);
  // Waits up to `timeout` for a line, or until Wake() (called since the last
  // Take); takes none, so lines wait here, counted, until Python takes them.
  void Wait(std::chrono::milliseconds timeout);
  // Every queued line, at once.
  std::vector<Line> Take();
  void Wake();
  size_t backlog() const;
  uint64_t dropped() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Line> lines_;
  uint64_t dropped_ = 0;
  bool woken_ = false;
};

// The one queue of lines bound for Python.
LineQueue& PythonLines();

// Points spdlog's default logger at `route`. The first call puts a switch in
// front of the default logger's sinks; the earlier logger is kept alive, since
// spdlog's free functions may still be using it on another thread.
void SetLogRoute(LogRoute route);
LogRoute CurrentLogRoute();

}  // namespace norvik::tarn::python
