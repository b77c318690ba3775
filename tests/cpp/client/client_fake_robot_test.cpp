// The public client against a scripted robot: the connection sequence, its
// log lines and failures, and the request-backed accessors.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "impl/data_rpc.h"
#include "middleware/shared_session.h"
#include "norvik/tarn.h"
#include "support/child_process.h"
#include "support/fake_robot.h"
#include "support/log_capture.h"
#include "support/samples.h"
#include "support/wait.h"

namespace norvik::tarn {
namespace {

using test::FakeRobot;
using test::StringReply;
using zenoh_msgs::tarn_msg::RPCReply;
using Clock = std::chrono::steady_clock;

const std::vector<std::tuple<uint16_t, int32_t, float>> kSingleArm{{0, 0, 7}, {2, 0, 7}, {3, 0, 7}};

std::string NewSerial() { return test::UniqueSerial(); }

template <typename E, typename F>
void ExpectThrowWith(F&& f, const std::string& text) {
  try {
    f();
    ADD_FAILURE() << "no exception";
  } catch (const E& e) {
    EXPECT_EQ(e.what(), text);
  }
}

class ClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    robot_ = std::make_unique<FakeRobot>(NewSerial());
    robot_->ActAsRobot(kSingleArm);
    robot_->StartStreaming(test::UniformBasic({3}, 7, 1.0f, 3), test::UniformExtra({3}, 7, 2.0f));
    // let this process's session find the robot before timing anything
    tarn_impl::DataRpc rpc;
    rpc.Init(zenoh_mdw::ReliableNode{zenoh_mdw::GetSharedZenohSession()}, robot_->serial());
    ASSERT_TRUE(test::WaitFor([&] { return rpc.IsConnected(); }));
  }

  std::unique_ptr<FakeRobot> robot_;
};

TEST_F(ClientTest, VerboseConnectionLogsTheWholeSequence) {
  test::LogCapture log;
  {
    Client client(robot_->serial(), true);
    EXPECT_EQ(log.At(spdlog::level::info),
              (std::vector<std::string>{"| | | | | | | | | |  Norvik TARN v2.1  | | | | | | | | | |",
                                        "[norvik::tarn::Client] Searching for [" + robot_->serial() + "] ...",
                                        "[norvik::tarn::Client] Connected to the robot",
                                        "[norvik::tarn::Client] Joint group: ALL, DoF: 7",
                                        "[norvik::tarn::Client] Joint group: ARMS, DoF: 7",
                                        "[norvik::tarn::Client] Joint group: ARM_1, DoF: 7",
                                        "[norvik::tarn::Client] Initialization complete"}));
    const auto debug = log.At(spdlog::level::debug);
    const std::string prefix = "norvik/robot/" + robot_->serial();
    for (const std::string& line :
         {std::string("[norvik::tarn::Client] Starting communication services ..."),
          "[norvik::tarn::Client] Creating subscriber on topic: " + prefix + "/basic_stream_data",
          "[norvik::tarn::Client] Creating subscriber on topic: " + prefix + "/extra_stream_data",
          "[norvik::tarn::Client] Creating RPC client on topic: " + prefix + "/rpc",
          std::string("[norvik::tarn::Client] Communication services started"),
          std::string("Received TARN server version = v2.1")}) {
      EXPECT_NE(std::find(debug.begin(), debug.end(), line), debug.end()) << line;
    }
    // the request asked for every queryable group in ascending order
    EXPECT_EQ(robot_->LastRequest(10).joint_groups, (std::vector<uint16_t>{0, 2, 3, 4, 5}));
  }
  EXPECT_EQ(log.At(spdlog::level::info).back(), ">>>>> Norvik TARN exited <<<<<");
}

TEST_F(ClientTest, QuietConnectionLogsOnlyTheConnection) {
  test::LogCapture log;
  Client client(robot_->serial(), false);
  EXPECT_EQ(log.At(spdlog::level::info), std::vector<std::string>{"[norvik::tarn::Client] Connected to the robot"});
}

TEST_F(ClientTest, IncompatibleServerVersions) {
  for (const char* version : {"v2.10", "v2.1 ", "v2.0", ""}) {
    robot_->ActAsRobot(kSingleArm, version);
    ExpectThrowWith<std::logic_error>([&] { Client c(robot_->serial(), false); },
                                      "[norvik::tarn::Client] Version of this client is incompatible with robot [" +
                                          robot_->serial() + "]");
  }
}

TEST_F(ClientTest, MissingVersionOrLayoutReplies) {
  robot_->Answer(1, StringReply(1, {}));
  ExpectThrowWith<std::runtime_error>([&] { Client c(robot_->serial(), false); },
                                      "[norvik::tarn::Client] Failed to sync TARN server version");
  robot_->ActAsRobot(kSingleArm);
  robot_->Answer(10, RPCReply{10, true, {3}, {0, 1}, {}, {7}, {}});
  ExpectThrowWith<std::runtime_error>([&] { Client c(robot_->serial(), false); },
                                      "[norvik::tarn::Client] Failed to obtain robot start ID and DoF information");
}

TEST_F(ClientTest, SerialNumberIsNormalisedBeforeAnyKeyIsBuilt) {
  const std::string spaced = robot_->serial().substr(0, 3) + " " + robot_->serial().substr(3);
  auto other = std::make_unique<FakeRobot>(robot_->serial().substr(0, 3) + "-" + robot_->serial().substr(3));
  other->ActAsRobot(kSingleArm);
  test::LogCapture log;
  Client client(spaced, true);
  EXPECT_TRUE(log.Contains("[norvik::tarn::Client] Searching for [" + other->serial() + "] ..."));
  EXPECT_GT(other->Requests(1), 0);
  ExpectThrowWith<std::invalid_argument>([] { Client c("ab_c-1", false); },
                                         "[norvik::tarn::Client] Format of the provided robot serial number is invalid");
}

TEST_F(ClientTest, NoRobotFailsAfterThreeProbes) {
  FakeRobot silent(NewSerial());  // reachable, but never answers
  silent.Hold(0);
  const auto start = Clock::now();
  ExpectThrowWith<std::runtime_error>(
      [&] { Client c(silent.serial(), false); },
      "[norvik::tarn::Client] Failed to connect to [" + silent.serial() +
          "]. Please check that: a) Ethernet connection with the target robot is established; b) The specified serial "
          "number of the target robot is correct; c) No firewall is active or this TARN program is whitelisted; d) "
          "TARN version is compatible with the target robot's software version");
  EXPECT_EQ(silent.Requests(0), 3);
  const double took = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_GE(took, 3.0);
  // a fourth probe would take it to 4 s; the rest is room for a busy machine
  EXPECT_LT(took, 3.6);

  // with nobody there each probe ends at once, yet still takes its second
  const std::string nobody = NewSerial();
  const auto nobody_start = Clock::now();
  ExpectThrowWith<std::runtime_error>([&] { Client c(nobody, false); },
                                      "[norvik::tarn::Client] Failed to connect to [" + nobody +
                                          "]. Please check that: a) Ethernet connection with the target robot is "
                                          "established; b) The specified serial number of the target robot is "
                                          "correct; c) No firewall is active or this TARN program is whitelisted; d) "
                                          "TARN version is compatible with the target robot's software version");
  const double nobody_took = std::chrono::duration<double>(Clock::now() - nobody_start).count();
  EXPECT_GE(nobody_took, 2.0);
  EXPECT_LT(nobody_took, 3.6);
}

TEST(ClientProbes, ARobotThatAppearsDuringTheProbesIsFound) {
  // this process's session is already open when the robot comes up, so the
  // first probes find no route to it and end at once
  auto session = zenoh_mdw::GetSharedZenohSession();
  const std::string serial = NewSerial();
  std::unique_ptr<FakeRobot> robot;
  std::thread later([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    robot = std::make_unique<FakeRobot>(serial);
    robot->ActAsRobot(kSingleArm);
  });
  std::unique_ptr<Client> client;
  EXPECT_NO_THROW(client = std::make_unique<Client>(serial, false));
  later.join();
  EXPECT_TRUE(client && client->connected());
}

TEST_F(ClientTest, StreamAccessorsReadTheLatestSamples) {
  Client client(robot_->serial(), false);
  EXPECT_EQ(client.groups(), (std::map<JointGroup, std::string>{{JointGroup::ARM_1, "ARM_1"}}));
  const auto states = client.states();
  ASSERT_EQ(states.size(), 1u);
  EXPECT_EQ(states.at(JointGroup::ARM_1).q, std::vector<double>(7, 1.0));
  EXPECT_EQ(client.actions().at(JointGroup::ARM_1).q_d, std::vector<double>(7, 2.0));
  EXPECT_TRUE(client.estop_released());
  EXPECT_FALSE(client.enabling_device_on());
  EXPECT_TRUE(client.digital_inputs()[0]);
  EXPECT_FALSE(client.digital_outputs()[0]);
  // groups() reads afresh; states() keeps the groups taken at connection
  robot_->SetSamples(test::UniformBasic({3, 4}, 14, 3.0f, 4), test::UniformExtra({3, 4}, 14, 2.0f));
  ASSERT_TRUE(test::WaitFor([&] { return client.groups().size() == 2; }));
  EXPECT_EQ(client.states().at(JointGroup::ARM_2).q.size(), 0u);
  EXPECT_TRUE(client.connected());
}

TEST(ClientFirstSample, GroupsAreLearnedFromALateFirstSample) {
  FakeRobot robot(NewSerial());
  robot.ActAsRobot(kSingleArm);
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    robot.StartStreaming(test::UniformBasic({3}, 7, 1.0f, 3), test::UniformExtra({3}, 7, 2.0f));
  });
  Client client(robot.serial(), false);
  late.join();
  EXPECT_EQ(client.states().at(JointGroup::ARM_1).q.size(), 7u);
}

TEST(ClientFirstSample, ARobotThatNeverStreamsCostsAtMostASecondMore) {
  FakeRobot robot(NewSerial());
  robot.ActAsRobot(kSingleArm);
  const auto start = Clock::now();
  Client client(robot.serial(), false);
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 1.5);
  EXPECT_TRUE(client.groups().empty());
  EXPECT_TRUE(client.states().empty());
}

TEST_F(ClientTest, PrimitiveStatesRetryCorruptedLists) {
  Client client(robot_->serial(), false);
  const std::vector<std::string> good{"jointGroup = 3", "primitiveName = MoveL", "speed = 0.25"};
  auto corrupted_then_good = [&](int corrupted) {
    auto left = std::make_shared<std::atomic<int>>(corrupted);
    robot_->On(3, [left, good](const auto&) {
      if (left->fetch_sub(1) > 0) return std::optional<RPCReply>(StringReply(3, {"jointGroup = 3", ""}));
      return std::optional<RPCReply>(StringReply(3, good));
    });
  };
  corrupted_then_good(2);
  int before = robot_->Requests(3);
  const auto states = client.primitive_states();
  EXPECT_EQ(robot_->Requests(3) - before, 3);
  EXPECT_EQ(states.at(JointGroup::ARM_1).pt_name, "MoveL");

  corrupted_then_good(6);
  before = robot_->Requests(3);
  ExpectThrowWith<std::runtime_error>(
      [&] { client.primitive_states(); },
      "[norvik::tarn::Client::primitive_states] Still received corrupted data after several attempts");
  EXPECT_EQ(robot_->Requests(3) - before, 6);

  corrupted_then_good(5);
  EXPECT_EQ(client.primitive_states().size(), 1u);

  robot_->Answer(3, StringReply(3, {}));
  EXPECT_TRUE(client.primitive_states().empty());
  robot_->Answer(3, StringReply(3, {"jointGroup = 4", "primitiveName = P"}));
  ExpectThrowWith<std::runtime_error>(
      [&] { client.primitive_states(); },
      "[norvik::tarn::Client::primitive_states] Received primitive states for unknown joint group");
  robot_->On(3, [](const auto&) { return std::optional<RPCReply>(); });
  ExpectThrowWith<std::runtime_error>([&] { client.primitive_states(); },
                                      "[norvik::tarn::Client::primitive_states] No reply from the robot");
}

TEST_F(ClientTest, PlanInfoConversions) {
  Client client(robot_->serial(), false);
  robot_->Answer(4, StringReply(4, {"pt", "node", "path", "1.5s", "3", "plan", " 0.5x", "2"}));
  PlanInfo info = client.plan_info();
  EXPECT_EQ(info.pt_name, "pt");
  EXPECT_EQ(info.node_path_time_period, "1.5s");
  EXPECT_EQ(info.assigned_plan_name, "plan");
  EXPECT_EQ(info.velocity_scale, 0.5);
  EXPECT_TRUE(info.waiting_for_step);
  robot_->Answer(4, StringReply(4, {"", "", "", "", "", "", "1", "0"}));
  EXPECT_FALSE(client.plan_info().waiting_for_step);
  for (size_t n : {7u, 9u, 0u}) {
    robot_->Answer(4, StringReply(4, std::vector<std::string>(n, "1")));
    test::LogCapture log;
    ExpectThrowWith<std::runtime_error>([&] { client.plan_info(); },
                                        "[norvik::tarn::Client] plan_info: No reply from the robot");
    EXPECT_EQ(log.At(spdlog::level::err),
              std::vector<std::string>{"[norvik::tarn::Client] Size of plan info container is incorrect"});
  }
}

TEST_F(ClientTest, PlanInfoConversionThatStopsPartWayKeepsWhatWasAssigned) {
  tarn_impl::DataRpc rpc;
  rpc.Init(zenoh_mdw::ReliableNode{zenoh_mdw::GetSharedZenohSession()}, robot_->serial());
  robot_->Answer(4, StringReply(4, {"pt", "node", "path", "t", "n", "plan", "abc", "1"}));
  PlanInfo info;
  test::LogCapture log;
  EXPECT_EQ(rpc.RequestPlanInfo(info).code(), 300000);
  EXPECT_EQ(info.assigned_plan_name, "plan");
  EXPECT_EQ(info.velocity_scale, 0.0);
  EXPECT_EQ(log.At(spdlog::level::err), std::vector<std::string>{"Invalid PlanInfo string conversion: stod"});

  robot_->Answer(4, StringReply(4, {"pt", "node", "path", "t", "n", "plan", "0.75", "99999999999"}));
  EXPECT_EQ(rpc.RequestPlanInfo(info).code(), 300000);
  EXPECT_EQ(info.velocity_scale, 0.75);
  EXPECT_FALSE(info.waiting_for_step);
  EXPECT_EQ(log.At(spdlog::level::err).back(), "Invalid PlanInfo string conversion: stoi");
}

TEST_F(ClientTest, ConfigurationScores) {
  Client client(robot_->serial(), false);
  robot_->Answer(9, RPCReply{9, true, {3, 4}, {}, {}, {}, {{0, 0, 9, 9, 0.15f, 9, 9, 0.3f}, {0, 0, 9, 9, -1, 9, 9, 2}}});
  const auto scores = client.configuration_score();
  ASSERT_EQ(scores.size(), 2u);
  EXPECT_NEAR(scores.at(JointGroup::ARM_1).first, 40.0, 1e-4);
  EXPECT_NEAR(scores.at(JointGroup::ARM_1).second, 40.0, 1e-4);
  EXPECT_EQ(scores.at(JointGroup::ARM_2), (std::pair<double, double>{0.0, 100.0}));
  robot_->Answer(9, RPCReply{9, true, {}, {}, {}, {}, {}});
  EXPECT_TRUE(client.configuration_score().empty());
  robot_->Answer(9, RPCReply{9, false, {}, {}, {}, {}, {}});
  ExpectThrowWith<std::runtime_error>([&] { client.configuration_score(); },
                                      "[norvik::tarn::Model::configuration_score] No reply from the robot");
}

TEST_F(ClientTest, TwoClientsShareOneSession) {
  auto session = zenoh_mdw::GetSharedZenohSession();
  Client a(robot_->serial(), false);
  const long one = session.use_count() - 1;
  Client b(robot_->serial(), false);
  EXPECT_GT(one, 0);
  EXPECT_EQ(session.use_count() - 1, 2 * one) << "the second client opened a session of its own";
  Client moved(std::move(a));
  EXPECT_TRUE(moved.connected());
  ExpectThrowWith<std::logic_error>([&] { a.groups(); }, "[norvik::tarn::Client] Client was moved from");
}

}  // namespace
}  // namespace norvik::tarn
