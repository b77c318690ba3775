// The state behind norvik::tarn::Client: the façade and the joint-group
// layout learned at connection, fixed from then on.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "impl/tarn_client.h"
#include "norvik/tarn/client.h"

namespace norvik::tarn {

inline constexpr const char* kClientVersion = "v2.1";

class Client::Impl {
 public:
  // Runs the whole connection sequence; throws on any failure.
  Impl(const std::string& robot_sn, bool verbose);
  virtual ~Impl() = default;

  bool connected() const;
  std::map<JointGroup, std::string> groups() const;
  std::map<JointGroup, RobotStates> states() const;
  std::map<JointGroup, RobotActions> actions() const;
  std::map<JointGroup, PrimitiveStates> primitive_states() const;
  PlanInfo plan_info() const;
  std::map<JointGroup, std::pair<double, double>> configuration_score() const;
  bool estop_released() const;
  bool enabling_device_on() const;
  std::array<bool, 20> digital_inputs() const;
  std::array<bool, 20> digital_outputs() const;
  StreamHealth stream_health(StreamKind stream) const;
  void start_sample_queues(size_t capacity) const;
  std::optional<StatesSample> next_states(std::chrono::nanoseconds timeout) const;
  std::optional<ActionsSample> next_actions(std::chrono::nanoseconds timeout) const;
  StatesBatch take_states(size_t max_count, std::chrono::nanoseconds timeout) const;
  ActionsBatch take_actions(size_t max_count, std::chrono::nanoseconds timeout) const;
  uint16_t system_state() const;
  int16_t safety_board_state() const;
  const std::string& server_version() const { return server_version_; }
  std::map<JointGroup, std::pair<uint32_t, uint64_t>> layout() const;

 private:
  // Throws std::logic_error naming `caller` when the queues were never started.
  void RequireQueues(const char* caller) const;
  // Throws std::invalid_argument naming `caller` when `max_count` is 0, then
  // as RequireQueues.
  void RequireBatch(const char* caller, size_t max_count) const;

  std::shared_ptr<tarn_impl::TARNClient> tarn_client_;
  bool verbose_;
  std::map<JointGroup, uint32_t> start_ids_;
  std::map<JointGroup, uint64_t> dofs_;
  std::map<JointGroup, std::string> groups_;
  std::string server_version_;
  // Set once start_sample_queues has made the queues; next_* refuse before.
  mutable std::atomic<bool> queues_started_{false};
};

// Turns the robot's flat "name = value" list into per-group records; throws
// std::runtime_error (and what the integer conversions throw) when it is
// malformed. `known` are the groups the robot has.
std::map<JointGroup, PrimitiveStates> ParsePrimitiveStates(const std::vector<std::string>& entries,
                                                           const std::map<JointGroup, std::string>& known);

// The two scores of one group's manipulability measures a and b.
std::pair<double, double> ConfigurationScore(double a, double b);

}  // namespace norvik::tarn
