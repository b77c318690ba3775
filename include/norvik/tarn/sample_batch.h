// Runs of queued samples in columns: what Client::take_states and
// Client::take_actions hand out, one vector per field instead of one record
// per sample. Row i of every column is the i-th sample of the batch, in the
// order next_states / next_actions would have given them; every sample of a
// batch has the same joint groups and DoF, so each column is rectangular.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "norvik/tarn/joint_group.h"

namespace norvik::tarn {

// One joint group's measured state over `count` samples. Per-joint columns
// hold count x dof values, row-major; poses count x 7 (x, y, z, quaternion
// w, x, y, z); six-vectors count x 6. The fields mean what those of
// RobotStates of the same names mean.
struct GroupStatesColumns {
  size_t dof = 0;
  std::vector<int32_t> timestamp;  // count x 2: seconds, nanoseconds
  std::vector<double> q, theta, dq, dtheta, tau, tau_dot, tau_ext, tau_interact, temperature;
  std::vector<double> flange_pose, tcp_pose;
  std::vector<double> tcp_twist, tcp_wrench, tcp_wrench_local, raw_tcp_wrench, raw_tcp_wrench_local, raw_ft_sensor;
};

// `count` basic samples. `received_at` is the same steady-clock time point
// StatesSample::received_at gives.
struct StatesBatch {
  size_t count = 0;
  std::vector<uint64_t> index;
  std::vector<std::chrono::steady_clock::time_point> received_at;
  std::map<JointGroup, GroupStatesColumns> states;
  std::vector<uint16_t> system_state;
  std::vector<int16_t> safety_board_state;
  std::vector<uint8_t> estop_released, enabling_device_on;  // 0 or 1
  std::vector<uint8_t> digital_inputs, digital_outputs;     // count x 20, 0 or 1
};

// One joint group's commanded values over `count` samples: q_d, dq_d, tau_d
// count x dof; tcp_pose_d count x 7; tcp_twist_d, tcp_wrench_d count x 6.
struct GroupActionsColumns {
  size_t dof = 0;
  std::vector<int32_t> timestamp;  // count x 2: seconds, nanoseconds
  std::vector<double> q_d, dq_d, tau_d;
  std::vector<double> tcp_pose_d, tcp_twist_d, tcp_wrench_d;
};

// `count` extra samples, as ActionsSample gives them one at a time.
struct ActionsBatch {
  size_t count = 0;
  std::vector<uint64_t> index;
  std::vector<std::chrono::steady_clock::time_point> received_at;
  std::map<JointGroup, GroupActionsColumns> actions;
};

}  // namespace norvik::tarn
