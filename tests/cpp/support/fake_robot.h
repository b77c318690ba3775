// A scriptable robot on its own Zenoh session, in the test process: answers
// requests with replies the test chooses and publishes stream samples.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <chrono>
#include <vector>

#include "msgs/codec.h"
#include "msgs/rpc_messages.h"
#include "msgs/stream_messages.h"
#include "zenoh.hxx"

namespace norvik::test {

class FakeRobot {
 public:
  using Reply = std::optional<zenoh_msgs::tarn_msg::RPCReply>;  // nothing: no reply
  using Handler = std::function<Reply(const zenoh_msgs::tarn_msg::RPCRequest&)>;
  using Taker = std::function<void(zenoh::Query)>;

  explicit FakeRobot(std::string serial);
  ~FakeRobot();

  // Replies to `code` with what `handler` returns; unscripted codes get no reply.
  void On(uint16_t code, Handler handler);
  // Keeps queries with `code` open, unanswered, until the robot goes.
  void Hold(uint16_t code);
  // Hands queries with `code` to `take`, which answers them when it likes;
  // each ends when its last copy goes.
  void Defer(uint16_t code, Taker take);
  // Replies to `code` with `reply` as it stands.
  void Answer(uint16_t code, zenoh_msgs::tarn_msg::RPCReply reply);
  int Requests(uint16_t code) const;
  zenoh_msgs::tarn_msg::RPCRequest LastRequest(uint16_t code) const;

  void PublishBasic(const zenoh_msgs::tarn_msg::AllBasicStreamData& data) const;
  void PublishExtra(const zenoh_msgs::tarn_msg::AllExtraStreamData& data) const;
  void PublishBasicBytes(const std::vector<uint8_t>& bytes) const;

  // Publishes both samples every `period` on a thread of its own until
  // StopStreaming or destruction; the samples can be replaced meanwhile.
  void StartStreaming(zenoh_msgs::tarn_msg::AllBasicStreamData basic, zenoh_msgs::tarn_msg::AllExtraStreamData extra,
                      std::chrono::microseconds period = std::chrono::milliseconds(1));
  void SetSamples(zenoh_msgs::tarn_msg::AllBasicStreamData basic, zenoh_msgs::tarn_msg::AllExtraStreamData extra);
  void StopStreaming();

  // Answers probe, version and start-ID requests as a robot with `layout`
  // (group, start, DoF) and server version `version` does.
  void ActAsRobot(const std::vector<std::tuple<uint16_t, int32_t, float>>& layout, const std::string& version = "v2.1");

  const std::string& serial() const { return serial_; }

 private:
  void Handle(const zenoh::QueryView& query);

  std::string serial_;
  zenoh::Session session_;
  mutable std::mutex mutex_;
  std::map<uint16_t, Handler> handlers_;
  std::map<uint16_t, Taker> takers_;
  std::vector<zenoh::Query> held_;
  std::map<uint16_t, int> counts_;
  std::map<uint16_t, zenoh_msgs::tarn_msg::RPCRequest> last_;
  std::optional<zenoh::Publisher> basic_, extra_;
  std::optional<zenoh::Queryable> queryable_;
  zenoh_msgs::tarn_msg::AllBasicStreamData basic_sample_;
  zenoh_msgs::tarn_msg::AllExtraStreamData extra_sample_;
  std::atomic<bool> streaming_{false};
  std::thread streamer_;
};

// A reply to `code` with success true and the given string list.
zenoh_msgs::tarn_msg::RPCReply StringReply(uint16_t code, std::vector<std::string> strings);

}  // namespace norvik::test
