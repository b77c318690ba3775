// The records the client hands out: plain values, copyable and movable.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace norvik::tarn {

// Measured state of one joint group. Lists hold one entry per joint of the
// group; poses are x, y, z and a quaternion w, x, y, z; six-vectors are a
// linear then an angular triple. `tcp_wrench` and `raw_tcp_wrench` are in the
// world frame, their `_local` twins in the TCP frame.
struct RobotStates {
  std::pair<int32_t, int32_t> timestamp{0, 0};
  std::vector<double> q;
  std::vector<double> theta;
  std::vector<double> dq;
  std::vector<double> dtheta;
  std::vector<double> tau;
  std::vector<double> tau_dot;
  std::vector<double> tau_ext;
  std::vector<double> tau_interact;
  std::vector<double> temperature;
  std::array<double, 7> flange_pose{};
  std::array<double, 7> tcp_pose{};
  std::array<double, 6> tcp_twist{};
  std::array<double, 6> tcp_wrench{};
  std::array<double, 6> tcp_wrench_local{};
  std::array<double, 6> raw_tcp_wrench{};
  std::array<double, 6> raw_tcp_wrench_local{};
  std::array<double, 6> raw_ft_sensor{};
};

// Commanded (desired) values of one joint group.
struct RobotActions {
  std::pair<int32_t, int32_t> timestamp{0, 0};
  std::vector<double> q_d;
  std::vector<double> dq_d;
  std::vector<double> tau_d;
  std::array<double, 7> tcp_pose_d{};
  std::array<double, 6> tcp_twist_d{};
  std::array<double, 6> tcp_wrench_d{};
};

// State variables of the motion primitive running on one joint group; a
// value keeps its kind (the integer 3 and the double 3.0 differ).
struct PrimitiveStates {
  std::string pt_name;
  std::map<std::string, std::variant<int32_t, double, std::string>> names_and_values;
};

// The plan the robot is executing.
struct PlanInfo {
  std::string pt_name;
  std::string node_name;
  std::string node_path;
  std::string node_path_time_period;
  std::string node_path_number;
  std::string assigned_plan_name;
  double velocity_scale = 0.0;
  bool waiting_for_step = false;
};

}  // namespace norvik::tarn
