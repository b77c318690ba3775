// Helpers of the fault tests: a simulated robot that can be killed, frozen
// and brought back; timed calls; a quiet logger that only counts; figures
// printed so a run leaves its numbers in the log.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "middleware/shared_session.h"
#include "stress/sim_control.h"
#include "support/child_process.h"
#include "support/wait.h"

namespace norvik::test::faults {

// tarn-sim in its own process, which a test can kill (a crash: the kernel
// closes its sockets), freeze (a hung controller or a pulled cable: nothing
// closes) and thaw.
class Sim {
 public:
  explicit Sim(std::string serial, std::vector<std::string> options = {}) : serial_(std::move(serial)) {
    std::vector<std::string> argv{PythonExecutable(), SourcePath("sim/tarn-sim"), "--serial", serial_,
                                  "--exit-with-parent"};
    argv.insert(argv.end(), options.begin(), options.end());
    process_ = std::make_unique<ChildProcess>(argv);
  }
  ~Sim() {
    if (frozen_) Thaw();
  }

  const std::string& serial() const { return serial_; }
  void Kill() { process_->Kill(); }
  // Returns once every thread of it has stopped: kill() only queues the
  // signal, and a robot still running for a moment answers calls the test
  // means to go unanswered.
  void Freeze() {
    ::kill(process_->pid(), SIGSTOP);
    frozen_ = true;
    int status = 0;
    const bool stopped = WaitFor(
        [&] { return ::waitpid(process_->pid(), &status, WUNTRACED | WNOHANG) == process_->pid() && WIFSTOPPED(status); },
        std::chrono::seconds(5));
    if (!stopped) throw std::runtime_error("tarn-sim did not stop");
  }
  void Thaw() {
    ::kill(process_->pid(), SIGCONT);
    frozen_ = false;
  }

  // A change of fault switches (see sim/README.md); retried until the robot
  // answers, as a fresh robot may not be discovered yet.
  std::string Control(const std::string& json) const {
    const auto session = zenoh_mdw::GetSharedZenohSession();
    std::optional<std::string> reply;
    if (!WaitFor([&] { return (reply = stress::SimControl(*session, serial_, json)).has_value(); },
                 std::chrono::seconds(10))) {
      throw std::runtime_error("tarn-sim did not take " + json);
    }
    return *reply;
  }

 private:
  std::string serial_;
  std::unique_ptr<ChildProcess> process_;
  bool frozen_ = false;
};

// What a call did: returned or threw (and what), and how long it took.
struct Outcome {
  bool threw = false;
  std::string what;
  double seconds = 0;
};

template <typename Call>
Outcome Timed(Call&& call) {
  const auto t0 = std::chrono::steady_clock::now();
  Outcome out;
  try {
    call();
  } catch (const std::exception& e) {
    out.threw = true;
    out.what = e.what();
  }
  out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  return out;
}

// The library logs to spdlog's default logger; while this lives, lines are
// counted by text instead of printed, so a flood of them stays cheap.
class QuietLog {
 public:
  QuietLog() : sink_(std::make_shared<Sink>()), previous_(spdlog::default_logger()) {
    auto logger = std::make_shared<spdlog::logger>("quiet", sink_);
    logger->set_level(spdlog::level::trace);
    spdlog::set_default_logger(logger);
  }
  ~QuietLog() { spdlog::set_default_logger(previous_); }
  QuietLog(const QuietLog&) = delete;
  QuietLog& operator=(const QuietLog&) = delete;

  // Lines whose text starts with `prefix`.
  long Count(const std::string& prefix) const {
    long n = 0;
    for (const auto& [text, count] : sink_->Counts()) {
      if (text.rfind(prefix, 0) == 0) n += count;
    }
    return n;
  }
  long Total() const { return Count(""); }
  // Forgets what was counted so far (the connection's own lines).
  void Reset() { sink_->Reset(); }
  // "count x text" for each kind of line, for failure messages.
  std::string Summary() const {
    std::string out;
    for (const auto& [text, count] : sink_->Counts()) out += "\n  " + std::to_string(count) + " x " + text;
    return out;
  }

 private:
  class Sink : public spdlog::sinks::base_sink<std::mutex> {
   public:
    std::map<std::string, long> Counts() {
      std::lock_guard<std::mutex> lock(mutex_);
      return counts_;
    }

    void Reset() {
      std::lock_guard<std::mutex> lock(mutex_);
      counts_.clear();
    }

   protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
      // Texts carry numbers; the first 60 characters keep the kinds apart.
      ++counts_[std::string(msg.payload.data(), std::min<size_t>(msg.payload.size(), 60))];
    }
    void flush_() override {}

   private:
    std::map<std::string, long> counts_;
  };

  std::shared_ptr<Sink> sink_;
  std::shared_ptr<spdlog::logger> previous_;
};

// A figure for the run's log: "[ figure ] name: text".
inline void Figure(const std::string& name, const std::string& text) {
  std::printf("[ figure   ] %s: %s\n", name.c_str(), text.c_str());
  std::fflush(stdout);
}

inline std::string Ms(double seconds) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f ms", seconds * 1000.0);
  return buf;
}

// Scales the fault tests' durations: TARN_FAULT_SECONDS (tools/run-faults.sh
// long) replaces the short default.
inline double FaultSeconds(double short_default) {
  const char* env = std::getenv("TARN_FAULT_SECONDS");
  if (env == nullptr || *env == '\0') return short_default;
  const double v = std::atof(env);
  return v > 0 ? v : short_default;
}

}  // namespace norvik::test::faults
