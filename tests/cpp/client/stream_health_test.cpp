// Stream health and the every-sample queues.
#include <gtest/gtest.h>

#include <chrono>

#include "middleware/shared_session.h"
#include "norvik/tarn.h"
#include "support/child_process.h"
#include "support/fake_robot.h"
#include "support/log_capture.h"
#include "support/samples.h"
#include "support/sim_robot.h"
#include "support/wait.h"

namespace norvik::tarn {
namespace {

using namespace std::chrono_literals;
using test::FakeRobot;

const std::vector<std::tuple<uint16_t, int32_t, float>> kSingleArm{{0, 0, 7}, {2, 0, 7}, {3, 0, 7}};

class StreamHealthTest : public ::testing::Test {
 protected:
  void SetUp() override {
    robot_ = std::make_unique<FakeRobot>(test::UniqueSerial());
    robot_->ActAsRobot(kSingleArm);
    // the client learns the robot's groups from the stream while it connects
    robot_->StartStreaming(test::UniformBasic({3}, 7, 0.0f, 0), test::UniformExtra({3}, 7, 0.0f));
    client_ = std::make_unique<Client>(robot_->serial(), false);
    robot_->StopStreaming();
    // let the samples still on their way land before a test counts
    uint64_t basic = ~0ull, extra = ~0ull;
    ASSERT_TRUE(test::WaitFor([&] {
      const uint64_t b = client_->stream_health(StreamKind::Basic).received;
      const uint64_t e = client_->stream_health(StreamKind::Extra).received;
      const bool settled = b == basic && e == extra;
      basic = b;
      extra = e;
      if (!settled) std::this_thread::sleep_for(50ms);
      return settled;
    }));
  }
  // Publishes basic samples stamped first..last, one per millisecond.
  void PublishStamped(int first, int last) {
    auto next = std::chrono::steady_clock::now();
    for (int i = first; i <= last; ++i) {
      robot_->PublishBasic(test::UniformBasic({3}, 7, static_cast<float>(i), i));
      robot_->PublishExtra(test::UniformExtra({3}, 7, static_cast<float>(i)));
      next += 1ms;
      std::this_thread::sleep_until(next);
    }
  }

  std::unique_ptr<FakeRobot> robot_;
  std::unique_ptr<Client> client_;
};

TEST(StreamHealthBeforeSamples, NeverReceived) {
  FakeRobot robot(test::UniqueSerial());
  robot.ActAsRobot(kSingleArm);
  Client client(robot.serial(), false);
  for (StreamKind kind : {StreamKind::Basic, StreamKind::Extra}) {
    const auto h = client.stream_health(kind);
    EXPECT_EQ(h.freshness(), Freshness::NeverReceived);
    EXPECT_EQ(h.received, 0u);
    EXPECT_FALSE(h.age().has_value());
    EXPECT_EQ(h.robot_stamp, (std::pair<int32_t, int32_t>{0, 0}));
  }
}

TEST_F(StreamHealthTest, LiveThenStale) {
  robot_->StartStreaming(test::UniformBasic({3}, 7, 1.0f, 42), test::UniformExtra({3}, 7, 2.0f));
  ASSERT_TRUE(test::WaitFor([&] {
    return client_->stream_health(StreamKind::Extra).robot_stamp == std::pair<int32_t, int32_t>{42, 42};
  }));
  const auto basic = client_->stream_health(StreamKind::Basic);
  EXPECT_EQ(basic.freshness(), Freshness::Live);
  EXPECT_EQ(basic.robot_stamp, (std::pair<int32_t, int32_t>{42, 42}));
  EXPECT_LT(*basic.age(), 100ms);
  robot_->StopStreaming();
  ASSERT_TRUE(test::WaitFor([&] { return client_->stream_health(StreamKind::Basic).freshness() == Freshness::Stale; }));
  const auto stale = client_->stream_health(StreamKind::Basic);
  EXPECT_GT(*stale.age(), 100ms);
  EXPECT_EQ(stale.freshness(1h), Freshness::Live) << "the limit is the caller's";
}

TEST_F(StreamHealthTest, SystemAndSafetyBoardStatesFollowTheLatestSample) {
  auto basic = test::UniformBasic({3}, 7, 1.0f, 1);
  basic.system_state = 13;
  basic.safety_board_state = -1;  // the signed end of the wire type
  robot_->StartStreaming(basic, test::UniformExtra({3}, 7, 2.0f));
  ASSERT_TRUE(test::WaitFor([&] { return client_->system_state() == 13; }));
  EXPECT_EQ(client_->safety_board_state(), -1);
  EXPECT_EQ(system_state_name(client_->system_state()), "FAULT_MANUAL");
  basic.system_state = 65535;
  basic.safety_board_state = 136;
  robot_->SetSamples(basic, test::UniformExtra({3}, 7, 2.0f));
  ASSERT_TRUE(test::WaitFor([&] { return client_->safety_board_state() == 136; }));
  EXPECT_EQ(client_->system_state(), 65535);
  EXPECT_FALSE(system_state_name(client_->system_state()).has_value());
  robot_->StopStreaming();
}

TEST_F(StreamHealthTest, MalformedSamplesAreCountedApart) {
  const auto before = client_->stream_health(StreamKind::Basic);
  robot_->PublishBasicBytes({1, 2, 3});
  ASSERT_TRUE(test::WaitFor([&] { return client_->stream_health(StreamKind::Basic).malformed == before.malformed + 1; }));
  EXPECT_EQ(client_->stream_health(StreamKind::Basic).received, before.received);
  EXPECT_EQ(client_->stream_health(StreamKind::Basic).last_received, before.last_received);
}

TEST_F(StreamHealthTest, QueuesHoldEverySampleInOrder) {
  // before the queues start a wait would end at once: refused rather than spun on
  try {
    client_->next_actions(1ms);
    ADD_FAILURE() << "next_actions waited without queues";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "[norvik::tarn::Client] next_actions: call start_sample_queues() first");
  }
  EXPECT_THROW(client_->next_states(1ms), std::logic_error);
  EXPECT_THROW(client_->start_sample_queues(0), std::invalid_argument);
  EXPECT_THROW(client_->next_states(1ms), std::logic_error) << "a refused start starts nothing";
  client_->start_sample_queues(1000);
  client_->start_sample_queues(5);  // a second call changes nothing
  const uint64_t seen = client_->stream_health(StreamKind::Basic).received;
  PublishStamped(1, 200);
  for (int i = 1; i <= 200; ++i) {
    const auto s = client_->next_states(2s);
    ASSERT_TRUE(s.has_value()) << "sample " << i << " lost";
    EXPECT_EQ(s->index, seen + i);
    EXPECT_EQ(s->states.at(JointGroup::ARM_1).timestamp.first, i);
    EXPECT_EQ(s->states.at(JointGroup::ARM_1).q, std::vector<double>(7, i));
    EXPECT_TRUE(s->estop_released);
    const auto a = client_->next_actions(2s);
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->actions.at(JointGroup::ARM_1).q_d, std::vector<double>(7, i));
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(client_->next_states(50ms).has_value());
  EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
  EXPECT_EQ(client_->stream_health(StreamKind::Basic).queue_dropped, 0u);
}

TEST_F(StreamHealthTest, AFullQueueDropsTheOldestAndCountsThem) {
  client_->start_sample_queues(5);
  const uint64_t seen = client_->stream_health(StreamKind::Basic).received;
  PublishStamped(1, 20);
  ASSERT_TRUE(test::WaitFor([&] { return client_->stream_health(StreamKind::Basic).received == seen + 20; }));
  EXPECT_EQ(client_->stream_health(StreamKind::Basic).queue_dropped, 15u);
  for (int i = 16; i <= 20; ++i) {
    EXPECT_EQ(client_->next_states(1s)->states.at(JointGroup::ARM_1).timestamp.first, i);
  }
}

TEST(StreamQueueAgainstTheSimulator, NoSampleLostAtOneKilohertz) {
  test::SimRobot sim(test::UniqueSerial(), {"--profile", "dual", "--stamp-from-counter"});
  Client client(sim.serial(), false);
  client.start_sample_queues();
  std::optional<StatesSample> first = client.next_states(2s);
  ASSERT_TRUE(first.has_value());
  int64_t last = first->states.at(JointGroup::ARM_1).timestamp.first * 1000000000LL +
                 first->states.at(JointGroup::ARM_1).timestamp.second;
  int gaps = 0, taken = 1;
  const auto until = std::chrono::steady_clock::now() + 3s;
  while (std::chrono::steady_clock::now() < until) {
    auto s = client.next_states(1s);
    ASSERT_TRUE(s.has_value());
    const auto stamp = s->states.at(JointGroup::ARM_1).timestamp;
    const int64_t ns = stamp.first * 1000000000LL + stamp.second;
    gaps += ns - last == 1000000 ? 0 : 1;
    last = ns;
    ++taken;
  }
  EXPECT_GT(taken, 500);  // the robot's own rate drops when the machine is busy
  EXPECT_EQ(gaps, 0);
  EXPECT_EQ(client.stream_health(StreamKind::Basic).queue_dropped, 0u);
}

}  // namespace
}  // namespace norvik::tarn
