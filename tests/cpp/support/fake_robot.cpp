#include "support/fake_robot.h"

namespace norvik::test {

using zenoh_msgs::tarn_msg::RPCReply;
using zenoh_msgs::tarn_msg::RPCRequest;

FakeRobot::FakeRobot(std::string serial)
    : serial_(std::move(serial)), session_(zenoh::Session::open(zenoh::Config::create_default())) {
  const std::string prefix = "norvik/robot/" + serial_;
  basic_.emplace(session_.declare_publisher(zenoh::KeyExpr(prefix + "/basic_stream_data")));
  extra_.emplace(session_.declare_publisher(zenoh::KeyExpr(prefix + "/extra_stream_data")));
  queryable_.emplace(session_.declare_queryable(
      zenoh::KeyExpr(prefix + "/rpc"), [this](const zenoh::QueryView& q) { Handle(q); }, [] {}));
}

FakeRobot::~FakeRobot() {
  StopStreaming();
  queryable_.reset();
  held_.clear();  // no handler runs after this
  basic_.reset();
  extra_.reset();
}

void FakeRobot::On(uint16_t code, Handler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  handlers_[code] = std::move(handler);
}

void FakeRobot::Hold(uint16_t code) {
  Defer(code, [this](zenoh::Query query) {
    std::lock_guard<std::mutex> lock(mutex_);
    held_.push_back(std::move(query));
  });
}

void FakeRobot::Defer(uint16_t code, Taker take) {
  std::lock_guard<std::mutex> lock(mutex_);
  takers_[code] = std::move(take);
}

void FakeRobot::Answer(uint16_t code, RPCReply reply) {
  On(code, [reply](const RPCRequest&) { return reply; });
}

int FakeRobot::Requests(uint16_t code) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = counts_.find(code);
  return it == counts_.end() ? 0 : it->second;
}

RPCRequest FakeRobot::LastRequest(uint16_t code) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_.at(code);
}

void FakeRobot::Handle(const zenoh::QueryView& query) {
  RPCRequest request;
  try {
    request = zenoh::ext::deserialize<RPCRequest>(query.payload());
  } catch (...) {
    return;
  }
  Handler handler;
  Taker take;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_[request.request_id];
    last_[request.request_id] = request;
    if (const auto it = takers_.find(request.request_id); it != takers_.end()) {
      take = it->second;
    } else if (const auto it = handlers_.find(request.request_id); it != handlers_.end()) {
      handler = it->second;
    } else {
      return;
    }
  }
  if (take) {
    take(zenoh::Query(query));
  } else if (Reply reply = handler(request)) {
    query.reply(zenoh_msgs::tarn_msg::SerializeMessage(*reply));
  }
}

void FakeRobot::PublishBasic(const zenoh_msgs::tarn_msg::AllBasicStreamData& data) const {
  basic_->put(zenoh_msgs::tarn_msg::SerializeMessage(data));
}

void FakeRobot::PublishExtra(const zenoh_msgs::tarn_msg::AllExtraStreamData& data) const {
  extra_->put(zenoh_msgs::tarn_msg::SerializeMessage(data));
}

void FakeRobot::PublishBasicBytes(const std::vector<uint8_t>& bytes) const { basic_->put(zenoh::Bytes(bytes)); }

void FakeRobot::StartStreaming(zenoh_msgs::tarn_msg::AllBasicStreamData basic,
                               zenoh_msgs::tarn_msg::AllExtraStreamData extra, std::chrono::microseconds period) {
  StopStreaming();
  SetSamples(std::move(basic), std::move(extra));
  streaming_ = true;
  streamer_ = std::thread([this, period] {
    auto next = std::chrono::steady_clock::now();
    while (streaming_) {
      zenoh::Bytes b, e;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        b = zenoh_msgs::tarn_msg::SerializeMessage(basic_sample_);
        e = zenoh_msgs::tarn_msg::SerializeMessage(extra_sample_);
      }
      basic_->put(std::move(b));
      extra_->put(std::move(e));
      next += period;
      std::this_thread::sleep_until(next);
    }
  });
}

void FakeRobot::SetSamples(zenoh_msgs::tarn_msg::AllBasicStreamData basic,
                           zenoh_msgs::tarn_msg::AllExtraStreamData extra) {
  std::lock_guard<std::mutex> lock(mutex_);
  basic_sample_ = std::move(basic);
  extra_sample_ = std::move(extra);
}

void FakeRobot::StopStreaming() {
  streaming_ = false;
  if (streamer_.joinable()) streamer_.join();
}

void FakeRobot::ActAsRobot(const std::vector<std::tuple<uint16_t, int32_t, float>>& layout, const std::string& version) {
  Answer(0, RPCReply{0, false, {}, {}, {}, {}, {}});
  Answer(1, StringReply(1, {version}));
  On(10, [layout](const RPCRequest& request) {
    RPCReply r{10, true, {}, {}, {}, {}, {}};
    for (uint16_t g : request.joint_groups) {
      for (const auto& [group, start, dof] : layout) {
        if (group != g) continue;
        r.joint_groups.push_back(group);
        r.int_container.push_back(start);
        r.float_container.push_back(dof);
      }
    }
    return std::optional<RPCReply>(r);
  });
}

RPCReply StringReply(uint16_t code, std::vector<std::string> strings) {
  RPCReply r;
  r.request_id = code;
  r.success = true;
  r.string_container = std::move(strings);
  return r;
}

}  // namespace norvik::test
