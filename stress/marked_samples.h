// Stream samples that name themselves: every value of a sample is derived
// from its family (the real robot, or a rogue publisher) and its number k,
// each at its own position, so a reader can tell a whole sample from one
// mixed of two, shifted, or decoded from garbage. The layout is tarn-sim's
// dual profile, so the simulator can answer the client's requests.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "msgs/stream_messages.h"
#include "norvik/tarn/joint_group.h"
#include "norvik/tarn/records.h"

namespace norvik::stress {

enum class Family : int { kRobot = 1, kRogue = -1 };

// tarn-sim --profile dual: the listed groups, in stream order, and each
// group's start and DoF in the 15-joint vector.
inline const std::vector<uint16_t> kDualGroups{2, 3, 4, 5};
inline constexpr size_t kDualDoF = 15;
inline const std::map<tarn::JointGroup, std::pair<size_t, size_t>> kDualCuts{{tarn::JointGroup::ARMS, {0, 14}},
                                                                            {tarn::JointGroup::ARM_1, {0, 7}},
                                                                            {tarn::JointGroup::ARM_2, {7, 7}},
                                                                            {tarn::JointGroup::EXT_AXIS, {14, 1}}};
// The basic stamp's nanoseconds tell the family; its seconds are k.
inline int32_t FamilyNanoseconds(Family f) { return f == Family::kRobot ? 0 : 500000000; }

// Exact in float: (k mod 65536) + 1 plus a multiple of 1/64, times the sign.
inline float Mark(Family f, uint32_t k, int field, size_t index) {
  const float base = static_cast<float>(k % 65536u) + 1.0f;
  const float frac = static_cast<float>((static_cast<size_t>(field) * 16 + index) % 64) / 64.0f;
  return static_cast<float>(static_cast<int>(f)) * (base + frac);
}

namespace detail {
template <size_t N>
std::array<float, N> MarkArray(Family f, uint32_t k, int field) {
  std::array<float, N> a{};
  for (size_t e = 0; e < N; ++e) a[e] = Mark(f, k, field, e);
  return a;
}
inline int CartesianField(size_t entry, int array) { return 32 + static_cast<int>(entry) * 8 + array; }
inline int ExtraCartesianField(size_t entry, int array) { return 80 + static_cast<int>(entry) * 4 + array; }
}  // namespace detail

// A basic sample; `dof` and `cartesian` entries other than the layout's make
// it inconsistent with the robot.
inline zenoh_msgs::tarn_msg::AllBasicStreamData MarkedBasic(Family f, uint32_t k, size_t dof = kDualDoF,
                                                            size_t cartesian = 4) {
  zenoh_msgs::tarn_msg::AllBasicStreamData d;
  d.system_state = 7;
  d.safety_board_state = 12;
  d.estop_released = k % 2 == 0;
  d.enabling_device_on = k % 3 == 0;
  for (size_t i = 0; i < 20; ++i) {
    d.digital_inputs[i] = ((k >> (i % 16)) & 1u) != 0;
    d.digital_outputs[i] = !d.digital_inputs[i];
  }
  d.joint_groups = kDualGroups;
  auto& j = d.joint_data;
  std::vector<float>* fields[] = {&j.q, &j.theta, &j.dq, &j.dtheta, &j.tau, &j.tau_dot, &j.tau_ext, &j.tau_interact,
                                  &j.temperature};
  for (int field = 0; field < 9; ++field) {
    for (size_t i = 0; i < dof; ++i) fields[field]->push_back(Mark(f, k, field, i));
  }
  for (size_t i = 0; i < dof; ++i) {
    j.contact_positions.push_back({Mark(f, k, 9, i), Mark(f, k, 10, i), Mark(f, k, 11, i)});
    j.contact_forces.push_back({Mark(f, k, 12, i), Mark(f, k, 13, i), Mark(f, k, 14, i)});
  }
  for (size_t n = 0; n < cartesian; ++n) {
    zenoh_msgs::tarn_msg::BasicCartesianData c;
    c.flange_pose = detail::MarkArray<7>(f, k, detail::CartesianField(n, 0));
    c.tcp_pose = detail::MarkArray<7>(f, k, detail::CartesianField(n, 1));
    c.tcp_twist = detail::MarkArray<6>(f, k, detail::CartesianField(n, 2));
    c.tcp_wrench_local = detail::MarkArray<6>(f, k, detail::CartesianField(n, 3));
    c.raw_tcp_wrench = detail::MarkArray<6>(f, k, detail::CartesianField(n, 4));
    c.raw_tcp_wrench_local = detail::MarkArray<6>(f, k, detail::CartesianField(n, 5));
    c.raw_ft_sensor = detail::MarkArray<6>(f, k, detail::CartesianField(n, 6));
    d.cartesian_data.push_back(c);
  }
  d.stamp_sec = static_cast<int32_t>(k);
  d.stamp_nanosec = static_cast<uint32_t>(FamilyNanoseconds(f));
  return d;
}

inline zenoh_msgs::tarn_msg::AllExtraStreamData MarkedExtra(Family f, uint32_t k, size_t dof = kDualDoF,
                                                            size_t cartesian = 4) {
  zenoh_msgs::tarn_msg::AllExtraStreamData d;
  d.joint_groups = kDualGroups;
  for (size_t i = 0; i < dof; ++i) {
    d.q_d.push_back(Mark(f, k, 60, i));
    d.dq_d.push_back(Mark(f, k, 61, i));
    d.tau_d.push_back(Mark(f, k, 62, i));
  }
  for (size_t n = 0; n < cartesian; ++n) {
    d.cartesian_data.push_back({detail::MarkArray<7>(f, k, detail::ExtraCartesianField(n, 0)),
                                detail::MarkArray<6>(f, k, detail::ExtraCartesianField(n, 1)),
                                detail::MarkArray<6>(f, k, detail::ExtraCartesianField(n, 2))});
  }
  return d;
}

// What one read showed: nothing, or one whole sample (its family and number).
// `problem` is empty when the read is either.
struct Seen {
  bool empty = true;
  Family family = Family::kRobot;
  uint32_t k = 0;
  std::string problem;
};

namespace detail {
template <typename Got, typename Want>
bool SameValues(const Got& got, const Want& want) {
  if (got.size() != want.size()) return false;
  for (size_t i = 0; i < got.size(); ++i) {
    if (got[i] != static_cast<double>(want[i])) return false;
  }
  return true;
}
inline std::string Where(tarn::JointGroup g, const char* field) {
  return std::string(field) + " of group " + std::to_string(static_cast<int>(g));
}
template <typename Records>
bool KnownGroups(const Records& records) {
  if (records.size() != kDualCuts.size()) return false;
  for (const auto& [g, r] : records) {
    if (kDualCuts.count(g) == 0) return false;
  }
  return true;
}
}  // namespace detail

inline Seen CheckStates(const std::map<tarn::JointGroup, tarn::RobotStates>& states) {
  Seen seen;
  if (states.empty()) return seen;
  seen.empty = false;
  if (!detail::KnownGroups(states)) {
    seen.problem = "groups are not the robot's";
    return seen;
  }
  const auto stamp = states.begin()->second.timestamp;
  if (stamp.second != FamilyNanoseconds(Family::kRobot) && stamp.second != FamilyNanoseconds(Family::kRogue)) {
    seen.problem = "stamp " + std::to_string(stamp.first) + "." + std::to_string(stamp.second) + " of no family";
    return seen;
  }
  const Family f = stamp.second == FamilyNanoseconds(Family::kRobot) ? Family::kRobot : Family::kRogue;
  const auto k = static_cast<uint32_t>(stamp.first);
  seen.family = f;
  seen.k = k;
  const auto want = MarkedBasic(f, k);
  for (const auto& [g, s] : states) {
    const auto [start, dof] = kDualCuts.at(g);
    auto cut = [&, start = start, dof = dof](const std::vector<float>& full) {
      return std::vector<float>(full.begin() + static_cast<long>(start), full.begin() + static_cast<long>(start + dof));
    };
    const auto& j = want.joint_data;
    size_t n = 0;
    while (kDualGroups[n] != static_cast<uint16_t>(g)) ++n;
    const auto& c = want.cartesian_data[n];
    const std::pair<const char*, bool> checks[] = {
        {"timestamp", s.timestamp == stamp},
        {"q", detail::SameValues(s.q, cut(j.q))},
        {"theta", detail::SameValues(s.theta, cut(j.theta))},
        {"dq", detail::SameValues(s.dq, cut(j.dq))},
        {"dtheta", detail::SameValues(s.dtheta, cut(j.dtheta))},
        {"tau", detail::SameValues(s.tau, cut(j.tau))},
        {"tau_dot", detail::SameValues(s.tau_dot, cut(j.tau_dot))},
        {"tau_ext", detail::SameValues(s.tau_ext, cut(j.tau_ext))},
        {"tau_interact", detail::SameValues(s.tau_interact, cut(j.tau_interact))},
        {"temperature", detail::SameValues(s.temperature, cut(j.temperature))},
        {"flange_pose", detail::SameValues(s.flange_pose, c.flange_pose)},
        {"tcp_pose", detail::SameValues(s.tcp_pose, c.tcp_pose)},
        {"tcp_twist", detail::SameValues(s.tcp_twist, c.tcp_twist)},
        {"tcp_wrench_local", detail::SameValues(s.tcp_wrench_local, c.tcp_wrench_local)},
        {"raw_tcp_wrench_local", detail::SameValues(s.raw_tcp_wrench_local, c.raw_tcp_wrench_local)},
        {"raw_ft_sensor", detail::SameValues(s.raw_ft_sensor, c.raw_ft_sensor)},
    };
    for (const auto& [field, ok] : checks) {
      if (!ok) {
        seen.problem = detail::Where(g, field) + " is not from sample " + std::to_string(k);
        return seen;
      }
    }
  }
  return seen;
}

inline Seen CheckActions(const std::map<tarn::JointGroup, tarn::RobotActions>& actions) {
  Seen seen;
  if (actions.empty()) return seen;
  seen.empty = false;
  if (!detail::KnownGroups(actions)) {
    seen.problem = "groups are not the robot's";
    return seen;
  }
  // ARMS starts at joint 0, whose q_d is +-(k mod 65536 + 1) exactly.
  const auto& arms = actions.at(tarn::JointGroup::ARMS);
  if (arms.q_d.empty() || arms.q_d[0] == 0.0) {
    seen.problem = "no commanded positions";
    return seen;
  }
  const Family f = arms.q_d[0] > 0 ? Family::kRobot : Family::kRogue;
  const auto k = static_cast<uint32_t>(std::abs(arms.q_d[0]) - 1.0);
  seen.family = f;
  seen.k = k;
  const auto want = MarkedExtra(f, k);
  for (const auto& [g, a] : actions) {
    const auto [start, dof] = kDualCuts.at(g);
    auto cut = [&, start = start, dof = dof](const std::vector<float>& full) {
      return std::vector<float>(full.begin() + static_cast<long>(start), full.begin() + static_cast<long>(start + dof));
    };
    size_t n = 0;
    while (kDualGroups[n] != static_cast<uint16_t>(g)) ++n;
    const auto& c = want.cartesian_data[n];
    const std::pair<const char*, bool> checks[] = {
        {"q_d", detail::SameValues(a.q_d, cut(want.q_d))},
        {"dq_d", detail::SameValues(a.dq_d, cut(want.dq_d))},
        {"tau_d", detail::SameValues(a.tau_d, cut(want.tau_d))},
        {"tcp_pose_d", detail::SameValues(a.tcp_pose_d, c.tcp_pose_d)},
        {"tcp_twist_d", detail::SameValues(a.tcp_twist_d, c.tcp_twist_d)},
        {"tcp_wrench_d", detail::SameValues(a.tcp_wrench_d, c.tcp_wrench_d)},
    };
    for (const auto& [field, ok] : checks) {
      if (!ok) {
        seen.problem = detail::Where(g, field) + " is not from extra sample " + std::to_string(k);
        return seen;
      }
    }
  }
  return seen;
}

}  // namespace norvik::stress
