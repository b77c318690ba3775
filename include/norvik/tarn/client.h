// norvik::tarn::Client: read-only access to one robot's live data.
//
// Constructing a Client connects to the robot named by its serial number and
// runs the whole start-up sequence; a Client that exists is connected and
// initialised. Stream accessors (groups, states, actions, estop_released,
// enabling_device_on, digital_inputs, digital_outputs) return the latest
// sample and never wait for the network. Request-backed accessors
// (connected, primitive_states, plan_info, configuration_score) make one
// round trip and block up to their time-out (1 s for connected, 2 s
// otherwise; primitive_states makes up to six when the robot's lists come
// corrupted). Every accessor may be called from several threads at once;
// requests take turns, each within its own time-out.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "norvik/tarn/export.h"
#include "norvik/tarn/joint_group.h"
#include "norvik/tarn/records.h"
#include "norvik/tarn/sample_batch.h"
#include "norvik/tarn/serial_number.h"
#include "norvik/tarn/state_names.h"
#include "norvik/tarn/stream_health.h"

namespace norvik::tarn {

class NORVIK_TARN_API Client {
 public:
  // Connects to robot `robot_sn` (for example "Abc 4s-123", used as
  // "Abc-4s-123"). With `verbose` false only the connection line is logged.
  // Throws std::invalid_argument (malformed serial number), std::logic_error
  // (incompatible server version, wrong joint-group count) or
  // std::runtime_error (no robot, failed requests), each text beginning
  // "[norvik::tarn::Client] ".
  explicit Client(const std::string& robot_sn, bool verbose = true);
  virtual ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;
  Client(Client&&) noexcept;
  Client& operator=(Client&&) noexcept;

  // One probe of the robot; false when it does not answer within 1 s.
  bool connected() const;
  // The joint groups named in the latest basic sample; empty when the sample
  // lists an invalid group. Throws std::out_of_range for the unused value 1.
  std::map<JointGroup, std::string> groups() const;
  // Latest measured state per joint group; empty when the sample is inconsistent.
  std::map<JointGroup, RobotStates> states() const;
  // Latest commanded values per joint group; empty when the sample is inconsistent.
  std::map<JointGroup, RobotActions> actions() const;
  // Throws std::runtime_error when the robot does not answer or its lists
  // stay corrupted or are malformed.
  std::map<JointGroup, PrimitiveStates> primitive_states() const;
  // Throws std::runtime_error when the robot does not answer.
  PlanInfo plan_info() const;
  // Two scores between 0 and 100 per joint group. Throws std::runtime_error
  // when the robot does not answer.
  std::map<JointGroup, std::pair<double, double>> configuration_score() const;
  bool estop_released() const;
  bool enabling_device_on() const;
  std::array<bool, 20> digital_inputs() const;
  std::array<bool, 20> digital_outputs() const;

  // Counts, robot stamp and arrival time of the latest sample of a stream:
  // tells "never received", "live" and "stale" apart.
  StreamHealth stream_health(StreamKind stream) const;
  // From now on keeps every sample of both streams (up to `capacity` each
  // waiting to be taken; beyond that the oldest go and are counted in
  // StreamHealth::queue_dropped). Calling it again changes nothing. Throws
  // std::invalid_argument when `capacity` is 0.
  void start_sample_queues(size_t capacity = 10000) const;
  // The oldest kept sample, waiting up to `timeout`; empty on time-out.
  // Throws std::logic_error when start_sample_queues was never called (the
  // wait would end at once, every time).
  std::optional<StatesSample> next_states(std::chrono::nanoseconds timeout) const;
  std::optional<ActionsSample> next_actions(std::chrono::nanoseconds timeout) const;
  // Kept samples in columns: waits up to `timeout` for the oldest, then takes
  // without waiting the ones queued behind it, up to `max_count` in all, and
  // stops before the first whose joint groups or DoF differ (it starts the
  // next batch). The samples, in order, are the ones next_states /
  // next_actions would have given. count 0 on time-out. Throws
  // std::invalid_argument when `max_count` is 0, then std::logic_error as
  // next_states does.
  StatesBatch take_states(size_t max_count, std::chrono::nanoseconds timeout) const;
  ActionsBatch take_actions(size_t max_count, std::chrono::nanoseconds timeout) const;

  // The controller's system state and safety-board state in the latest basic
  // sample (0 and 0 before the first); system_state_name() and
  // safety_board_state_name() name them.
  uint16_t system_state() const;
  int16_t safety_board_state() const;

  // The robot's server version, as checked at connection ("v2.1").
  std::string server_version() const;
  // Start index in the robot's full joint vector and DoF of every joint
  // group, as the robot reported them at connection.
  std::map<JointGroup, std::pair<uint32_t, uint64_t>> layout() const;

  class NORVIK_TARN_LOCAL Impl;

 private:
  const Impl& impl() const;
  std::unique_ptr<Impl> impl_;
};

}  // namespace norvik::tarn
