#include "support/sim_robot.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "middleware/shared_session.h"

namespace norvik::test {

SimRobot::SimRobot(std::string serial, std::vector<std::string> options)
    : serial_(std::move(serial)), session_(zenoh_mdw::GetSharedZenohSession()) {
  std::vector<std::string> argv{PythonExecutable(), SourcePath("sim/tarn-sim"), "--serial", serial_,
                                "--exit-with-parent"};
  argv.insert(argv.end(), options.begin(), options.end());
  process_ = std::make_unique<ChildProcess>(argv);
  // "ready" means declared, not yet known to this process's session: wait
  // until the robot answers here, so a client's first probe reaches it.
  Control("{}");
}

std::string SimRobot::Control(const std::string& json) {
  struct Outcome {
    std::mutex m;
    std::condition_variable cv;
    bool done = false, ok = false;
    std::string text;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    auto outcome = std::make_shared<Outcome>();
    zenoh::GetOptions options;
    options.payload = zenoh::Bytes(reinterpret_cast<const uint8_t*>(json.data()), json.size());
    options.timeout_ms = 2000;
    session_->get(
        zenoh::KeyExpr("norvik/robot/" + serial_ + "/sim/control"), "",
        [outcome](bool ok, zenoh::BytesView payload) {
          const auto bytes = payload.as_vector();
          std::lock_guard<std::mutex> lock(outcome->m);
          outcome->ok = ok;
          outcome->text.assign(bytes.begin(), bytes.end());
        },
        [outcome] {
          std::lock_guard<std::mutex> lock(outcome->m);
          outcome->done = true;
          outcome->cv.notify_all();
        },
        std::move(options));
    std::unique_lock<std::mutex> lock(outcome->m);
    outcome->cv.wait_for(lock, std::chrono::seconds(3), [&] { return outcome->done; });
    if (!outcome->text.empty()) {
      if (!outcome->ok) throw std::runtime_error("tarn-sim refused " + json + ": " + outcome->text);
      return outcome->text;
    }
  }
  throw std::runtime_error("tarn-sim control channel did not answer");
}

int SimRobot::Requests() {
  const std::string status = Control("{}");
  const size_t at = status.find("\"requests\":");
  if (at == std::string::npos) throw std::runtime_error("no request count in " + status);
  return std::stoi(status.substr(at + 11));
}

}  // namespace norvik::test
