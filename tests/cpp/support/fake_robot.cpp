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
  queryable_.reset();  // no handler runs after this
  basic_.reset();
  extra_.reset();
}

void FakeRobot::On(uint16_t code, Handler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  handlers_[code] = std::move(handler);
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
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_[request.request_id];
    last_[request.request_id] = request;
    const auto it = handlers_.find(request.request_id);
    if (it == handlers_.end()) return;
    handler = it->second;
  }
  if (Reply reply = handler(request)) query.reply(zenoh_msgs::tarn_msg::SerializeMessage(*reply));
}

void FakeRobot::PublishBasic(const zenoh_msgs::tarn_msg::AllBasicStreamData& data) const {
  basic_->put(zenoh_msgs::tarn_msg::SerializeMessage(data));
}

void FakeRobot::PublishExtra(const zenoh_msgs::tarn_msg::AllExtraStreamData& data) const {
  extra_->put(zenoh_msgs::tarn_msg::SerializeMessage(data));
}

void FakeRobot::PublishBasicBytes(const std::vector<uint8_t>& bytes) const { basic_->put(zenoh::Bytes(bytes)); }

RPCReply StringReply(uint16_t code, std::vector<std::string> strings) {
  RPCReply r;
  r.request_id = code;
  r.success = true;
  r.string_container = std::move(strings);
  return r;
}

}  // namespace norvik::test
