// One Zenoh get to every queryable that matches a key expression, blocking
// until the query ends or its deadline passes, with every decoded reply and
// the key it came from.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "msgs/codec.h"
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
  struct State {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<KeyedReply<Rep>> replies;
    bool done = false;
  };
  const auto timeout_ms =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
  if (timeout_ms <= 0) return true;
  auto state = std::make_shared<State>();
  zenoh::GetOptions options;
  options.payload = zenoh_msgs::tarn_msg::SerializeMessage(request);
  options.zenoh_serialized_encoding = true;
  options.timeout_ms = static_cast<uint64_t>(timeout_ms);
  options.all_replies = true;
  try {
    session.get(
        ke, "",
        [state](bool ok, zenoh::BytesView sample, std::string_view key) {
          if (!ok) return;
          KeyedReply<Rep> keyed{std::string(key), Rep{}};
          try {
            keyed.reply = zenoh::ext::deserialize<Rep>(sample);
          } catch (...) {
            return;
          }
          std::lock_guard<std::mutex> lock(state->mutex);
          state->replies.push_back(std::move(keyed));
        },
        [state] {
          std::lock_guard<std::mutex> lock(state->mutex);
          state->done = true;
          state->cv.notify_all();
        },
        std::move(options));
  } catch (const zenoh::ZException&) {
    return false;
  }
  std::unique_lock<std::mutex> lock(state->mutex);
  state->cv.wait_until(lock, deadline, [&state] { return state->done; });
  for (auto& reply : state->replies) out.push_back(std::move(reply));
  state->replies.clear();
  return true;
}

}  // namespace norvik::zenoh_mdw
