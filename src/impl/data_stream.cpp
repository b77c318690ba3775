#include "impl/data_stream.h"

#include <utility>

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
  // the subscriber decodes the next sample over what the receive buffer then holds
  std::swap(basic_published_, basic_receive_);
  basic_arrival_ = {basic_arrival_.index + 1, std::chrono::steady_clock::now(),
                    {basic_published_.stamp_sec, static_cast<int32_t>(basic_published_.stamp_nanosec)}};
  if (basic_queue_) basic_queue_->Push({basic_arrival_, basic_published_});
}

void DataStream::ExtraSubCallback() {
  std::pair<int32_t, int32_t> stamp;
  {
    std::lock_guard<std::mutex> lock(basic_mutex_);
    stamp = basic_arrival_.stamp;
  }
  std::lock_guard<std::mutex> lock(extra_mutex_);
  std::swap(extra_published_, extra_receive_);
  extra_arrival_ = {extra_arrival_.index + 1, std::chrono::steady_clock::now(), stamp};
  if (extra_queue_) extra_queue_->Push({extra_arrival_, extra_published_});
}

tarn::StreamHealth DataStream::Health(tarn::StreamKind stream) const {
  tarn::StreamHealth h;
  const bool basic = stream == tarn::StreamKind::Basic;
  {
    std::lock_guard<std::mutex> lock(basic ? basic_mutex_ : extra_mutex_);
    const Arrival& a = basic ? basic_arrival_ : extra_arrival_;
    if (a.index > 0) h.last_received = a.at;
    h.robot_stamp = a.stamp;
    if (basic && basic_queue_) h.queue_dropped = basic_queue_->dropped();
    if (!basic && extra_queue_) h.queue_dropped = extra_queue_->dropped();
  }
  h.received = basic ? BasicReceived() : ExtraReceived();
  h.malformed = basic ? BasicMalformed() : ExtraMalformed();
  return h;
}

void DataStream::StartQueues(size_t capacity) {
  // One stream at a time: no path ever holds both mutexes.
  {
    std::lock_guard<std::mutex> lock(basic_mutex_);
    if (!basic_queue_) basic_queue_ = std::make_shared<SampleQueue<QueuedBasic>>(capacity);
  }
  std::lock_guard<std::mutex> lock(extra_mutex_);
  if (!extra_queue_) extra_queue_ = std::make_shared<SampleQueue<QueuedExtra>>(capacity);
}

std::shared_ptr<SampleQueue<DataStream::QueuedBasic>> DataStream::BasicQueue() const {
  std::lock_guard<std::mutex> lock(basic_mutex_);
  return basic_queue_;
}

std::shared_ptr<SampleQueue<DataStream::QueuedExtra>> DataStream::ExtraQueue() const {
  std::lock_guard<std::mutex> lock(extra_mutex_);
  return extra_queue_;
}

tarn::StatesSample DataStream::ToStatesSample(const QueuedBasic& item, const GroupNames& groups,
                                              const StartIds& start_ids, const DoFs& dofs) {
  const BasicData& d = item.data;
  tarn::StatesSample out;
  out.index = item.arrival.index;
  out.received_at = item.arrival.at;
  out.states = CutStates(d, groups, start_ids, dofs);
  out.system_state = d.system_state;
  out.safety_board_state = d.safety_board_state;
  out.estop_released = d.estop_released;
  out.enabling_device_on = d.enabling_device_on;
  out.digital_inputs = d.digital_inputs;
  out.digital_outputs = d.digital_outputs;
  return out;
}

tarn::ActionsSample DataStream::ToActionsSample(const QueuedExtra& item, const GroupNames& groups,
                                                const StartIds& start_ids, const DoFs& dofs) {
  tarn::ActionsSample out;
  out.index = item.arrival.index;
  out.received_at = item.arrival.at;
  out.actions = CutActions(item.data, item.arrival.stamp, groups, start_ids, dofs);
  return out;
}

std::optional<tarn::StatesSample> DataStream::NextStates(std::chrono::nanoseconds timeout, const GroupNames& groups,
                                                         const StartIds& start_ids, const DoFs& dofs) {
  const auto queue = BasicQueue();
  if (!queue) return std::nullopt;
  auto item = queue->Pop(timeout);
  if (!item) return std::nullopt;
  return ToStatesSample(*item, groups, start_ids, dofs);
}

std::optional<tarn::ActionsSample> DataStream::NextActions(std::chrono::nanoseconds timeout, const GroupNames& groups,
                                                           const StartIds& start_ids, const DoFs& dofs) {
  const auto queue = ExtraQueue();
  if (!queue) return std::nullopt;
  auto item = queue->Pop(timeout);
  if (!item) return std::nullopt;
  return ToActionsSample(*item, groups, start_ids, dofs);
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
