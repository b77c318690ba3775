// Records what goes to spdlog's default logger while it lives.
#pragma once

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace norvik::test {

class LogCapture {
 public:
  LogCapture();
  ~LogCapture();

  struct Line {
    spdlog::level::level_enum level;
    std::string text;
  };
  std::vector<Line> Lines() const;
  // Texts logged at `level`, in order.
  std::vector<std::string> At(spdlog::level::level_enum level) const;
  bool Contains(const std::string& text) const;

 private:
  class Sink;
  std::shared_ptr<Sink> sink_;
  std::shared_ptr<spdlog::logger> previous_;
};

}  // namespace norvik::test
