// Samples laid out in columns: every value lands in its row, in order.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>

#include "impl/sample_columns.h"

namespace norvik::tarn_impl {
namespace {

using namespace std::chrono_literals;
using namespace tarn;

template <typename Columns, typename Sample>
auto Laid(const std::vector<Sample>& run) {
  Columns columns(run.size());
  for (const auto& s : run) columns.Add(s);
  return columns.Take();
}
tarn::StatesBatch StatesOf(const std::vector<StatesSample>& run) { return Laid<StatesColumns>(run); }
tarn::ActionsBatch ActionsOf(const std::vector<ActionsSample>& run) { return Laid<ActionsColumns>(run); }

// A record whose every value is derived from `v`, with `dof` joints.
RobotStates States(double v, size_t dof) {
  RobotStates r;
  r.timestamp = {static_cast<int32_t>(v), static_cast<int32_t>(v) + 1};
  for (auto* f : {&r.q, &r.theta, &r.dq, &r.dtheta, &r.tau, &r.tau_dot, &r.tau_ext, &r.tau_interact,
                  &r.temperature}) {
    for (size_t j = 0; j < dof; ++j) f->push_back(v + 0.1 * static_cast<double>(j));
  }
  r.tcp_pose = {v, v, v, 1, 0, 0, 0};
  r.flange_pose = {-v, 0, 0, 1, 0, 0, 0};
  r.raw_ft_sensor = {v, 2 * v, 3 * v, 4 * v, 5 * v, 6 * v};
  r.tcp_wrench = {0, 0, 0, 0, 0, -v};
  return r;
}

StatesSample Sample(uint64_t index, double v) {
  StatesSample s;
  s.index = index;
  s.received_at = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(1000 + index));
  s.states[JointGroup::ARM_1] = States(v, 3);
  s.states[JointGroup::EXT_AXIS] = States(10 * v, 1);
  s.system_state = static_cast<uint16_t>(index);
  s.safety_board_state = static_cast<int16_t>(-static_cast<int>(index));
  s.estop_released = index % 2 == 0;
  s.digital_outputs[19] = true;
  return s;
}

TEST(SampleColumns, StatesRowsFollowTheSamplesInOrder) {
  const std::vector<StatesSample> run{Sample(7, 1.0), Sample(8, 2.0)};
  const StatesBatch b = StatesOf(run);
  ASSERT_EQ(b.count, 2u);
  EXPECT_EQ(b.index, (std::vector<uint64_t>{7, 8}));
  EXPECT_EQ(b.received_at, (std::vector{run[0].received_at, run[1].received_at}));
  EXPECT_EQ(b.system_state, (std::vector<uint16_t>{7, 8}));
  EXPECT_EQ(b.safety_board_state, (std::vector<int16_t>{-7, -8}));
  EXPECT_EQ(b.estop_released, (std::vector<uint8_t>{0, 1}));
  EXPECT_EQ(b.enabling_device_on, (std::vector<uint8_t>{0, 0}));
  ASSERT_EQ(b.digital_outputs.size(), 40u);
  EXPECT_EQ(b.digital_outputs[19], 1);
  EXPECT_EQ(b.digital_outputs[39], 1);
  EXPECT_EQ(b.digital_outputs[20], 0);
  EXPECT_EQ(b.digital_inputs, std::vector<uint8_t>(40, 0));

  ASSERT_EQ(b.states.size(), 2u);
  const GroupStatesColumns& arm = b.states.at(JointGroup::ARM_1);
  EXPECT_EQ(arm.dof, 3u);
  EXPECT_EQ(arm.timestamp, (std::vector<int32_t>{1, 2, 2, 3}));
  EXPECT_EQ(arm.q, (std::vector<double>{1.0, 1.1, 1.2, 2.0, 2.1, 2.2}));
  EXPECT_EQ(arm.temperature, arm.q);
  EXPECT_EQ(arm.tcp_pose, (std::vector<double>{1, 1, 1, 1, 0, 0, 0, 2, 2, 2, 1, 0, 0, 0}));
  EXPECT_EQ(arm.flange_pose[7], -2.0);
  EXPECT_EQ(arm.raw_ft_sensor, (std::vector<double>{1, 2, 3, 4, 5, 6, 2, 4, 6, 8, 10, 12}));
  EXPECT_EQ(arm.tcp_wrench[11], -2.0);
  const GroupStatesColumns& axis = b.states.at(JointGroup::EXT_AXIS);
  EXPECT_EQ(axis.dof, 1u);
  EXPECT_EQ(axis.dtheta, (std::vector<double>{10.0, 20.0}));
}

TEST(SampleColumns, GroupsWithoutJointsAndEmptyRuns) {
  StatesSample s = Sample(1, 1.0);
  s.states[JointGroup::ARM_2] = RobotStates{};  // Cartesian data only
  const StatesBatch b = StatesOf({s, s, s});
  EXPECT_EQ(b.states.at(JointGroup::ARM_2).dof, 0u);
  EXPECT_TRUE(b.states.at(JointGroup::ARM_2).q.empty());
  EXPECT_EQ(b.states.at(JointGroup::ARM_2).tcp_pose.size(), 21u);

  EXPECT_EQ(StatesOf({}).count, 0u);
  EXPECT_TRUE(StatesOf({}).index.empty());
  EXPECT_EQ(ActionsOf({}).count, 0u);
}

TEST(SampleColumns, AMisshapenRunIsRefusedNotLaidOut) {
  StatesSample other_dof = Sample(2, 2.0);
  other_dof.states[JointGroup::ARM_1] = States(2.0, 4);
  StatesSample fewer_groups = Sample(2, 2.0);
  fewer_groups.states.erase(JointGroup::EXT_AXIS);
  StatesSample other_group = fewer_groups;
  other_group.states[JointGroup::ARM_2] = States(2.0, 1);
  StatesSample ragged = Sample(2, 2.0);
  ragged.states[JointGroup::ARM_1].tau.pop_back();
  for (const auto& second : {other_dof, fewer_groups, other_group, ragged}) {
    StatesColumns columns(2);
    columns.Add(Sample(1, 1.0));
    try {
      columns.Add(second);
      ADD_FAILURE() << "laid out a run of two shapes";
    } catch (const std::logic_error& e) {
      EXPECT_STREQ(e.what(), "[norvik::tarn::Client] take_states: samples of one batch differ in joint groups or DoF");
    }
    const StatesBatch b = columns.Take();
    EXPECT_EQ(b.count, 1u) << "a refused sample left part of itself";
    EXPECT_EQ(b.index.size(), 1u);
    EXPECT_EQ(b.states.at(JointGroup::ARM_1).q.size(), 3u);
  }
}

TEST(SampleColumns, ActionsRowsFollowTheSamplesInOrder) {
  std::vector<ActionsSample> run(2);
  for (size_t i = 0; i < run.size(); ++i) {
    const double v = static_cast<double>(i + 1);
    run[i].index = 40 + i;
    run[i].received_at = std::chrono::steady_clock::time_point(std::chrono::seconds(i + 1));
    RobotActions& a = run[i].actions[JointGroup::ARM_2];
    a.timestamp = {static_cast<int32_t>(i), 5};
    a.q_d = {v, -v};
    a.dq_d = {2 * v, 0};
    a.tau_d = {0, 3 * v};
    a.tcp_pose_d = {v, 0, 0, 1, 0, 0, 0};
    a.tcp_twist_d[5] = v;
    a.tcp_wrench_d[0] = -v;
  }
  const ActionsBatch b = ActionsOf(run);
  ASSERT_EQ(b.count, 2u);
  EXPECT_EQ(b.index, (std::vector<uint64_t>{40, 41}));
  EXPECT_EQ(b.received_at[1], std::chrono::steady_clock::time_point(2s));
  const GroupActionsColumns& c = b.actions.at(JointGroup::ARM_2);
  EXPECT_EQ(c.dof, 2u);
  EXPECT_EQ(c.timestamp, (std::vector<int32_t>{0, 5, 1, 5}));
  EXPECT_EQ(c.q_d, (std::vector<double>{1, -1, 2, -2}));
  EXPECT_EQ(c.dq_d, (std::vector<double>{2, 0, 4, 0}));
  EXPECT_EQ(c.tau_d, (std::vector<double>{0, 3, 0, 6}));
  EXPECT_EQ(c.tcp_pose_d[7], 2.0);
  EXPECT_EQ(c.tcp_twist_d[11], 2.0);
  EXPECT_EQ(c.tcp_wrench_d[6], -2.0);

  run[1].actions[JointGroup::ARM_2].tau_d.push_back(1.0);
  EXPECT_THROW(ActionsOf(run), std::logic_error);
}

}  // namespace
}  // namespace norvik::tarn_impl
