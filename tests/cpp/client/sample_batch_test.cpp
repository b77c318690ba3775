// take_states / take_actions against a scripted robot: the same samples as
// next_states / next_actions, in runs of one shape.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>

#include "norvik/tarn.h"
#include "support/fake_robot.h"
#include "support/samples.h"
#include "support/test_env.h"
#include "support/wait.h"

namespace norvik::tarn {
namespace {

using namespace std::chrono_literals;
using test::FakeRobot;

const std::vector<std::tuple<uint16_t, int32_t, float>> kSingleArm{{0, 0, 7}, {2, 0, 7}, {3, 0, 7}};

class SampleBatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    robot_ = std::make_unique<FakeRobot>(test::UniqueSerial());
    robot_->ActAsRobot(kSingleArm);
    client_ = Connect();
    ASSERT_TRUE(Settled(*client_));
  }

  // A client of the robot; it learns the robot's groups from the stream while it connects.
  std::unique_ptr<Client> Connect() const {
    robot_->StartStreaming(test::UniformBasic({3}, 7, 0.0f, 0), test::UniformExtra({3}, 7, 0.0f));
    auto client = std::make_unique<Client>(robot_->serial(), false);
    robot_->StopStreaming();
    return client;
  }

  // True once the samples still on their way have landed.
  static bool Settled(const Client& client) {
    uint64_t basic = ~0ull, extra = ~0ull;
    return test::WaitFor([&] {
      const uint64_t b = client.stream_health(StreamKind::Basic).received;
      const uint64_t e = client.stream_health(StreamKind::Extra).received;
      const bool settled = b == basic && e == extra;
      basic = b;
      extra = e;
      if (!settled) std::this_thread::sleep_for(50ms);
      return settled;
    });
  }

  // Publishes basic and extra samples valued first..last in `groups`, and
  // waits until `client` holds them all.
  void Publish(int first, int last, const std::vector<uint16_t>& groups = {3}, const Client* also = nullptr) {
    const uint64_t before = client_->stream_health(StreamKind::Extra).received;
    for (int i = first; i <= last; ++i) {
      auto basic = test::UniformBasic(groups, 7, static_cast<float>(i), i);
      basic.cartesian_data[0].tcp_pose = {1, 2, 3, 0.6f, 0.8f, 0, 0};  // world wrenches differ from local
      robot_->PublishBasic(basic);
      robot_->PublishExtra(test::UniformExtra(groups, 7, static_cast<float>(i)));
      std::this_thread::sleep_for(1ms);
    }
    const uint64_t want = before + static_cast<uint64_t>(last - first + 1);
    ASSERT_TRUE(test::WaitFor([&] { return client_->stream_health(StreamKind::Extra).received >= want; }));
    if (also) ASSERT_TRUE(Settled(*also));
  }

  std::unique_ptr<FakeRobot> robot_;
  std::unique_ptr<Client> client_;
};

// Row `row` of a count x `width` column.
std::vector<double> Row(const std::vector<double>& column, size_t row, size_t width) {
  return {column.begin() + static_cast<std::ptrdiff_t>(row * width),
          column.begin() + static_cast<std::ptrdiff_t>((row + 1) * width)};
}
template <size_t N>
std::vector<double> Values(const std::array<double, N>& a) {
  return {a.begin(), a.end()};
}

TEST_F(SampleBatchTest, RefusedBeforeTheQueuesAndForAnEmptyBatch) {
  try {
    client_->take_states(10, 1ms);
    ADD_FAILURE() << "take_states waited without queues";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "[norvik::tarn::Client] take_states: call start_sample_queues() first");
  }
  try {
    client_->take_actions(10, 1ms);
    ADD_FAILURE() << "take_actions waited without queues";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "[norvik::tarn::Client] take_actions: call start_sample_queues() first");
  }
  client_->start_sample_queues(100);
  try {
    client_->take_states(0, 1ms);
    ADD_FAILURE() << "a batch of at most 0 samples was taken";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "[norvik::tarn::Client] take_states: max_count must be at least 1");
  }
  EXPECT_THROW(client_->take_actions(0, 1ms), std::invalid_argument);
}

TEST_F(SampleBatchTest, TheSameSamplesAsOneAtATime) {
  // a twin client gets the same samples: one takes them in a batch, the other one by one
  auto twin = Connect();
  ASSERT_TRUE(Settled(*twin));
  ASSERT_TRUE(Settled(*client_));
  client_->start_sample_queues(100);
  twin->start_sample_queues(100);
  const uint64_t seen = client_->stream_health(StreamKind::Basic).received;
  Publish(1, 20, {3}, twin.get());

  const StatesBatch b = client_->take_states(1000, 2s);
  ASSERT_EQ(b.count, 20u);
  ASSERT_EQ(b.states.size(), 1u);
  const GroupStatesColumns& c = b.states.at(JointGroup::ARM_1);
  ASSERT_EQ(c.dof, 7u);
  for (size_t i = 0; i < b.count; ++i) {
    EXPECT_EQ(b.index[i], seen + i + 1);
    if (i > 0) EXPECT_GE(b.received_at[i], b.received_at[i - 1]);
    const auto one = twin->next_states(2s);
    ASSERT_TRUE(one.has_value());
    const RobotStates& r = one->states.at(JointGroup::ARM_1);
    EXPECT_EQ(c.timestamp[2 * i], r.timestamp.first);
    EXPECT_EQ(c.timestamp[2 * i + 1], r.timestamp.second);
    EXPECT_EQ(Row(c.q, i, 7), r.q);
    EXPECT_EQ(Row(c.tau_interact, i, 7), r.tau_interact);
    EXPECT_EQ(Row(c.temperature, i, 7), r.temperature);
    EXPECT_EQ(Row(c.tcp_pose, i, 7), Values(r.tcp_pose));
    EXPECT_EQ(Row(c.tcp_wrench, i, 6), Values(r.tcp_wrench));
    EXPECT_EQ(Row(c.raw_tcp_wrench, i, 6), Values(r.raw_tcp_wrench));
    EXPECT_EQ(Row(c.raw_ft_sensor, i, 6), Values(r.raw_ft_sensor));
    EXPECT_EQ(b.system_state[i], one->system_state);
    EXPECT_EQ(b.estop_released[i], one->estop_released ? 1 : 0);
    EXPECT_EQ(b.enabling_device_on[i], one->enabling_device_on ? 1 : 0);
    EXPECT_EQ(b.digital_outputs[20 * i + 19], one->digital_outputs[19] ? 1 : 0);
  }
  EXPECT_NE(c.tcp_wrench, c.tcp_wrench_local) << "world wrenches were not rotated";

  const ActionsBatch a = client_->take_actions(1000, 2s);
  ASSERT_EQ(a.count, 20u);
  const GroupActionsColumns& ac = a.actions.at(JointGroup::ARM_1);
  for (size_t i = 0; i < a.count; ++i) {
    const auto one = twin->next_actions(2s);
    ASSERT_TRUE(one.has_value());
    const RobotActions& r = one->actions.at(JointGroup::ARM_1);
    EXPECT_EQ(Row(ac.q_d, i, 7), r.q_d);
    EXPECT_EQ(Row(ac.tau_d, i, 7), r.tau_d);
    EXPECT_EQ(Row(ac.tcp_wrench_d, i, 6), Values(r.tcp_wrench_d));
  }
  EXPECT_EQ(client_->stream_health(StreamKind::Basic).queue_dropped, 0u);
}

TEST_F(SampleBatchTest, AtMostMaxCountThenWhatIsQueuedThenNothing) {
  client_->start_sample_queues(100);
  Publish(1, 10);
  const auto one = client_->next_states(1s);  // the two ways share one queue
  ASSERT_TRUE(one.has_value());
  const StatesBatch four = client_->take_states(4, 1s);
  ASSERT_EQ(four.count, 4u);
  EXPECT_EQ(four.index.front(), one->index + 1);
  EXPECT_EQ(four.states.at(JointGroup::ARM_1).q.size(), 4u * 7u);
  EXPECT_EQ(four.states.at(JointGroup::ARM_1).timestamp[0], 2);

  const auto start = std::chrono::steady_clock::now();
  const StatesBatch rest = client_->take_states(100, 5s);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "waited for more than what was queued";
  ASSERT_EQ(rest.count, 5u);
  EXPECT_EQ(rest.index.front(), four.index.back() + 1);
  EXPECT_EQ(rest.states.at(JointGroup::ARM_1).timestamp[2 * 4], 10);

  const auto empty_from = std::chrono::steady_clock::now();
  const StatesBatch none = client_->take_states(100, 50ms);
  const auto waited = std::chrono::steady_clock::now() - empty_from;
  EXPECT_EQ(none.count, 0u);
  EXPECT_TRUE(none.index.empty() && none.states.empty() && none.digital_inputs.empty());
  EXPECT_GE(waited, 50ms);
  EXPECT_LT(waited, 2s);
  EXPECT_EQ(client_->take_actions(10, 1s).count, 10u);
  EXPECT_EQ(client_->take_actions(10, 0ns).count, 0u);
}

TEST_F(SampleBatchTest, AChangeOfGroupsEndsABatch) {
  client_->start_sample_queues(100);
  Publish(1, 3, {3});
  Publish(4, 5, {3, 5});  // the axis comes with its Cartesian data only
  Publish(6, 7, {3});
  const StatesBatch first = client_->take_states(100, 1s);
  ASSERT_EQ(first.count, 3u);
  EXPECT_EQ(first.states.size(), 1u);
  const StatesBatch second = client_->take_states(100, 1s);
  ASSERT_EQ(second.count, 2u);
  ASSERT_EQ(second.states.size(), 2u);
  EXPECT_EQ(second.states.at(JointGroup::EXT_AXIS).dof, 0u);
  EXPECT_EQ(second.states.at(JointGroup::EXT_AXIS).tcp_pose.size(), 2u * 7u);
  EXPECT_EQ(second.index.front(), first.index.back() + 1);
  EXPECT_EQ(client_->take_states(100, 1s).count, 2u);

  const ActionsBatch a = client_->take_actions(100, 1s);
  EXPECT_EQ(a.count, 3u);
  EXPECT_EQ(client_->take_actions(100, 1s).actions.size(), 2u);
}

TEST_F(SampleBatchTest, AnInconsistentSampleIsABatchOfItsOwn) {
  client_->start_sample_queues(100);
  Publish(1, 2);
  auto broken = test::UniformBasic({3}, 7, 3.0f, 3);
  broken.joint_data.q.resize(3);  // shorter than the arm: cut into nothing
  robot_->PublishBasic(broken);
  const uint64_t seen = client_->stream_health(StreamKind::Basic).received;
  ASSERT_TRUE(test::WaitFor([&] { return client_->stream_health(StreamKind::Basic).received > seen; }));
  Publish(4, 4);
  EXPECT_EQ(client_->take_states(100, 1s).count, 2u);
  const StatesBatch alone = client_->take_states(100, 1s);
  EXPECT_EQ(alone.count, 1u);
  EXPECT_TRUE(alone.states.empty());
  EXPECT_EQ(alone.system_state.size(), 1u) << "what does not need the cutting is still there";
  EXPECT_EQ(client_->take_states(100, 1s).count, 1u);
}

}  // namespace
}  // namespace norvik::tarn
