#include "client/sample_columns.h"

#include <stdexcept>
#include <string>

namespace norvik::tarn {

namespace {

[[noreturn]] void Misshapen(const char* caller) {
  throw std::logic_error(std::string("[norvik::tarn::Client] ") + caller +
                         ": samples of one batch differ in joint groups or DoF");
}

// Appends one row of `width` values.
template <typename Values>
void AppendRow(std::vector<double>& column, const Values& values, size_t width, const char* caller) {
  if (values.size() != width) Misshapen(caller);
  column.insert(column.end(), values.begin(), values.end());
}

void AppendStamp(std::vector<int32_t>& column, const std::pair<int32_t, int32_t>& stamp) {
  column.push_back(stamp.first);
  column.push_back(stamp.second);
}

template <size_t N>
void AppendFlags(std::vector<uint8_t>& column, const std::array<bool, N>& flags) {
  for (bool f : flags) column.push_back(f ? 1 : 0);
}

// The groups of the first sample, each with its DoF and room for `count` rows.
template <typename Columns, typename Records, typename Reserve>
std::map<JointGroup, Columns> GroupsOf(const Records& first, size_t count, Reserve reserve) {
  std::map<JointGroup, Columns> groups;
  for (const auto& [group, record] : first) {
    Columns& c = groups[group];
    reserve(c, record, count);
  }
  return groups;
}

// The columns of `group`, which the batch must have.
template <typename Columns>
Columns& ColumnsOf(std::map<JointGroup, Columns>& batch, JointGroup group, const char* caller) {
  const auto it = batch.find(group);
  if (it == batch.end()) Misshapen(caller);
  return it->second;
}

}  // namespace

StatesBatch StatesColumns(const std::vector<StatesSample>& run) {
  constexpr const char* kCaller = "take_states";
  StatesBatch b;
  b.count = run.size();
  if (run.empty()) return b;
  const size_t n = run.size();
  b.states = GroupsOf<GroupStatesColumns>(run.front().states, n, [](GroupStatesColumns& c, const RobotStates& r,
                                                                      size_t count) {
    c.dof = r.q.size();
    c.timestamp.reserve(2 * count);
    for (auto* column : {&c.q, &c.theta, &c.dq, &c.dtheta, &c.tau, &c.tau_dot, &c.tau_ext, &c.tau_interact,
                         &c.temperature}) {
      column->reserve(count * c.dof);
    }
    for (auto* column : {&c.flange_pose, &c.tcp_pose}) column->reserve(count * 7);
    for (auto* column : {&c.tcp_twist, &c.tcp_wrench, &c.tcp_wrench_local, &c.raw_tcp_wrench,
                         &c.raw_tcp_wrench_local, &c.raw_ft_sensor}) {
      column->reserve(count * 6);
    }
  });
  b.index.reserve(n);
  b.received_at.reserve(n);
  b.system_state.reserve(n);
  b.safety_board_state.reserve(n);
  b.estop_released.reserve(n);
  b.enabling_device_on.reserve(n);
  b.digital_inputs.reserve(n * 20);
  b.digital_outputs.reserve(n * 20);
  for (const StatesSample& s : run) {
    b.index.push_back(s.index);
    b.received_at.push_back(s.received_at);
    b.system_state.push_back(s.system_state);
    b.safety_board_state.push_back(s.safety_board_state);
    b.estop_released.push_back(s.estop_released ? 1 : 0);
    b.enabling_device_on.push_back(s.enabling_device_on ? 1 : 0);
    AppendFlags(b.digital_inputs, s.digital_inputs);
    AppendFlags(b.digital_outputs, s.digital_outputs);
    if (s.states.size() != b.states.size()) Misshapen(kCaller);
    for (const auto& [group, r] : s.states) {
      GroupStatesColumns& c = ColumnsOf(b.states, group, kCaller);
      AppendStamp(c.timestamp, r.timestamp);
      AppendRow(c.q, r.q, c.dof, kCaller);
      AppendRow(c.theta, r.theta, c.dof, kCaller);
      AppendRow(c.dq, r.dq, c.dof, kCaller);
      AppendRow(c.dtheta, r.dtheta, c.dof, kCaller);
      AppendRow(c.tau, r.tau, c.dof, kCaller);
      AppendRow(c.tau_dot, r.tau_dot, c.dof, kCaller);
      AppendRow(c.tau_ext, r.tau_ext, c.dof, kCaller);
      AppendRow(c.tau_interact, r.tau_interact, c.dof, kCaller);
      AppendRow(c.temperature, r.temperature, c.dof, kCaller);
      AppendRow(c.flange_pose, r.flange_pose, 7, kCaller);
      AppendRow(c.tcp_pose, r.tcp_pose, 7, kCaller);
      AppendRow(c.tcp_twist, r.tcp_twist, 6, kCaller);
      AppendRow(c.tcp_wrench, r.tcp_wrench, 6, kCaller);
      AppendRow(c.tcp_wrench_local, r.tcp_wrench_local, 6, kCaller);
      AppendRow(c.raw_tcp_wrench, r.raw_tcp_wrench, 6, kCaller);
      AppendRow(c.raw_tcp_wrench_local, r.raw_tcp_wrench_local, 6, kCaller);
      AppendRow(c.raw_ft_sensor, r.raw_ft_sensor, 6, kCaller);
    }
  }
  return b;
}

ActionsBatch ActionsColumns(const std::vector<ActionsSample>& run) {
  constexpr const char* kCaller = "take_actions";
  ActionsBatch b;
  b.count = run.size();
  if (run.empty()) return b;
  const size_t n = run.size();
  b.actions = GroupsOf<GroupActionsColumns>(run.front().actions, n, [](GroupActionsColumns& c,
                                                                        const RobotActions& r, size_t count) {
    c.dof = r.q_d.size();
    c.timestamp.reserve(2 * count);
    for (auto* column : {&c.q_d, &c.dq_d, &c.tau_d}) column->reserve(count * c.dof);
    c.tcp_pose_d.reserve(count * 7);
    c.tcp_twist_d.reserve(count * 6);
    c.tcp_wrench_d.reserve(count * 6);
  });
  b.index.reserve(n);
  b.received_at.reserve(n);
  for (const ActionsSample& s : run) {
    b.index.push_back(s.index);
    b.received_at.push_back(s.received_at);
    if (s.actions.size() != b.actions.size()) Misshapen(kCaller);
    for (const auto& [group, r] : s.actions) {
      GroupActionsColumns& c = ColumnsOf(b.actions, group, kCaller);
      AppendStamp(c.timestamp, r.timestamp);
      AppendRow(c.q_d, r.q_d, c.dof, kCaller);
      AppendRow(c.dq_d, r.dq_d, c.dof, kCaller);
      AppendRow(c.tau_d, r.tau_d, c.dof, kCaller);
      AppendRow(c.tcp_pose_d, r.tcp_pose_d, 7, kCaller);
      AppendRow(c.tcp_twist_d, r.tcp_twist_d, 6, kCaller);
      AppendRow(c.tcp_wrench_d, r.tcp_wrench_d, 6, kCaller);
    }
  }
  return b;
}

}  // namespace norvik::tarn
