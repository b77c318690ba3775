// The two periodic stream messages the robot publishes. Floats are single
// precision, as on the wire; joint sequences cover the robot's full DoF.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace norvik::zenoh_msgs::tarn_msg {

struct BasicJointData {
  std::vector<float> q;
  std::vector<float> theta;
  std::vector<float> dq;
  std::vector<float> dtheta;
  std::vector<float> tau;
  std::vector<float> tau_dot;
  std::vector<float> tau_ext;
  std::vector<float> tau_interact;
  std::vector<float> temperature;
  std::vector<std::array<float, 3>> contact_positions;
  std::vector<std::array<float, 3>> contact_forces;
};

struct BasicCartesianData {
  std::array<float, 7> flange_pose{};
  std::array<float, 7> tcp_pose{};
  std::array<float, 6> tcp_twist{};
  std::array<float, 6> tcp_wrench_local{};
  std::array<float, 6> raw_tcp_wrench{};
  std::array<float, 6> raw_tcp_wrench_local{};
  std::array<float, 6> raw_ft_sensor{};
};

struct AllBasicStreamData {
  uint16_t system_state = 0;
  int16_t safety_board_state = 0;
  bool estop_released = false;
  bool enabling_device_on = false;
  std::array<bool, 8> safety_inputs{};
  std::array<bool, 20> digital_inputs{};
  std::array<bool, 20> digital_outputs{};
  std::vector<uint16_t> joint_groups;
  BasicJointData joint_data;
  std::vector<BasicCartesianData> cartesian_data;
  int32_t stamp_sec = 0;
  uint32_t stamp_nanosec = 0;
};

struct ExtraCartesianData {
  std::array<float, 7> tcp_pose_d{};
  std::array<float, 6> tcp_twist_d{};
  std::array<float, 6> tcp_wrench_d{};
};

struct AllExtraStreamData {
  std::vector<uint16_t> joint_groups;
  std::vector<float> q_d;
  std::vector<float> dq_d;
  std::vector<float> tau_d;
  std::vector<ExtraCartesianData> cartesian_data;
};

}  // namespace norvik::zenoh_msgs::tarn_msg
