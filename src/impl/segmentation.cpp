// Cutting the latest samples into per-group records.
#include <spdlog/spdlog.h>

#include <Eigen/Dense>
#include <cmath>

#include "impl/data_stream.h"
#include "impl/segment.h"

namespace norvik::tarn_impl {

namespace {

using tarn::JointGroup;

int GroupValue(JointGroup g) { return static_cast<int>(g); }

template <size_t N>
void Widen(const std::array<float, N>& in, std::array<double, N>& out) {
  for (size_t i = 0; i < N; ++i) out[i] = in[i];
}

// The layout of one group, or nothing (and the error logged) when it is missing.
bool Layout(JointGroup g, const StartIds& start_ids, const DoFs& dofs, uint64_t& start, uint64_t& dof) {
  const auto s = start_ids.find(g);
  const auto d = dofs.find(g);
  if (s == start_ids.end() || d == dofs.end()) {
    spdlog::error("[norvik::tarn::Client] Missing start ID or DoF metadata for joint group [{}]", GroupValue(g));
    return false;
  }
  start = s->second;
  dof = d->second;
  return true;
}

}  // namespace

GroupNames DataStream::GetJointGroups(bool basic) const {
  std::unique_lock<std::mutex> lock(basic ? basic_mutex_ : extra_mutex_);
  const auto& values = basic ? basic_published_.joint_groups : extra_published_.joint_groups;
  GroupNames result;
  for (uint16_t v : values) {
    if (v > 5) {
      if (basic) {
        spdlog::error("[norvik::tarn::Client] The received basic data contains invalid joint group index [{}]", v);
      } else {
        spdlog::error("[norvik::tarn::Client] The received extra data contains invalid joint group index [{}]", v);
      }
      return {};
    }
    const auto g = static_cast<JointGroup>(v);
    result.emplace(g, tarn::kJointGroupNames.at(g));
  }
  return result;
}

std::map<JointGroup, tarn::RobotStates> DataStream::GetRobotStates(const GroupNames& groups, const StartIds& start_ids,
                                                                   const DoFs& dofs) const {
  std::lock_guard<std::mutex> lock(basic_mutex_);
  return CutStates(basic_published_, groups, start_ids, dofs);
}

std::map<JointGroup, tarn::RobotStates> DataStream::CutStates(const BasicData& data, const GroupNames& groups,
                                                              const StartIds& start_ids, const DoFs& dofs) {
  if (data.joint_groups.size() != data.cartesian_data.size()) {
    spdlog::error(
        "[norvik::tarn::Client] The received data has mismatched sizes: cartesian_data size is {}, expected number "
        "of joint groups is {}",
        data.cartesian_data.size(), data.joint_groups.size());
    return {};
  }
  std::map<JointGroup, tarn::RobotStates> result;
  const auto& j = data.joint_data;
  for (const auto& entry : groups) {
    const JointGroup g = entry.first;
    uint64_t s = 0, d = 0;
    if (!Layout(g, start_ids, dofs, s, d)) return {};
    tarn::RobotStates& r = result[g];
    if (!(Segment(j.q, s, d, r.q) && Segment(j.theta, s, d, r.theta) && Segment(j.dq, s, d, r.dq) &&
          Segment(j.dtheta, s, d, r.dtheta) && Segment(j.tau, s, d, r.tau) && Segment(j.tau_dot, s, d, r.tau_dot) &&
          Segment(j.tau_ext, s, d, r.tau_ext) && Segment(j.tau_interact, s, d, r.tau_interact) &&
          Segment(j.temperature, s, d, r.temperature))) {
      spdlog::error("[norvik::tarn::Client] Failed to segment full-DoF joint data for joint group [{}]", GroupValue(g));
      return {};
    }
    r.timestamp = {data.stamp_sec, static_cast<int32_t>(data.stamp_nanosec)};
  }
  for (size_t n = 0; n < data.joint_groups.size(); ++n) {
    tarn::RobotStates& r = result[static_cast<JointGroup>(data.joint_groups[n])];
    const auto& c = data.cartesian_data[n];
    Widen(c.flange_pose, r.flange_pose);
    Widen(c.tcp_pose, r.tcp_pose);
    Widen(c.tcp_twist, r.tcp_twist);
    Widen(c.tcp_wrench_local, r.tcp_wrench_local);
    Widen(c.raw_tcp_wrench, r.raw_tcp_wrench);
    Widen(c.raw_tcp_wrench_local, r.raw_tcp_wrench_local);
    Widen(c.raw_ft_sensor, r.raw_ft_sensor);
    SetExtWrenchInWorld(r);
  }
  return result;
}

std::map<JointGroup, tarn::RobotActions> DataStream::GetRobotActions(const GroupNames& groups,
                                                                     const StartIds& start_ids,
                                                                     const DoFs& dofs) const {
  std::pair<int32_t, int32_t> stamp;
  {
    // The extra stream has no time stamp of its own.
    std::lock_guard<std::mutex> lock(basic_mutex_);
    stamp = {basic_published_.stamp_sec, static_cast<int32_t>(basic_published_.stamp_nanosec)};
  }
  std::lock_guard<std::mutex> lock(extra_mutex_);
  return CutActions(extra_published_, stamp, groups, start_ids, dofs);
}

std::map<JointGroup, tarn::RobotActions> DataStream::CutActions(const ExtraData& data,
                                                                std::pair<int32_t, int32_t> stamp,
                                                                const GroupNames& groups, const StartIds& start_ids,
                                                                const DoFs& dofs) {
  if (data.joint_groups.size() != data.cartesian_data.size()) {
    spdlog::error(
        "[norvik::tarn::Client] The received desired data has mismatched sizes: cartesian_data size is {}, expected "
        "number of joint groups is {}",
        data.cartesian_data.size(), data.joint_groups.size());
    return {};
  }
  std::map<JointGroup, tarn::RobotActions> result;
  for (const auto& entry : groups) {
    const JointGroup g = entry.first;
    uint64_t s = 0, d = 0;
    if (!Layout(g, start_ids, dofs, s, d)) return {};
    tarn::RobotActions& r = result[g];
    if (!(Segment(data.q_d, s, d, r.q_d) && Segment(data.dq_d, s, d, r.dq_d) && Segment(data.tau_d, s, d, r.tau_d))) {
      spdlog::error("[norvik::tarn::Client] Failed to segment desired joint data for joint group [{}]", GroupValue(g));
      return {};
    }
    r.timestamp = stamp;
  }
  for (size_t n = 0; n < data.joint_groups.size(); ++n) {
    tarn::RobotActions& r = result[static_cast<JointGroup>(data.joint_groups[n])];
    const auto& c = data.cartesian_data[n];
    Widen(c.tcp_pose_d, r.tcp_pose_d);
    Widen(c.tcp_twist_d, r.tcp_twist_d);
    Widen(c.tcp_wrench_d, r.tcp_wrench_d);
  }
  return result;
}

template <typename Field>
std::map<JointGroup, std::vector<Eigen::Vector3d>> DataStream::CutContacts(Field field, const char* what,
                                                                           const GroupNames& groups,
                                                                           const StartIds& start_ids,
                                                                           const DoFs& dofs) const {
  std::lock_guard<std::mutex> lock(basic_mutex_);
  const auto& full = basic_published_.joint_data.*field;
  std::map<JointGroup, std::vector<Eigen::Vector3d>> result;
  for (const auto& entry : groups) {
    uint64_t s = 0, d = 0;
    if (!Layout(entry.first, start_ids, dofs, s, d)) return {};
    std::vector<std::array<float, 3>> cut;
    if (!Segment(full, s, d, cut)) {
      spdlog::error("[norvik::tarn::Client] Failed to segment multi-contact {} for joint group [{}]", what,
                    GroupValue(entry.first));
      return {};
    }
    auto& out = result[entry.first];
    out.reserve(cut.size());
    for (const auto& p : cut) out.emplace_back(p[0], p[1], p[2]);
  }
  return result;
}

std::map<JointGroup, std::vector<Eigen::Vector3d>> DataStream::GetMultiContactPositions(const GroupNames& groups,
                                                                                        const StartIds& start_ids,
                                                                                        const DoFs& dofs) const {
  return CutContacts(&zenoh_msgs::tarn_msg::BasicJointData::contact_positions, "positions", groups, start_ids, dofs);
}

std::map<JointGroup, std::vector<Eigen::Vector3d>> DataStream::GetMultiContactForces(const GroupNames& groups,
                                                                                     const StartIds& start_ids,
                                                                                     const DoFs& dofs) const {
  return CutContacts(&zenoh_msgs::tarn_msg::BasicJointData::contact_forces, "forces", groups, start_ids, dofs);
}

void DataStream::SetExtWrenchInWorld(tarn::RobotStates& states) {
  double w = states.tcp_pose[3], x = states.tcp_pose[4], y = states.tcp_pose[5], z = states.tcp_pose[6];
  const double norm = std::sqrt(w * w + x * x + y * y + z * z);
  if (norm > 0.0) {
    w /= norm;
    x /= norm;
    y /= norm;
    z /= norm;
  }
  Eigen::Matrix3d R;
  R << 1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y),  //
      2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x),   //
      2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y);
  auto rotate = [&R](const std::array<double, 6>& local, std::array<double, 6>& world) {
    const Eigen::Map<const Eigen::Vector3d> force(local.data()), torque(local.data() + 3);
    Eigen::Map<Eigen::Vector3d>(world.data()) = R * force;
    Eigen::Map<Eigen::Vector3d>(world.data() + 3) = R * torque;
  };
  rotate(states.tcp_wrench_local, states.tcp_wrench);
  rotate(states.raw_tcp_wrench_local, states.raw_tcp_wrench);
}

}  // namespace norvik::tarn_impl
