// tarn-sim's run-time control channel from the stress programs: one JSON
// query on norvik/robot/SERIAL/sim/control, and reading numbers out of the
// status it answers with.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "zenoh/session.hxx"

namespace norvik::stress {

// The reply text, or nothing when the simulator did not answer within `timeout`.
inline std::optional<std::string> SimControl(const zenoh::Session& session, const std::string& serial,
                                             const std::string& json,
                                             std::chrono::milliseconds timeout = std::chrono::seconds(3)) {
  struct Outcome {
    std::mutex m;
    std::condition_variable cv;
    bool done = false, ok = false;
    std::string text;
  };
  auto outcome = std::make_shared<Outcome>();
  zenoh::GetOptions options;
  options.payload = zenoh::Bytes(reinterpret_cast<const uint8_t*>(json.data()), json.size());
  options.timeout_ms = static_cast<uint64_t>(timeout.count());
  try {
    session.get(
        zenoh::KeyExpr("norvik/robot/" + serial + "/sim/control"), "",
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
  } catch (...) {
    return std::nullopt;
  }
  std::unique_lock<std::mutex> lock(outcome->m);
  outcome->cv.wait_for(lock, timeout + std::chrono::milliseconds(500), [&] { return outcome->done; });
  if (!outcome->ok || outcome->text.empty()) return std::nullopt;
  return outcome->text;
}

// The number after "key": in a JSON text, or -1 when it is not there.
inline double JsonNumber(const std::string& json, const std::string& key) {
  const size_t at = json.find("\"" + key + "\"");
  if (at == std::string::npos) return -1;
  size_t p = json.find(':', at);
  if (p == std::string::npos) return -1;
  return std::strtod(json.c_str() + p + 1, nullptr);
}

}  // namespace norvik::stress
