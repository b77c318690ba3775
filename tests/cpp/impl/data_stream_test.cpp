// The stream store: subscriptions, whole samples under concurrency, getters.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <new>
#include <thread>

#include "impl/data_stream.h"
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

const GroupNames kArm{{JointGroup::ARM_1, "ARM_1"}};
const StartIds kArmStart{{JointGroup::ARM_1, 0}};
const DoFs kArmDoF{{JointGroup::ARM_1, 7}};

class DataStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    serial_ = test::UniqueSerial();
    robot_ = std::make_unique<test::FakeRobot>(serial_);
    stream_.Init(zenoh_mdw::RealtimeNode{zenoh_mdw::GetSharedZenohSession()}, serial_);
  }

  // Publishes until the store has taken one more basic sample.
  bool PublishBasicUntilSeen(const zenoh_msgs::tarn_msg::AllBasicStreamData& d) {
    return test::PublishUntilSeen([&] { robot_->PublishBasic(d); }, [&] { return stream_.BasicReceived(); });
  }

  std::string serial_;
  std::unique_ptr<test::FakeRobot> robot_;
  DataStream stream_;
};

TEST(DataStreamBeforeSamples, GettersAnswerWithZeros) {
  DataStream stream;
  EXPECT_FALSE(stream.IsEstopReleased());
  EXPECT_FALSE(stream.IsEnablingDeviceOn());
  EXPECT_EQ(stream.GetSystemState(), ozr::SystemState::UNKNOWN);
  EXPECT_EQ(static_cast<int>(stream.GetSafetyBoardState()), 0);
  EXPECT_EQ(stream.GetDigitalInput(), (std::array<bool, 20>{}));
  EXPECT_EQ(stream.GetDigitalOutput(), (std::array<bool, 20>{}));
  EXPECT_EQ(stream.GetSafetyInputs(), (std::array<bool, 8>{}));
  EXPECT_TRUE(stream.GetJointGroups(true).empty());
  // DoF 0 cuts empty lists out of empty sequences; a real DoF cannot be cut
  const auto empty = stream.GetRobotStates(kArm, kArmStart, DoFs{{JointGroup::ARM_1, 0}});
  ASSERT_EQ(empty.size(), 1u);
  EXPECT_TRUE(empty.at(JointGroup::ARM_1).q.empty());
  EXPECT_TRUE(stream.GetRobotStates(kArm, kArmStart, kArmDoF).empty());
}

TEST_F(DataStreamTest, StatusGettersReadTheLatestBasicSample) {
  auto d = test::UniformBasic({3}, 7, 2.0f, 5);
  d.system_state = 14;
  d.safety_board_state = 136;
  d.safety_inputs[7] = false;
  d.digital_inputs[19] = false;
  ASSERT_TRUE(PublishBasicUntilSeen(d));
  EXPECT_EQ(stream_.GetSystemState(), ozr::SystemState::FAULT_AUTO);
  EXPECT_EQ(stream_.GetSafetyBoardState(), ozr::SafetyBoardState::CAT_2_STOP);
  EXPECT_TRUE(stream_.IsEstopReleased());
  EXPECT_TRUE(stream_.IsEnablingDeviceOn());
  EXPECT_FALSE(stream_.GetSafetyInputs()[7]);
  EXPECT_TRUE(stream_.GetSafetyInputs()[0]);
  EXPECT_FALSE(stream_.GetDigitalInput()[19]);
  EXPECT_TRUE(stream_.GetDigitalOutput()[0]);
}

TEST_F(DataStreamTest, MalformedSamplesLeaveTheLastGoodOneWithoutALogLine) {
  ASSERT_TRUE(PublishBasicUntilSeen(test::UniformBasic({3}, 7, 1.0f, 1)));
  test::LogCapture log;
  auto bytes = zenoh_msgs::tarn_msg::SerializeMessage(test::UniformBasic({3}, 7, 2.0f, 2)).as_vector();
  const uint64_t malformed = stream_.BasicMalformed();
  bytes.push_back(0);  // trailing byte
  robot_->PublishBasicBytes(bytes);
  bytes.resize(bytes.size() - 10);  // cut
  robot_->PublishBasicBytes(bytes);
  robot_->PublishBasicBytes({});
  ASSERT_TRUE(WaitFor([&] { return stream_.BasicMalformed() == malformed + 3; }));
  const auto states = stream_.GetRobotStates(kArm, kArmStart, kArmDoF);
  EXPECT_EQ(states.at(JointGroup::ARM_1).timestamp.first, 1);
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(DataStreamTest, ReadersSeeOnlyWholeSamplesFromTwoPublishersOnOneKey) {
  test::FakeRobot rogue(serial_);
  test::LogCapture quiet;  // reads before the first sample log that they cannot cut it
  std::atomic<bool> stop{false};
  std::atomic<int> mixed{0}, reads{0};
  std::thread reader([&] {
    while (!stop) {
      const auto states = stream_.GetRobotStates(kArm, kArmStart, kArmDoF);
      if (states.empty()) continue;
      const auto& r = states.at(JointGroup::ARM_1);
      const double v = r.timestamp.first;
      bool whole = v == r.tcp_pose[0] && v == r.raw_ft_sensor[5];
      for (double q : r.q) whole = whole && q == v;
      for (double t : r.temperature) whole = whole && t == v;
      mixed += whole ? 0 : 1;
      ++reads;
    }
  });
  const auto a = test::UniformBasic({3}, 7, 1.0f, 1);
  auto b = test::UniformBasic({3, 4}, 14, 2.0f, 2);  // different sizes too
  std::thread other([&] {
    for (int i = 0; i < 2000; ++i) rogue.PublishBasic(b);
  });
  for (int i = 0; i < 2000; ++i) robot_->PublishBasic(a);
  other.join();
  ASSERT_TRUE(WaitFor([&] { return reads > 100; }));
  stop = true;
  reader.join();
  EXPECT_EQ(mixed.load(), 0);
  EXPECT_GT(stream_.BasicReceived(), 0u);
}

TEST_F(DataStreamTest, ExtraSamplesArePublishedIndependently) {
  ASSERT_TRUE(test::PublishUntilSeen([&] { robot_->PublishExtra(test::UniformExtra({3}, 7, 4.0f)); },
                                     [&] { return stream_.ExtraReceived(); }));
  EXPECT_EQ(stream_.GetJointGroups(false), (GroupNames{{JointGroup::ARM_1, "ARM_1"}}));
  EXPECT_TRUE(stream_.GetJointGroups(true).empty());
  const auto actions = stream_.GetRobotActions(kArm, kArmStart, kArmDoF);
  ASSERT_EQ(actions.size(), 1u);
  EXPECT_EQ(actions.at(JointGroup::ARM_1).q_d, std::vector<double>(7, 4.0));
}

TEST_F(DataStreamTest, DestroyingWhileSamplesArriveIsSafe) {
  // Each store lives in `room`; once it is destroyed the room is filled with
  // a pattern, which a handler still running for it would overwrite (or
  // crash on) while the samples keep coming.
  const auto d = test::UniformBasic({3}, 7, 1.0f, 1);  // outlives the publishing thread
  struct Publishing {
    std::atomic<bool> stop{false};
    std::thread thread;
    ~Publishing() {
      stop = true;
      if (thread.joinable()) thread.join();
    }
  } publishing;
  publishing.thread = std::thread([&] {
    while (!publishing.stop) robot_->PublishBasic(d);
  });
  constexpr unsigned char kPattern = 0xA5;
  alignas(DataStream) std::array<unsigned char, sizeof(DataStream)> room;
  for (int i = 0; i < 20; ++i) {
    bool received = false;
    std::map<JointGroup, tarn::RobotStates> states;
    {
      struct Tenant {
        DataStream* store;
        ~Tenant() { store->~DataStream(); }
      } tenant{new (room.data()) DataStream()};
      tenant.store->Init(zenoh_mdw::RealtimeNode{zenoh_mdw::GetSharedZenohSession()}, serial_);
      received = WaitFor([&] { return tenant.store->BasicReceived() > 0; });
      states = tenant.store->GetRobotStates(kArm, kArmStart, kArmDoF);
    }
    room.fill(kPattern);
    const uint64_t seen = stream_.BasicReceived();

    ASSERT_TRUE(received) << "cycle " << i;
    ASSERT_EQ(states.size(), 1u);
    EXPECT_EQ(states.at(JointGroup::ARM_1).q, std::vector<double>(7, 1.0));
    // more samples arrive (the fixture's store takes them), none of them here
    ASSERT_TRUE(WaitFor([&] { return stream_.BasicReceived() > seen + 10; })) << "cycle " << i;
    EXPECT_TRUE(std::all_of(room.begin(), room.end(), [](unsigned char b) { return b == kPattern; }))
        << "cycle " << i << ": a destroyed store was written to";
  }
}

}  // namespace
}  // namespace norvik::tarn_impl
