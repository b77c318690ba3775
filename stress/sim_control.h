// tarn-sim's run-time control channel from the stress programs: one JSON
// query on norvik/robot/SERIAL/sim/control, and reading numbers out of the
// status it answers with.
#pragma once

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "zenoh/blocking_get.hxx"

namespace norvik::stress {

// The reply text, or nothing when the simulator did not answer within `timeout`.
inline std::optional<std::string> SimControl(const zenoh::Session& session, const std::string& serial,
                                             const std::string& json,
                                             std::chrono::milliseconds timeout = std::chrono::seconds(3)) {
  zenoh::GetOptions options;
  options.payload = zenoh::Bytes(reinterpret_cast<const uint8_t*>(json.data()), json.size());
  options.timeout_ms = static_cast<uint64_t>(timeout.count());
  // The first reply, good or not: an error reply is the simulator refusing.
  auto decode = [](bool ok, zenoh::BytesView payload, std::string_view) -> std::optional<std::pair<bool, std::string>> {
    const auto bytes = payload.as_vector();
    return std::make_pair(ok, std::string(bytes.begin(), bytes.end()));
  };
  zenoh::ZResult rc = NZ_OK;
  const auto replies = zenoh::get_blocking<std::pair<bool, std::string>>(
      session, zenoh::KeyExpr("norvik/robot/" + serial + "/sim/control"), "", std::move(options),
      std::chrono::steady_clock::now() + timeout + std::chrono::milliseconds(500), decode, 1, &rc);
  if (replies.empty() || !replies.front().first || replies.front().second.empty()) return std::nullopt;
  return replies.front().second;
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
