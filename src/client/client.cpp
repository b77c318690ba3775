#include "norvik/tarn/client.h"

#include <stdexcept>

#include "client/client_impl.h"

namespace norvik::tarn {

Client::Client(const std::string& robot_sn, bool verbose) : impl_(std::make_unique<Impl>(robot_sn, verbose)) {}
Client::~Client() = default;
Client::Client(Client&&) noexcept = default;
Client& Client::operator=(Client&&) noexcept = default;

const Client::Impl& Client::impl() const {
  if (!impl_) throw std::logic_error("[norvik::tarn::Client] Client was moved from");
  return *impl_;
}

bool Client::connected() const { return impl().connected(); }
std::map<JointGroup, std::string> Client::groups() const { return impl().groups(); }
std::map<JointGroup, RobotStates> Client::states() const { return impl().states(); }
std::map<JointGroup, RobotActions> Client::actions() const { return impl().actions(); }
std::map<JointGroup, PrimitiveStates> Client::primitive_states() const { return impl().primitive_states(); }
PlanInfo Client::plan_info() const { return impl().plan_info(); }
std::map<JointGroup, std::pair<double, double>> Client::configuration_score() const {
  return impl().configuration_score();
}
bool Client::estop_released() const { return impl().estop_released(); }
bool Client::enabling_device_on() const { return impl().enabling_device_on(); }
std::array<bool, 20> Client::digital_inputs() const { return impl().digital_inputs(); }
std::array<bool, 20> Client::digital_outputs() const { return impl().digital_outputs(); }
StreamHealth Client::stream_health(StreamKind stream) const { return impl().stream_health(stream); }
void Client::start_sample_queues(size_t capacity) const { impl().start_sample_queues(capacity); }
std::optional<StatesSample> Client::next_states(std::chrono::nanoseconds timeout) const {
  return impl().next_states(timeout);
}
std::string Client::server_version() const { return impl().server_version(); }
std::map<JointGroup, std::pair<uint32_t, uint64_t>> Client::layout() const { return impl().layout(); }
std::optional<ActionsSample> Client::next_actions(std::chrono::nanoseconds timeout) const {
  return impl().next_actions(timeout);
}
StatesBatch Client::take_states(size_t max_count, std::chrono::nanoseconds timeout) const {
  return impl().take_states(max_count, timeout);
}
ActionsBatch Client::take_actions(size_t max_count, std::chrono::nanoseconds timeout) const {
  return impl().take_actions(max_count, timeout);
}
uint16_t Client::system_state() const { return impl().system_state(); }
int16_t Client::safety_board_state() const { return impl().safety_board_state(); }

}  // namespace norvik::tarn
