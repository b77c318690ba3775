// A blocking remote call over one Zenoh get, with a time-out.
//
// Thread-safe: calls on one client run one at a time, each within its own
// time-out. The reply handlers run on Zenoh's threads and share only the
// per-call state with the caller; a reply that comes after the caller gave up
// lands in that abandoned state and is freed with it when Zenoh drops the query.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "msgs/codec.h"
#include "zenoh/blocking_get.hxx"
#include "zenoh/session.hxx"

namespace norvik::zenoh_mdw {

template <typename Req, typename Rep>
class RpcClient {
 public:
  // The key expression is built here, once; a key that cannot be built makes
  // every call return false, as a get that cannot be issued does.
  RpcClient(std::shared_ptr<zenoh::Session> session, std::string key)
      : session_(std::move(session)), key_(std::move(key)), ke_(MakeKey(key_)) {}

  // True when a reply was received and decoded; it then replaces `reply`.
  // False on time-out, when the query ended without a usable reply, or when
  // the get could not be issued. Throws zenoh::ZException when the request
  // cannot be serialized.
  bool SendRequestAndGetReply(const Req& request, Rep& reply, double timeout_s) {
    // Calls take turns, but the deadline runs from the call, not from its
    // turn: a caller queued behind calls to a silent robot gives up when its
    // own time is out instead of waiting out every call before it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ToMilliseconds(timeout_s));
    Turn turn(*this, deadline);
    if (!turn.taken) return false;
    zenoh::Bytes payload = zenoh_msgs::tarn_msg::SerializeMessage(request);
    const int64_t timeout_ms =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (timeout_ms <= 0 || !ke_) return false;

    zenoh::GetOptions options;
    options.payload = std::move(payload);
    options.zenoh_serialized_encoding = true;
    options.timeout_ms = static_cast<uint64_t>(timeout_ms);
    options.priority = zenoh::Priority::Data;
    options.congestion_control = zenoh::CongestionControl::Block;
    // The first reply that decodes wins; error replies and undecodable ones are ignored.
    auto decode = [](bool ok, zenoh::BytesView sample, std::string_view) -> std::optional<Rep> {
      if (!ok) return std::nullopt;
      try {
        return zenoh::ext::deserialize<Rep>(sample);
      } catch (...) {
        return std::nullopt;
      }
    };
    std::vector<Rep> replies;
    try {
      replies = zenoh::get_blocking<Rep>(*session_, ke_, "", std::move(options), deadline, decode, 1);
    } catch (...) {
      return false;
    }
    if (replies.empty()) return false;
    reply = std::move(replies.front());
    return true;
  }

 private:
  static zenoh::KeyExpr MakeKey(const std::string& key) {
    zenoh::ZResult rc = NZ_OK;
    return zenoh::KeyExpr(key, true, &rc);  // empty when the text is no key expression
  }

  // Truncated toward zero; NaN, negative and absurd time-outs are clamped so
  // the conversion is always defined.
  static int64_t ToMilliseconds(double timeout_s) {
    constexpr double kMaxMs = 1e12;
    const double ms = timeout_s * 1000.0;
    if (!(ms > 0.0)) return 0;
    return static_cast<int64_t>(std::min(ms, kMaxMs));
  }

  // One call at a time: a caller waits for its turn until its own deadline.
  struct Turn {
    Turn(RpcClient& c, std::chrono::steady_clock::time_point deadline) : client(c) {
      std::unique_lock<std::mutex> lock(client.mutex_);
      taken = client.turn_free_.wait_until(lock, deadline, [this] { return !client.busy_; });
      if (taken) client.busy_ = true;
    }
    ~Turn() {
      if (!taken) return;
      {
        std::lock_guard<std::mutex> lock(client.mutex_);
        client.busy_ = false;
      }
      client.turn_free_.notify_one();
    }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

    RpcClient& client;
    bool taken = false;
  };

  std::mutex mutex_;
  std::condition_variable turn_free_;
  bool busy_ = false;  // guarded by mutex_
  std::shared_ptr<zenoh::Session> session_;
  std::string key_;
  zenoh::KeyExpr ke_;
};

}  // namespace norvik::zenoh_mdw
