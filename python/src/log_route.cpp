#include "log_route.h"

#include <spdlog/sinks/sink.h>
#include <spdlog/spdlog.h>

#include <memory>
#include <optional>

namespace norvik::tarn::python {

void LineQueue::Push(spdlog::level::level_enum level, std::string text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (lines_.size() >= kCapacity) {
      ++dropped_;
      return;
    }
    lines_.emplace_back(level, std::move(text));
  }
  ready_.notify_one();
}

void LineQueue::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  ready_.wait_for(lock, timeout, [&] { return !lines_.empty() || woken_; });
}

std::vector<LineQueue::Line> LineQueue::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  woken_ = false;
  std::vector<Line> out(std::make_move_iterator(lines_.begin()), std::make_move_iterator(lines_.end()));
  lines_.clear();
  return out;
}

void LineQueue::Wake() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    woken_ = true;
  }
  ready_.notify_all();
}

size_t LineQueue::backlog() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_.size();
}

uint64_t LineQueue::dropped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}

LineQueue& PythonLines() {
  static LineQueue queue;
  return queue;
}

namespace {

// Sits in front of the default logger's own sinks and sends each line where
// the route says. The original sinks format the line as before.
class SwitchSink final : public spdlog::sinks::sink {
 public:
  explicit SwitchSink(std::vector<spdlog::sink_ptr> original)
      : original_(std::move(original)), queue_(PythonLines()) {}

  void Set(LogRoute route) {
    std::lock_guard<std::mutex> lock(mutex_);
    route_ = route;
  }
  LogRoute route() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return route_;
  }

  void log(const spdlog::details::log_msg& msg) override {
    std::lock_guard<std::mutex> lock(mutex_);
    switch (route_) {
      case LogRoute::Default:
        for (const auto& sink : original_) {
          if (sink->should_log(msg.level)) sink->log(msg);
        }
        break;
      case LogRoute::Python:
        queue_.Push(msg.level, std::string(msg.payload.data(), msg.payload.size()));
        break;
      case LogRoute::Silent:
        break;
    }
  }
  void flush() override {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& sink : original_) sink->flush();
  }
  void set_pattern(const std::string& pattern) override {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& sink : original_) sink->set_pattern(pattern);
  }
  void set_formatter(std::unique_ptr<spdlog::formatter> formatter) override {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& sink : original_) sink->set_formatter(formatter->clone());
  }

 private:
  mutable std::mutex mutex_;
  const std::vector<spdlog::sink_ptr> original_;
  LogRoute route_ = LogRoute::Default;
  LineQueue& queue_;
};

struct Installed {
  std::shared_ptr<spdlog::logger> previous;  // kept: another thread may still hold its raw pointer
  std::shared_ptr<spdlog::logger> logger;
  std::shared_ptr<SwitchSink> sink;
  spdlog::level::level_enum level;  // the default logger's level before Python took the lines
};

std::mutex& InstallMutex() {
  static std::mutex m;
  return m;
}

// Empty until a route is first chosen. Built after PythonLines(), so it goes
// first at exit; the logger itself stays in spdlog's registry.
std::optional<Installed>& Switch() {
  PythonLines();
  static std::optional<Installed> installed;
  return installed;
}

Installed& Install() {
  auto& installed = Switch();
  if (!installed) {
    auto previous = spdlog::default_logger();
    auto sink = std::make_shared<SwitchSink>(previous->sinks());
    auto logger = std::make_shared<spdlog::logger>(previous->name(), sink);
    logger->set_level(previous->level());
    logger->flush_on(previous->flush_level());
    installed = Installed{previous, logger, sink, previous->level()};
    spdlog::set_default_logger(logger);
  }
  return *installed;
}

}  // namespace

void SetLogRoute(LogRoute route) {
  std::lock_guard<std::mutex> lock(InstallMutex());
  if (!Switch() && route == LogRoute::Default) return;  // already the default
  Installed& installed = Install();
  const LogRoute before = installed.sink->route();
  if (before == route) return;
  // Python's logging filters by its own levels, so it is given every line
  // from debug up; the other routes keep the level the logger had.
  if (before != LogRoute::Python) installed.level = installed.logger->level();
  installed.logger->set_level(route == LogRoute::Python ? spdlog::level::debug : installed.level);
  installed.sink->Set(route);
}

LogRoute CurrentLogRoute() {
  std::lock_guard<std::mutex> lock(InstallMutex());
  return Switch() ? Switch()->sink->route() : LogRoute::Default;
}

}  // namespace norvik::tarn::python
