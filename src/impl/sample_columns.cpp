#include "impl/sample_columns.h"

#include <stdexcept>
#include <string>
#include <utility>

namespace norvik::tarn_impl {

namespace {

using tarn::JointGroup;

[[noreturn]] void Misshapen(const char* caller) {
  throw std::logic_error(std::string("[norvik::tarn::Client] ") + caller +
                         ": samples of one batch differ in joint groups or DoF");
}

template <typename Values>
void AppendRow(std::vector<double>& column, const Values& values) {
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

size_t DoFOf(const tarn::RobotStates& r) { return r.q.size(); }
size_t DoFOf(const tarn::RobotActions& r) { return r.q_d.size(); }

// Whether `records` has exactly the groups of `columns`, each with its DoF.
template <typename Columns, typename Records>
bool SameShape(const std::map<JointGroup, Columns>& columns, const Records& records) {
  if (columns.size() != records.size()) return false;
  auto c = columns.begin();
  for (auto r = records.begin(); r != records.end(); ++r, ++c) {
    if (c->first != r->first || c->second.dof != DoFOf(r->second)) return false;
  }
  return true;
}

// A record whose joint lists are not all of one length cannot be laid out.
bool Rectangular(const tarn::RobotStates& r) {
  const size_t d = r.q.size();
  return r.theta.size() == d && r.dq.size() == d && r.dtheta.size() == d && r.tau.size() == d &&
         r.tau_dot.size() == d && r.tau_ext.size() == d && r.tau_interact.size() == d && r.temperature.size() == d;
}
bool Rectangular(const tarn::RobotActions& r) {
  return r.dq_d.size() == r.q_d.size() && r.tau_d.size() == r.q_d.size();
}

template <typename Records>
bool AllRectangular(const Records& records) {
  for (const auto& [group, r] : records) {
    if (!Rectangular(r)) return false;
  }
  return true;
}

void MakeRoom(tarn::GroupStatesColumns& c, size_t rows) {
  c.timestamp.reserve(2 * rows);
  for (auto* column : {&c.q, &c.theta, &c.dq, &c.dtheta, &c.tau, &c.tau_dot, &c.tau_ext, &c.tau_interact,
                       &c.temperature}) {
    column->reserve(rows * c.dof);
  }
  for (auto* column : {&c.flange_pose, &c.tcp_pose}) column->reserve(rows * 7);
  for (auto* column : {&c.tcp_twist, &c.tcp_wrench, &c.tcp_wrench_local, &c.raw_tcp_wrench, &c.raw_tcp_wrench_local,
                       &c.raw_ft_sensor}) {
    column->reserve(rows * 6);
  }
}

void MakeRoom(tarn::GroupActionsColumns& c, size_t rows) {
  c.timestamp.reserve(2 * rows);
  for (auto* column : {&c.q_d, &c.dq_d, &c.tau_d}) column->reserve(rows * c.dof);
  c.tcp_pose_d.reserve(rows * 7);
  c.tcp_twist_d.reserve(rows * 6);
  c.tcp_wrench_d.reserve(rows * 6);
}

// The first sample fixes the groups and their DoF.
template <typename Columns, typename Records>
void Shape(std::map<JointGroup, Columns>& columns, const Records& first, size_t rows) {
  for (const auto& [group, record] : first) {
    Columns& c = columns[group];
    c.dof = DoFOf(record);
    MakeRoom(c, rows);
  }
}

}  // namespace

void StatesColumns::Add(const tarn::StatesSample& s) {
  tarn::StatesBatch& b = batch_;
  if (!AllRectangular(s.states)) Misshapen("take_states");
  if (b.count == 0) {
    Shape(b.states, s.states, rows_);
    b.index.reserve(rows_);
    b.received_at.reserve(rows_);
    b.system_state.reserve(rows_);
    b.safety_board_state.reserve(rows_);
    b.estop_released.reserve(rows_);
    b.enabling_device_on.reserve(rows_);
    b.digital_inputs.reserve(rows_ * 20);
    b.digital_outputs.reserve(rows_ * 20);
  } else if (!SameShape(b.states, s.states)) {
    Misshapen("take_states");
  }
  ++b.count;
  b.index.push_back(s.index);
  b.received_at.push_back(s.received_at);
  b.system_state.push_back(s.system_state);
  b.safety_board_state.push_back(s.safety_board_state);
  b.estop_released.push_back(s.estop_released ? 1 : 0);
  b.enabling_device_on.push_back(s.enabling_device_on ? 1 : 0);
  AppendFlags(b.digital_inputs, s.digital_inputs);
  AppendFlags(b.digital_outputs, s.digital_outputs);
  // the same order in both maps, checked above
  auto c = b.states.begin();
  for (auto r = s.states.begin(); r != s.states.end(); ++r, ++c) {
    tarn::GroupStatesColumns& g = c->second;
    const tarn::RobotStates& v = r->second;
    AppendStamp(g.timestamp, v.timestamp);
    AppendRow(g.q, v.q);
    AppendRow(g.theta, v.theta);
    AppendRow(g.dq, v.dq);
    AppendRow(g.dtheta, v.dtheta);
    AppendRow(g.tau, v.tau);
    AppendRow(g.tau_dot, v.tau_dot);
    AppendRow(g.tau_ext, v.tau_ext);
    AppendRow(g.tau_interact, v.tau_interact);
    AppendRow(g.temperature, v.temperature);
    AppendRow(g.flange_pose, v.flange_pose);
    AppendRow(g.tcp_pose, v.tcp_pose);
    AppendRow(g.tcp_twist, v.tcp_twist);
    AppendRow(g.tcp_wrench, v.tcp_wrench);
    AppendRow(g.tcp_wrench_local, v.tcp_wrench_local);
    AppendRow(g.raw_tcp_wrench, v.raw_tcp_wrench);
    AppendRow(g.raw_tcp_wrench_local, v.raw_tcp_wrench_local);
    AppendRow(g.raw_ft_sensor, v.raw_ft_sensor);
  }
}

void ActionsColumns::Add(const tarn::ActionsSample& s) {
  tarn::ActionsBatch& b = batch_;
  if (!AllRectangular(s.actions)) Misshapen("take_actions");
  if (b.count == 0) {
    Shape(b.actions, s.actions, rows_);
    b.index.reserve(rows_);
    b.received_at.reserve(rows_);
  } else if (!SameShape(b.actions, s.actions)) {
    Misshapen("take_actions");
  }
  ++b.count;
  b.index.push_back(s.index);
  b.received_at.push_back(s.received_at);
  auto c = b.actions.begin();
  for (auto r = s.actions.begin(); r != s.actions.end(); ++r, ++c) {
    tarn::GroupActionsColumns& g = c->second;
    const tarn::RobotActions& v = r->second;
    AppendStamp(g.timestamp, v.timestamp);
    AppendRow(g.q_d, v.q_d);
    AppendRow(g.dq_d, v.dq_d);
    AppendRow(g.tau_d, v.tau_d);
    AppendRow(g.tcp_pose_d, v.tcp_pose_d);
    AppendRow(g.tcp_twist_d, v.tcp_twist_d);
    AppendRow(g.tcp_wrench_d, v.tcp_wrench_d);
  }
}

}  // namespace norvik::tarn_impl
