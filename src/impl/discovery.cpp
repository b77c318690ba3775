#include "impl/discovery.h"

#include <algorithm>
#include <thread>
#include <vector>

#include "impl/data_rpc.h"
#include "middleware/reply_collector.h"
#include "middleware/shared_session.h"
#include "msgs/rpc_messages.h"

namespace norvik::tarn_impl {

namespace {

constexpr std::string_view kPrefix = "norvik/robot/";
constexpr std::string_view kSuffix = "/rpc";
// A session that just opened learns of robots over its first moments, so
// the question is asked again; this often at most.
constexpr auto kAskAgainAfter = std::chrono::milliseconds(250);

// The serial number in a robot's request key, or empty for any other key.
std::string SerialOf(std::string_view key) {
  if (key.size() <= kPrefix.size() + kSuffix.size() || key.substr(0, kPrefix.size()) != kPrefix ||
      key.substr(key.size() - kSuffix.size()) != kSuffix) {
    return {};
  }
  const auto serial = key.substr(kPrefix.size(), key.size() - kPrefix.size() - kSuffix.size());
  return serial.find('/') == std::string_view::npos ? std::string(serial) : std::string();
}

}  // namespace

std::map<std::string, std::string> DiscoverRobots(std::chrono::milliseconds timeout) {
  using zenoh_msgs::tarn_msg::RPCReply;
  using zenoh_msgs::tarn_msg::RPCRequest;
  const auto deadline = std::chrono::steady_clock::now() + std::max(timeout, std::chrono::milliseconds(0));
  const auto session = zenoh_mdw::GetSharedZenohSession();
  const zenoh::KeyExpr ke(std::string(kPrefix) + "*" + std::string(kSuffix));
  RPCRequest request;
  request.request_id = kTarnVersion;

  std::map<std::string, std::string> found;
  while (std::chrono::steady_clock::now() < deadline) {
    const auto asked = std::chrono::steady_clock::now();
    std::vector<zenoh_mdw::KeyedReply<RPCReply>> replies;
    if (!zenoh_mdw::CollectReplies(*session, ke, request, deadline, replies)) break;
    for (const auto& [key, reply] : replies) {
      const std::string serial = SerialOf(key);
      if (serial.empty()) continue;
      const bool has_version = reply.request_id == kTarnVersion && reply.success && !reply.string_container.empty();
      std::string& version = found[serial];
      if (has_version) version = reply.string_container.front();
    }
    std::this_thread::sleep_until(std::min(deadline, asked + kAskAgainAfter));
  }
  return found;
}

}  // namespace norvik::tarn_impl
