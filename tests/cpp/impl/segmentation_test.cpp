// Cutting the latest samples into per-group records.
#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <cmath>
#include <limits>

#include "impl/data_stream.h"
#include "impl/segment.h"
#include "middleware/shared_session.h"
#include "support/child_process.h"
#include "support/fake_robot.h"
#include "support/log_capture.h"
#include "support/samples.h"
#include "support/wait.h"

namespace norvik::tarn_impl {
namespace {

using tarn::JointGroup;
using test::WaitFor;
using zenoh_msgs::tarn_msg::AllBasicStreamData;
using zenoh_msgs::tarn_msg::AllExtraStreamData;

// The dual-arm layout: two 7-joint arms and a 1-joint axis in 15 joints.
const GroupNames kDualGroups{{JointGroup::ARMS, "ARMS"},
                             {JointGroup::ARM_1, "ARM_1"},
                             {JointGroup::ARM_2, "ARM_2"},
                             {JointGroup::EXT_AXIS, "EXT_AXIS"}};
const StartIds kDualStart{{JointGroup::ALL, 0},   {JointGroup::ARMS, 0},     {JointGroup::ARM_1, 0},
                          {JointGroup::ARM_2, 7}, {JointGroup::EXT_AXIS, 14}};
const DoFs kDualDoF{{JointGroup::ALL, 15},  {JointGroup::ARMS, 14},    {JointGroup::ARM_1, 7},
                    {JointGroup::ARM_2, 7}, {JointGroup::EXT_AXIS, 1}};

// Joint i of field k holds 100 k + i, so every cut shows where it came from.
AllBasicStreamData Indexed() {
  auto d = test::UniformBasic({2, 3, 4, 5}, 15, 0.0f, 41);
  d.stamp_nanosec = 999999999;
  auto& j = d.joint_data;
  int k = 0;
  for (auto* f : {&j.q, &j.theta, &j.dq, &j.dtheta, &j.tau, &j.tau_dot, &j.tau_ext, &j.tau_interact, &j.temperature}) {
    for (size_t i = 0; i < f->size(); ++i) (*f)[i] = static_cast<float>(100 * k + i);
    ++k;
  }
  for (size_t i = 0; i < 15; ++i) j.contact_positions[i] = {float(i), 0.5f, -1.0f};
  for (size_t n = 0; n < d.cartesian_data.size(); ++n) d.cartesian_data[n].flange_pose[0] = static_cast<float>(n);
  return d;
}

class SegmentationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    serial_ = test::UniqueSerial();
    robot_ = std::make_unique<test::FakeRobot>(serial_);
    stream_.Init(zenoh_mdw::RealtimeNode{zenoh_mdw::GetSharedZenohSession()}, serial_);
  }

  void Show(const AllBasicStreamData& d) {
    ASSERT_TRUE(test::PublishUntilSeen([&] { robot_->PublishBasic(d); }, [&] { return stream_.BasicReceived(); }));
  }
  void Show(const AllExtraStreamData& d) {
    ASSERT_TRUE(test::PublishUntilSeen([&] { robot_->PublishExtra(d); }, [&] { return stream_.ExtraReceived(); }));
  }

  std::string serial_;
  std::unique_ptr<test::FakeRobot> robot_;
  DataStream stream_;
};

TEST(Segment, BoundsAreCheckedWithoutOverflow) {
  const std::vector<float> full{0, 1, 2, 3};
  std::vector<double> out;
  EXPECT_TRUE(Segment(full, 1, 3, out));
  EXPECT_EQ(out, (std::vector<double>{1, 2, 3}));
  EXPECT_TRUE(Segment(full, 4, 0, out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(Segment(full, 2, 3, out));
  EXPECT_FALSE(Segment(full, 5, 0, out));
  EXPECT_FALSE(Segment(full, 0xFFFFFFFFu, 2, out));
  EXPECT_FALSE(Segment(full, 2, std::numeric_limits<uint64_t>::max(), out));
  EXPECT_FALSE(Segment(full, std::numeric_limits<uint64_t>::max(), 2, out));
}

TEST_F(SegmentationTest, EachGroupGetsItsSliceOfEveryJointField) {
  Show(Indexed());
  const auto states = stream_.GetRobotStates(kDualGroups, kDualStart, kDualDoF);
  ASSERT_EQ(states.size(), 4u);
  const auto& arm2 = states.at(JointGroup::ARM_2);
  ASSERT_EQ(arm2.q.size(), 7u);
  EXPECT_EQ(arm2.q.front(), 7.0);
  EXPECT_EQ(arm2.q.back(), 13.0);
  EXPECT_EQ(arm2.temperature.front(), 807.0);
  EXPECT_EQ(states.at(JointGroup::EXT_AXIS).tau_interact, std::vector<double>{714.0});
  EXPECT_EQ(states.at(JointGroup::ARMS).theta.size(), 14u);
  EXPECT_EQ(states.at(JointGroup::ARM_1).dtheta, (std::vector<double>{300, 301, 302, 303, 304, 305, 306}));
  for (const auto& [g, r] : states) EXPECT_EQ(r.timestamp, (std::pair<int32_t, int32_t>{41, 999999999}));
  // Cartesian entry n belongs to joint_groups[n]
  EXPECT_EQ(states.at(JointGroup::ARMS).flange_pose[0], 0.0);
  EXPECT_EQ(states.at(JointGroup::EXT_AXIS).flange_pose[0], 3.0);
}

TEST_F(SegmentationTest, GroupWithCartesianDataButNoMetadataKeepsOnlyCartesianFields) {
  Show(Indexed());
  const auto states = stream_.GetRobotStates({{JointGroup::ARM_1, "ARM_1"}}, kDualStart, kDualDoF);
  ASSERT_EQ(states.size(), 4u);
  EXPECT_EQ(states.at(JointGroup::ARM_1).q.size(), 7u);
  const auto& axis = states.at(JointGroup::EXT_AXIS);
  EXPECT_TRUE(axis.q.empty());
  EXPECT_EQ(axis.timestamp, (std::pair<int32_t, int32_t>{0, 0}));
  EXPECT_EQ(axis.flange_pose[0], 3.0);
}

TEST_F(SegmentationTest, WrenchesAreRotatedIntoTheWorldFrame) {
  auto d = Indexed();
  // A non-unit quaternion; the rotation uses it normalised.
  const Eigen::Quaterniond q(2.0, 0.4, -1.0, 0.7);
  auto& c = d.cartesian_data[1];
  c.tcp_pose = {0, 0, 0, float(q.w()), float(q.x()), float(q.y()), float(q.z())};
  c.tcp_wrench_local = {1, 2, 3, -4, 5, -6};
  c.raw_tcp_wrench_local = {0.5f, -0.25f, 8, 0, 1, 0};
  c.raw_tcp_wrench = {99, 99, 99, 99, 99, 99};
  Show(d);
  const auto r = stream_.GetRobotStates(kDualGroups, kDualStart, kDualDoF).at(JointGroup::ARM_1);
  const Eigen::Matrix3d R =
      Eigen::Quaterniond(double(c.tcp_pose[3]), double(c.tcp_pose[4]), double(c.tcp_pose[5]), double(c.tcp_pose[6]))
          .normalized()
          .toRotationMatrix();
  auto expect_rotated = [&R](const std::array<double, 6>& local, const std::array<double, 6>& world) {
    const Eigen::Vector3d f = R * Eigen::Vector3d(local[0], local[1], local[2]);
    const Eigen::Vector3d t = R * Eigen::Vector3d(local[3], local[4], local[5]);
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(world[i], f[i], 1e-12);
      EXPECT_NEAR(world[i + 3], t[i], 1e-12);
    }
  };
  expect_rotated(r.tcp_wrench_local, r.tcp_wrench);
  expect_rotated(r.raw_tcp_wrench_local, r.raw_tcp_wrench);
  EXPECT_NE(r.raw_tcp_wrench[0], 99.0);
}

TEST_F(SegmentationTest, IdentityAndZeroQuaternionsLeaveWrenchesAsTheyAre) {
  auto d = Indexed();
  d.cartesian_data[0].tcp_pose = {0, 0, 0, 1, 0, 0, 0};
  d.cartesian_data[1].tcp_pose = {0, 0, 0, 0, 0, 0, 0};
  for (auto* c : {&d.cartesian_data[0], &d.cartesian_data[1]}) c->tcp_wrench_local = {1, 2, 3, 4, 5, 6};
  Show(d);
  const auto states = stream_.GetRobotStates(kDualGroups, kDualStart, kDualDoF);
  for (JointGroup g : {JointGroup::ARMS, JointGroup::ARM_1}) {
    EXPECT_EQ(states.at(g).tcp_wrench, states.at(g).tcp_wrench_local);
  }
}

TEST_F(SegmentationTest, InconsistentSamplesGiveEmptyMapsAndAnErrorLine) {
  auto d = Indexed();
  d.cartesian_data.pop_back();
  Show(d);
  test::LogCapture log;
  EXPECT_TRUE(stream_.GetRobotStates(kDualGroups, kDualStart, kDualDoF).empty());
  EXPECT_EQ(log.At(spdlog::level::err),
            std::vector<std::string>{"[norvik::tarn::Client] The received data has mismatched sizes: cartesian_data "
                                     "size is 3, expected number of joint groups is 4"});
}

TEST_F(SegmentationTest, MissingMetadataOrShortSequencesGiveEmptyMaps) {
  Show(Indexed());
  test::LogCapture log;
  DoFs without_axis = kDualDoF;
  without_axis.erase(JointGroup::EXT_AXIS);
  EXPECT_TRUE(stream_.GetRobotStates(kDualGroups, kDualStart, without_axis).empty());
  DoFs too_many = kDualDoF;
  too_many[JointGroup::EXT_AXIS] = 2;
  EXPECT_TRUE(stream_.GetRobotStates(kDualGroups, kDualStart, too_many).empty());
  StartIds huge = kDualStart;
  huge[JointGroup::ARM_2] = 0xFFFFFFFFu;
  EXPECT_TRUE(stream_.GetRobotStates(kDualGroups, huge, kDualDoF).empty());
  EXPECT_EQ(log.At(spdlog::level::err),
            (std::vector<std::string>{
                "[norvik::tarn::Client] Missing start ID or DoF metadata for joint group [5]",
                "[norvik::tarn::Client] Failed to segment full-DoF joint data for joint group [5]",
                "[norvik::tarn::Client] Failed to segment full-DoF joint data for joint group [4]"}));
}

TEST_F(SegmentationTest, JointGroupsOfASample) {
  auto d = Indexed();
  d.joint_groups = {4, 3, 4};
  d.cartesian_data.resize(3);
  Show(d);
  EXPECT_EQ(stream_.GetJointGroups(true), (GroupNames{{JointGroup::ARM_1, "ARM_1"}, {JointGroup::ARM_2, "ARM_2"}}));
  d.joint_groups = {3, 7};
  d.cartesian_data.resize(2);
  Show(d);
  test::LogCapture log;
  EXPECT_TRUE(stream_.GetJointGroups(true).empty());
  EXPECT_EQ(log.At(spdlog::level::err),
            std::vector<std::string>{"[norvik::tarn::Client] The received basic data contains invalid joint group index [7]"});
  d.joint_groups = {1};
  d.cartesian_data.resize(1);
  Show(d);
  EXPECT_THROW(stream_.GetJointGroups(true), std::out_of_range);
  // the lock was released on the way out
  EXPECT_FALSE(stream_.IsEnablingDeviceOn());
}

TEST_F(SegmentationTest, ActionsAreCutFromTheExtraSampleAndStampedByTheBasicOne) {
  Show(Indexed());
  auto e = test::UniformExtra({2, 3, 4, 5}, 15, 0.0f);
  for (size_t i = 0; i < 15; ++i) e.q_d[i] = static_cast<float>(i);
  e.cartesian_data[2].tcp_twist_d[4] = 2.5f;
  Show(e);
  const auto actions = stream_.GetRobotActions(kDualGroups, kDualStart, kDualDoF);
  ASSERT_EQ(actions.size(), 4u);
  EXPECT_EQ(actions.at(JointGroup::ARM_2).q_d, (std::vector<double>{7, 8, 9, 10, 11, 12, 13}));
  EXPECT_EQ(actions.at(JointGroup::ARM_2).timestamp, (std::pair<int32_t, int32_t>{41, 999999999}));
  EXPECT_EQ(actions.at(JointGroup::ARM_2).tcp_twist_d[4], 2.5);

  e.cartesian_data.pop_back();
  Show(e);
  test::LogCapture log;
  EXPECT_TRUE(stream_.GetRobotActions(kDualGroups, kDualStart, kDualDoF).empty());
  e = test::UniformExtra({2, 3, 4, 5}, 10, 0.0f);
  Show(e);
  EXPECT_TRUE(stream_.GetRobotActions(kDualGroups, kDualStart, kDualDoF).empty());
  EXPECT_EQ(log.At(spdlog::level::err),
            (std::vector<std::string>{
                "[norvik::tarn::Client] The received desired data has mismatched sizes: cartesian_data size is 3, "
                "expected number of joint groups is 4",
                "[norvik::tarn::Client] Failed to segment desired joint data for joint group [2]"}));
}

TEST_F(SegmentationTest, MultiContactPointsAreCutPerGroup) {
  Show(Indexed());
  const auto positions = stream_.GetMultiContactPositions(kDualGroups, kDualStart, kDualDoF);
  ASSERT_EQ(positions.at(JointGroup::ARM_2).size(), 7u);
  EXPECT_EQ(positions.at(JointGroup::ARM_2)[0], Eigen::Vector3d(7, 0.5, -1));
  const auto forces = stream_.GetMultiContactForces(kDualGroups, kDualStart, kDualDoF);
  EXPECT_EQ(forces.at(JointGroup::EXT_AXIS).size(), 1u);
  test::LogCapture log;
  DoFs too_many = kDualDoF;
  too_many[JointGroup::ARM_2] = 9;
  EXPECT_TRUE(stream_.GetMultiContactForces(kDualGroups, kDualStart, too_many).empty());
  EXPECT_EQ(log.At(spdlog::level::err).size(), 1u);
}

}  // namespace
}  // namespace norvik::tarn_impl
