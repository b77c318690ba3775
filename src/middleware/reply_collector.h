// One Zenoh get to every queryable that matches a key expression, blocking
// until the query ends or its deadline passes, with every decoded reply and
// the key it came from.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "msgs/codec.h"
#include "zenoh/blocking_get.hxx"
#include "zenoh/session.hxx"

namespace norvik::zenoh_mdw {

template <typename Rep>
struct KeyedReply {
  std::string key;
  Rep reply;
};

// Error replies and replies that do not decode are left out. False when the
// get could not be issued. Throws zenoh::ZException when the request cannot
// be serialized.
template <typename Req, typename Rep>
bool CollectReplies(const zenoh::Session& session, const zenoh::KeyExpr& ke, const Req& request,
                    std::chrono::steady_clock::time_point deadline, std::vector<KeyedReply<Rep>>& out) {
  const auto timeout_ms =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
  if (timeout_ms <= 0) return true;
  zenoh::GetOptions options;
  options.payload = zenoh_msgs::tarn_msg::SerializeMessage(request);
  options.zenoh_serialized_encoding = true;
  options.timeout_ms = static_cast<uint64_t>(timeout_ms);
  options.all_replies = true;
  auto decode = [](bool ok, zenoh::BytesView sample, std::string_view key) -> std::optional<KeyedReply<Rep>> {
    if (!ok) return std::nullopt;
    try {
      return KeyedReply<Rep>{std::string(key), zenoh::ext::deserialize<Rep>(sample)};
    } catch (...) {
      return std::nullopt;
    }
  };
  zenoh::ZResult rc = NZ_OK;
  auto replies = zenoh::get_blocking<KeyedReply<Rep>>(session, ke, "", std::move(options), deadline, decode,
                                                      std::numeric_limits<size_t>::max(), &rc);
  if (rc != NZ_OK) return false;
  for (auto& reply : replies) out.push_back(std::move(reply));
  return true;
}

}  // namespace norvik::zenoh_mdw
