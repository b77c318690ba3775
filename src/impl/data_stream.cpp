#include "impl/data_stream.h"

namespace norvik::tarn_impl {

DataStream::~DataStream() {
  // Undeclare before the buffers go: after this no handler touches them.
  basic_subscriber_.reset();
  extra_subscriber_.reset();
}

ozr::OzrState DataStream::Init(const zenoh_mdw::RealtimeNode& node, const std::string& serial) {
  const std::string prefix = "norvik/robot/" + serial;
  basic_subscriber_ = std::make_shared<zenoh_mdw::Subscriber<BasicData>>(
      node.session, [this] { BasicSubCallback(); }, basic_receive_, prefix + "/basic_stream_data");
  extra_subscriber_ = std::make_shared<zenoh_mdw::Subscriber<ExtraData>>(
      node.session, [this] { ExtraSubCallback(); }, extra_receive_, prefix + "/extra_stream_data");
  return ozr::MakeOzrState(ozr::OZR_GENERAL_OK);
}

void DataStream::BasicSubCallback() {
  std::lock_guard<std::mutex> lock(basic_mutex_);
  basic_published_ = basic_receive_;
}

void DataStream::ExtraSubCallback() {
  std::lock_guard<std::mutex> lock(extra_mutex_);
  extra_published_ = extra_receive_;
}

ozr::SystemState DataStream::GetSystemState() const {
  std::lock_guard<std::mutex> lock(basic_mutex_);
  return static_cast<ozr::SystemState>(basic_published_.system_state);
}

ozr::SafetyBoardState DataStream::GetSafetyBoardState() const {
  std::lock_guard<std::mutex> lock(basic_mutex_);
  return static_cast<ozr::SafetyBoardState>(basic_published_.safety_board_state);
}

bool DataStream::IsEstopReleased() const {
  std::lock_guard<std::mutex> lock(basic_mutex_);
  return basic_published_.estop_released;
}

bool DataStream::IsEnablingDeviceOn() const {
  std::lock_guard<std::mutex> lock(basic_mutex_);
  return basic_published_.enabling_device_on;
}

std::array<bool, 8> DataStream::GetSafetyInputs() const {
  std::lock_guard<std::mutex> lock(basic_mutex_);
  return basic_published_.safety_inputs;
}

std::array<bool, 20> DataStream::GetDigitalInput() const {
  std::lock_guard<std::mutex> lock(basic_mutex_);
  return basic_published_.digital_inputs;
}

std::array<bool, 20> DataStream::GetDigitalOutput() const {
  std::lock_guard<std::mutex> lock(basic_mutex_);
  return basic_published_.digital_outputs;
}

uint64_t DataStream::BasicReceived() const { return basic_subscriber_ ? basic_subscriber_->received() : 0; }
uint64_t DataStream::BasicMalformed() const { return basic_subscriber_ ? basic_subscriber_->malformed() : 0; }
uint64_t DataStream::ExtraReceived() const { return extra_subscriber_ ? extra_subscriber_->received() : 0; }
uint64_t DataStream::ExtraMalformed() const { return extra_subscriber_ ? extra_subscriber_->malformed() : 0; }

}  // namespace norvik::tarn_impl
