#include "support/samples.h"

#include <algorithm>

namespace norvik::test {

using namespace zenoh_msgs::tarn_msg;

namespace {
template <size_t N>
std::array<float, N> Filled(float v) {
  std::array<float, N> a;
  a.fill(v);
  return a;
}
std::array<float, 7> Pose(float v) { return {v, v, v, 1, 0, 0, 0}; }
}  // namespace

AllBasicStreamData UniformBasic(const std::vector<uint16_t>& groups, size_t dof, float value, int32_t stamp) {
  AllBasicStreamData d;
  d.system_state = 7;
  d.safety_board_state = 12;
  d.estop_released = value > 0;
  d.enabling_device_on = value > 1;
  d.safety_inputs.fill(true);
  d.digital_inputs.fill(value > 0);
  d.digital_outputs.fill(value > 1);
  d.joint_groups = groups;
  auto& j = d.joint_data;
  for (auto* f : {&j.q, &j.theta, &j.dq, &j.dtheta, &j.tau, &j.tau_dot, &j.tau_ext, &j.tau_interact, &j.temperature}) {
    f->assign(dof, value);
  }
  j.contact_positions.assign(dof, Filled<3>(value));
  j.contact_forces.assign(dof, Filled<3>(-value));
  for (size_t n = 0; n < groups.size(); ++n) {
    BasicCartesianData c;
    c.flange_pose = Pose(value);
    c.tcp_pose = Pose(value);
    c.tcp_twist = c.tcp_wrench_local = c.raw_tcp_wrench = c.raw_tcp_wrench_local = c.raw_ft_sensor = Filled<6>(value);
    d.cartesian_data.push_back(c);
  }
  d.stamp_sec = stamp;
  d.stamp_nanosec = static_cast<uint32_t>(stamp);
  return d;
}

AllExtraStreamData UniformExtra(const std::vector<uint16_t>& groups, size_t dof, float value) {
  AllExtraStreamData d;
  d.joint_groups = groups;
  d.q_d.assign(dof, value);
  d.dq_d.assign(dof, value);
  d.tau_d.assign(dof, value);
  for (size_t n = 0; n < groups.size(); ++n) d.cartesian_data.push_back({Pose(value), Filled<6>(value), Filled<6>(value)});
  return d;
}

}  // namespace norvik::test
