#include "support/sim_robot.h"

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "middleware/shared_session.h"
#include "zenoh/blocking_get.hxx"

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
  // The first reply, good or not: an error reply is the simulator refusing.
  auto decode = [](bool ok, zenoh::BytesView payload, std::string_view) -> std::optional<std::pair<bool, std::string>> {
    const auto bytes = payload.as_vector();
    return std::make_pair(ok, std::string(bytes.begin(), bytes.end()));
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    zenoh::GetOptions options;
    options.payload = zenoh::Bytes(reinterpret_cast<const uint8_t*>(json.data()), json.size());
    options.timeout_ms = 2000;
    const auto replies = zenoh::get_blocking<std::pair<bool, std::string>>(
        *session_, zenoh::KeyExpr("norvik/robot/" + serial_ + "/sim/control"), "", std::move(options),
        std::chrono::steady_clock::now() + std::chrono::seconds(3), decode, 1);
    if (!replies.empty() && !replies.front().second.empty()) {
      if (!replies.front().first) throw std::runtime_error("tarn-sim refused " + json + ": " + replies.front().second);
      return replies.front().second;
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
