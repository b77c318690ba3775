#include "support/log_capture.h"

namespace norvik::test {

class LogCapture::Sink : public spdlog::sinks::base_sink<std::mutex> {
 public:
  std::vector<Line> Lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    lines_.push_back({msg.level, std::string(msg.payload.data(), msg.payload.size())});
  }
  void flush_() override {}

 private:
  std::vector<Line> lines_;
};

LogCapture::LogCapture() : sink_(std::make_shared<Sink>()), previous_(spdlog::default_logger()) {
  auto logger = std::make_shared<spdlog::logger>("capture", sink_);
  logger->set_level(spdlog::level::trace);
  spdlog::set_default_logger(logger);
}

LogCapture::~LogCapture() { spdlog::set_default_logger(previous_); }

std::vector<LogCapture::Line> LogCapture::Lines() const { return sink_->Lines(); }

std::vector<std::string> LogCapture::At(spdlog::level::level_enum level) const {
  std::vector<std::string> out;
  for (const auto& l : Lines()) {
    if (l.level == level) out.push_back(l.text);
  }
  return out;
}

bool LogCapture::Contains(const std::string& text) const {
  for (const auto& l : Lines()) {
    if (l.text == text) return true;
  }
  return false;
}

}  // namespace norvik::test
