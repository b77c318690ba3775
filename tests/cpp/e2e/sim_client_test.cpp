// The public client end to end against the simulated robot in its own process.
#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "middleware/shared_session.h"
#include "middleware/subscriber.h"
#include "norvik/tarn.h"
#include "support/log_capture.h"
#include "support/sim_robot.h"
#include "support/wait.h"

namespace norvik::tarn {
namespace {

using test::SimRobot;
using zenoh_msgs::tarn_msg::AllBasicStreamData;

// The latest raw basic samples, by stamp, taken beside the client.
class RawBasic {
 public:
  explicit RawBasic(const std::string& serial)
      : subscriber_(zenoh_mdw::GetSharedZenohSession(), [this] { Keep(); }, buffer_,
                    "norvik/robot/" + serial + "/basic_stream_data") {}

  bool Find(std::pair<int32_t, int32_t> stamp, AllBasicStreamData& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& s : recent_) {
      if (s.stamp_sec == stamp.first && static_cast<int32_t>(s.stamp_nanosec) == stamp.second) {
        out = s;
        return true;
      }
    }
    return false;
  }

 private:
  void Keep() {
    std::lock_guard<std::mutex> lock(mutex_);
    recent_.push_back(buffer_);
    if (recent_.size() > 500) recent_.pop_front();
  }

  std::mutex mutex_;
  std::deque<AllBasicStreamData> recent_;
  AllBasicStreamData buffer_;
  zenoh_mdw::Subscriber<AllBasicStreamData> subscriber_;
};

std::map<JointGroup, size_t> Sizes(const std::map<JointGroup, RobotStates>& states) {
  std::map<JointGroup, size_t> out;
  for (const auto& [g, s] : states) out[g] = s.q.size();
  return out;
}

TEST(SimProfiles, DualArmLayout) {
  SimRobot sim(test::UniqueSerial(), {"--profile", "dual"});
  test::LogCapture log;
  Client client(sim.serial(), true);
  for (const char* line : {"[norvik::tarn::Client] Joint group: ALL, DoF: 15", "[norvik::tarn::Client] Joint group: ARMS, DoF: 14",
                           "[norvik::tarn::Client] Joint group: ARM_1, DoF: 7", "[norvik::tarn::Client] Joint group: ARM_2, DoF: 7",
                           "[norvik::tarn::Client] Joint group: EXT_AXIS, DoF: 1"}) {
    EXPECT_TRUE(log.Contains(line)) << line;
  }
  EXPECT_EQ(client.groups(), (std::map<JointGroup, std::string>{{JointGroup::ARMS, "ARMS"},
                                                                {JointGroup::ARM_1, "ARM_1"},
                                                                {JointGroup::ARM_2, "ARM_2"},
                                                                {JointGroup::EXT_AXIS, "EXT_AXIS"}}));
  EXPECT_EQ(Sizes(client.states()), (std::map<JointGroup, size_t>{
                                        {JointGroup::ARMS, 14}, {JointGroup::ARM_1, 7}, {JointGroup::ARM_2, 7}, {JointGroup::EXT_AXIS, 1}}));
  EXPECT_EQ(client.actions().at(JointGroup::ARM_2).dq_d.size(), 7u);
}

TEST(SimProfiles, SingleArmLayout) {
  SimRobot sim(test::UniqueSerial(), {"--profile", "single"});
  test::LogCapture log;
  Client client(sim.serial(), true);
  EXPECT_TRUE(log.Contains("[norvik::tarn::Client] Joint group: ALL, DoF: 7"));
  EXPECT_TRUE(log.Contains("[norvik::tarn::Client] Joint group: ARM_2, DoF: 0"));
  EXPECT_EQ(client.groups(), (std::map<JointGroup, std::string>{{JointGroup::ARM_1, "ARM_1"}}));
  EXPECT_EQ(Sizes(client.states()), (std::map<JointGroup, size_t>{{JointGroup::ARM_1, 7}}));
}

class SimClientTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sim_ = std::make_unique<SimRobot>(test::UniqueSerial(), std::vector<std::string>{"--profile", "dual"});
    client_ = std::make_unique<Client>(sim_->serial(), false);
  }
  static void TearDownTestSuite() {
    client_.reset();
    sim_.reset();
  }
  void TearDown() override {
    sim_->Control(R"({"reset": true})");
    // wait until the faults' last samples have been replaced
    ASSERT_TRUE(test::WaitFor([] {
      try {
        return client_->groups().size() == 4 && client_->states().size() == 4 && client_->actions().size() == 4;
      } catch (const std::out_of_range&) {  // still the unnamed group value
        return false;
      }
    }));
  }

  static inline std::unique_ptr<SimRobot> sim_;
  static inline std::unique_ptr<Client> client_;
};

TEST_F(SimClientTest, StatesAreSegmentsOfTheRawSample) {
  RawBasic raw(sim_->serial());
  AllBasicStreamData sample;
  std::map<JointGroup, RobotStates> states;
  ASSERT_TRUE(test::WaitFor([&] {
    states = client_->states();
    return !states.empty() && raw.Find(states.begin()->second.timestamp, sample);
  }));
  const std::map<JointGroup, std::pair<size_t, size_t>> layout{
      {JointGroup::ARMS, {0, 14}}, {JointGroup::ARM_1, {0, 7}}, {JointGroup::ARM_2, {7, 7}}, {JointGroup::EXT_AXIS, {14, 1}}};
  for (const auto& [g, cut] : layout) {
    const auto& s = states.at(g);
    for (size_t i = 0; i < cut.second; ++i) {
      EXPECT_EQ(s.q[i], sample.joint_data.q[cut.first + i]);
      EXPECT_EQ(s.tau_ext[i], sample.joint_data.tau_ext[cut.first + i]);
      EXPECT_EQ(s.temperature[i], sample.joint_data.temperature[cut.first + i]);
    }
    EXPECT_EQ(s.timestamp, states.begin()->second.timestamp);
  }
  // Cartesian entry n belongs to joint_groups[n]; wrenches are rotated by the TCP orientation
  for (size_t n = 0; n < sample.joint_groups.size(); ++n) {
    const auto& c = sample.cartesian_data[n];
    const auto& s = states.at(static_cast<JointGroup>(sample.joint_groups[n]));
    EXPECT_EQ(s.tcp_pose[3], c.tcp_pose[3]);
    const Eigen::Matrix3d R =
        Eigen::Quaterniond(c.tcp_pose[3], c.tcp_pose[4], c.tcp_pose[5], c.tcp_pose[6]).normalized().toRotationMatrix();
    const Eigen::Vector3d f = R * Eigen::Vector3d(c.tcp_wrench_local[0], c.tcp_wrench_local[1], c.tcp_wrench_local[2]);
    const Eigen::Vector3d raw_t =
        R * Eigen::Vector3d(c.raw_tcp_wrench_local[3], c.raw_tcp_wrench_local[4], c.raw_tcp_wrench_local[5]);
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(s.tcp_wrench[i], f[i], 1e-9);
      EXPECT_NEAR(s.raw_tcp_wrench[3 + i], raw_t[i], 1e-9);
    }
  }
}

TEST_F(SimClientTest, ActionsCarryTheBasicStampAndEveryGroup) {
  const auto actions = client_->actions();
  ASSERT_EQ(actions.size(), 4u);
  EXPECT_EQ(actions.at(JointGroup::ARMS).q_d.size(), 14u);
  EXPECT_NE(actions.at(JointGroup::ARM_1).timestamp, (std::pair<int32_t, int32_t>{0, 0}));
  const double w = actions.at(JointGroup::ARM_1).tcp_pose_d[3], x = actions.at(JointGroup::ARM_1).tcp_pose_d[4];
  EXPECT_GT(w * w + x * x, 0.0);
}

TEST_F(SimClientTest, InconsistentSamplesGiveEmptyResults) {
  test::LogCapture log;
  sim_->Control(R"({"inconsistent": {"basic": true}})");
  ASSERT_TRUE(test::WaitFor([&] { return client_->states().empty(); }));
  EXPECT_FALSE(client_->actions().empty());
  sim_->Control(R"({"inconsistent": {"basic": false, "extra": true}})");
  ASSERT_TRUE(test::WaitFor([&] { return client_->actions().empty() && !client_->states().empty(); }));
  bool basic_line = false, extra_line = false;
  for (const auto& line : log.At(spdlog::level::err)) {
    basic_line |= line.rfind("[norvik::tarn::Client] The received data has mismatched sizes: cartesian_data size is 5", 0) == 0;
    extra_line |= line.rfind("[norvik::tarn::Client] The received desired data has mismatched sizes", 0) == 0;
  }
  EXPECT_TRUE(basic_line && extra_line);
}

TEST_F(SimClientTest, InvalidJointGroupsInTheStream) {
  test::LogCapture log;
  sim_->Control(R"({"invalid_group": {"basic": 7}})");
  ASSERT_TRUE(test::WaitFor([&] { return client_->groups().empty(); }));
  EXPECT_TRUE(log.Contains("[norvik::tarn::Client] The received basic data contains invalid joint group index [7]"));
  sim_->Control(R"({"invalid_group": {"basic": 1}})");
  ASSERT_TRUE(test::WaitFor([&] {
    try {
      client_->groups();
      return false;
    } catch (const std::out_of_range&) {
      return true;
    }
  }));
}

TEST_F(SimClientTest, MalformedSamplesAreDroppedSilently) {
  sim_->Control(R"({"malformed": {"both": "prefix:0.5"}})");
  test::LogCapture log;
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(client_->states().size(), 4u);
    ASSERT_EQ(client_->actions().size(), 4u);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(SimClientTest, StatusFollowsTheRobot) {
  sim_->Control(R"({"estop_released": false, "enabling_device_on": true})");
  ASSERT_TRUE(test::WaitFor([&] { return !client_->estop_released() && client_->enabling_device_on(); }));
  sim_->Control(R"({"estop_released": true, "enabling_device_on": false})");
  ASSERT_TRUE(test::WaitFor([&] { return client_->estop_released() && !client_->enabling_device_on(); }));
  // the simulated walking encoder moves the inputs
  const auto first = client_->digital_inputs();
  EXPECT_TRUE(test::WaitFor([&] { return client_->digital_inputs() != first; }));
}

TEST_F(SimClientTest, RequestsAnswerConsistentlyWithTheStreams) {
  const auto primitives = client_->primitive_states();
  ASSERT_EQ(primitives.size(), 4u);
  for (const auto& [g, p] : primitives) EXPECT_FALSE(p.pt_name.empty());
  const auto plan = client_->plan_info();
  EXPECT_FALSE(plan.assigned_plan_name.empty());
  EXPECT_GT(plan.velocity_scale, 0.0);
  const auto scores = client_->configuration_score();
  ASSERT_EQ(scores.size(), 4u);
  for (const auto& [g, s] : scores) {
    EXPECT_GE(s.first, 0.0);
    EXPECT_LE(s.first, 100.0);
    EXPECT_GE(s.second, 0.0);
    EXPECT_LE(s.second, 100.0);
  }
  EXPECT_TRUE(client_->connected());
}

TEST_F(SimClientTest, CorruptedPrimitiveStateListsAreRetried) {
  sim_->Control(R"({"primitive_corrupt": 2})");
  int before = sim_->Requests();
  EXPECT_EQ(client_->primitive_states().size(), 4u);
  EXPECT_EQ(sim_->Requests() - before, 3);
  sim_->Control(R"({"primitive_corrupt": 6})");
  before = sim_->Requests();
  try {
    client_->primitive_states();
    ADD_FAILURE();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(),
                 "[norvik::tarn::Client::primitive_states] Still received corrupted data after several attempts");
  }
  EXPECT_EQ(sim_->Requests() - before, 6);
}

TEST_F(SimClientTest, MalformedPrimitiveStatePlanAndManipulabilityReplies) {
  auto expect_error = [](auto&& call, const std::string& text) {
    try {
      call();
      ADD_FAILURE() << "no error for " << text;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(e.what(), text);
    }
  };
  sim_->Control(R"({"primitive": "missing-marker"})");
  expect_error([] { client_->primitive_states(); },
               "[norvik::tarn::Client::primitive_states] Malformed primitive states: missing jointGroup marker");
  sim_->Control(R"({"primitive": "duplicate-marker"})");
  expect_error([] { client_->primitive_states(); },
               "[norvik::tarn::Client::primitive_states] Duplicate primitive states for a joint group");
  sim_->Control(R"({"primitive": "unknown-group"})");
  expect_error([] { client_->primitive_states(); },
               "[norvik::tarn::Client::primitive_states] Received primitive states for unknown joint group");
  for (const char* fault : {"short", "long", "bad-velocity"}) {
    sim_->Control(std::string(R"({"plan": ")") + fault + "\"}");
    expect_error([] { client_->plan_info(); }, "[norvik::tarn::Client] plan_info: No reply from the robot");
  }
  sim_->Control(R"({"manipulability": "short"})");
  expect_error([] { client_->configuration_score(); },
               "[norvik::tarn::Model::configuration_score] No reply from the robot");
}

TEST_F(SimClientTest, FailedRequestsThrowTheirErrors) {
  sim_->Control(R"({"rpc": {"4": "error", "9": "drop", "3": "wrong-id"}})");
  EXPECT_THROW(client_->plan_info(), std::runtime_error);
  EXPECT_THROW(client_->configuration_score(), std::runtime_error);
  EXPECT_THROW(client_->primitive_states(), std::runtime_error);
  sim_->Control(R"({"rpc": {"0": "fail"}})");
  EXPECT_FALSE(client_->connected());
}

TEST_F(SimClientTest, ReadersOnSeveralThreadsWhileSamplesArrive) {
  std::atomic<bool> stop{false};
  std::atomic<long> reads{0}, bad{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&, t] {
      while (!stop) {
        const auto states = client_->states();
        const auto actions = client_->actions();
        bad += states.size() == 4 && actions.size() == 4 ? 0 : 1;
        client_->groups();
        client_->estop_released();
        client_->enabling_device_on();
        client_->digital_inputs();
        client_->digital_outputs();
        if (t == 0) {
          client_->plan_info();
          client_->connected();
        }
        ++reads;
      }
    });
  }
  ASSERT_TRUE(test::WaitFor([&] { return reads > 2000; }, std::chrono::seconds(60)));
  stop = true;
  for (auto& r : readers) r.join();
  EXPECT_EQ(bad.load(), 0);
}

TEST(SimLifecycle, ClientsComeAndGoWhileTheRobotStreams) {
  SimRobot sim(test::UniqueSerial(), {"--profile", "single"});
  test::LogCapture log;
  for (int i = 0; i < 100; ++i) {
    Client client(sim.serial(), false);
    ASSERT_TRUE(test::WaitFor([&] { return client.states().size() == 1; })) << "cycle " << i;
    ASSERT_EQ(client.states().at(JointGroup::ARM_1).q.size(), 7u) << "cycle " << i;
  }
  EXPECT_EQ(log.At(spdlog::level::info).size(), 200u);
  EXPECT_EQ(log.At(spdlog::level::info).back(), ">>>>> Norvik TARN exited <<<<<");
}

TEST(SimVersion, IncompatibleServersAreRejected) {
  for (const char* version : {"v2.10", "v2.1 "}) {
    SimRobot sim(test::UniqueSerial(), {"--version-reply", version, "--no-streams"});
    try {
      Client client(sim.serial(), false);
      ADD_FAILURE() << version;
    } catch (const std::logic_error& e) {
      EXPECT_EQ(e.what(), "[norvik::tarn::Client] Version of this client is incompatible with robot [" + sim.serial() + "]");
    }
  }
}

}  // namespace
}  // namespace norvik::tarn
