// The typed requests' acceptance rules, against a scripted robot.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>

#include "impl/data_rpc.h"
#include "middleware/shared_session.h"
#include "support/child_process.h"
#include "support/fake_robot.h"
#include "support/log_capture.h"

namespace norvik::tarn_impl {
namespace {

using tarn::JointGroup;
using test::FakeRobot;
using test::StringReply;
using zenoh_msgs::tarn_msg::RPCReply;
using zenoh_msgs::tarn_msg::RPCRequest;
constexpr int32_t kOk = 100000;
constexpr int32_t kFault = 300000;

class DataRpcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    robot_ = std::make_unique<FakeRobot>(test::UniqueSerial());
    robot_->Answer(kProbe, RPCReply{kProbe, false, {}, {}, {}, {}, {}});
    rpc_.Init(zenoh_mdw::ReliableNode{zenoh_mdw::GetSharedZenohSession()}, robot_->serial());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!rpc_.IsConnected() && std::chrono::steady_clock::now() < deadline) {
    }
  }

  RPCReply StartIds(std::vector<uint16_t> groups, std::vector<int32_t> ids, std::vector<float> dofs) {
    RPCReply r{kStartIdAndDoF, true, std::move(groups), std::move(ids), {}, std::move(dofs), {}};
    return r;
  }

  std::unique_ptr<FakeRobot> robot_;
  DataRpc rpc_;
};

TEST_F(DataRpcTest, ProbeSucceedsOnlyForAnEchoWithSuccessFalse) {
  EXPECT_TRUE(rpc_.IsConnected());
  robot_->Answer(kProbe, RPCReply{kProbe, true, {}, {}, {}, {}, {}});
  test::LogCapture log;
  EXPECT_FALSE(rpc_.IsConnected());
  EXPECT_TRUE(log.Contains("Remote procedure failed"));
  robot_->Answer(kProbe, RPCReply{5, false, {}, {}, {}, {}, {}});
  EXPECT_FALSE(rpc_.IsConnected());
}

TEST_F(DataRpcTest, RejectedRepliesLeaveTheOutputAlone) {
  std::vector<std::string> out{"kept"};
  test::LogCapture log;
  auto wrong_echo = StringReply(2, {"x"});
  robot_->Answer(7, wrong_echo);
  EXPECT_EQ(rpc_.RequestStringList(7, out).code(), kFault);
  auto refused = StringReply(7, {"x"});
  refused.success = false;
  robot_->Answer(7, refused);
  EXPECT_EQ(rpc_.RequestStringList(7, out).code(), kFault);
  EXPECT_EQ(out, std::vector<std::string>{"kept"});
  EXPECT_EQ(log.At(spdlog::level::debug), (std::vector<std::string>{"Remote procedure failed", "Remote procedure failed"}));
}

TEST_F(DataRpcTest, NoReplyIsATransportFailure) {
  test::LogCapture log;
  std::vector<double> out;
  EXPECT_EQ(rpc_.RequestFloatList(42, out).code(), kFault);
  EXPECT_TRUE(log.Contains("Failed to send remote call or server reply timeout"));
}

TEST_F(DataRpcTest, StringListIsLoggedLineByLine) {
  robot_->Answer(7, StringReply(7, {"a", "b c"}));
  test::LogCapture log;
  std::vector<std::string> out;
  ASSERT_EQ(rpc_.RequestStringList(7, out).code(), kOk);
  EXPECT_EQ(out, (std::vector<std::string>{"a", "b c"}));
  EXPECT_EQ(log.At(spdlog::level::debug),
            (std::vector<std::string>{"[norvik::tarn::DataRpc] RPC reply request_id=7 success=true string_container_size=2",
                                      "[norvik::tarn::DataRpc] string_container[0] = a",
                                      "[norvik::tarn::DataRpc] string_container[1] = b c"}));
}

TEST_F(DataRpcTest, FloatListIsWidened) {
  RPCReply r{8, true, {}, {}, {}, {0.1f, -2.5f}, {}};
  robot_->Answer(8, r);
  std::vector<double> out{9, 9, 9};
  ASSERT_EQ(rpc_.RequestFloatList(8, out).code(), kOk);
  EXPECT_EQ(out, (std::vector<double>{double(0.1f), -2.5}));
}

TEST_F(DataRpcTest, VersionIsTheFirstStringAndAnEmptyListFails) {
  robot_->Answer(kTarnVersion, StringReply(kTarnVersion, {"v2.1", "extra"}));
  std::string version;
  ASSERT_EQ(rpc_.RequestTARNVersion(version).code(), kOk);
  EXPECT_EQ(version, "v2.1");
  robot_->Answer(kTarnVersion, StringReply(kTarnVersion, {}));
  version = "kept";
  EXPECT_EQ(rpc_.RequestTARNVersion(version).code(), kFault);
  EXPECT_EQ(version, "kept");
}

TEST_F(DataRpcTest, StartIdRequestCarriesTheGroupsAndTruncatesDoF) {
  robot_->Answer(kStartIdAndDoF, StartIds({3, 4, 3}, {0, 7, 1}, {6.9f, 7.0f, 2.0f}));
  std::map<JointGroup, uint32_t> ids;
  std::map<JointGroup, uint64_t> dofs{{JointGroup::ALL, 99}};
  ASSERT_EQ(rpc_.RequestStartIdAndDoF({JointGroup::ARM_1, JointGroup::ARM_2}, ids, dofs).code(), kOk);
  EXPECT_EQ(robot_->LastRequest(kStartIdAndDoF).joint_groups, (std::vector<uint16_t>{3, 4}));
  // a group listed twice keeps its last values; the old contents are gone
  EXPECT_EQ(ids, (std::map<JointGroup, uint32_t>{{JointGroup::ARM_1, 1}, {JointGroup::ARM_2, 7}}));
  EXPECT_EQ(dofs, (std::map<JointGroup, uint64_t>{{JointGroup::ARM_1, 2}, {JointGroup::ARM_2, 7}}));
}

TEST_F(DataRpcTest, StartIdSizeMismatchLeavesBothMaps) {
  robot_->Answer(kStartIdAndDoF, StartIds({3, 4}, {0, 7}, {7, 7, 1}));
  std::map<JointGroup, uint32_t> ids{{JointGroup::ALL, 1}};
  std::map<JointGroup, uint64_t> dofs{{JointGroup::ALL, 2}};
  test::LogCapture log;
  EXPECT_EQ(rpc_.RequestStartIdAndDoF({JointGroup::ARM_1}, ids, dofs).code(), kFault);
  EXPECT_EQ(log.At(spdlog::level::err),
            std::vector<std::string>{
                "Malformed start ID reply: size mismatch between joint_groups, int_container, and float_container"});
  EXPECT_EQ(ids.at(JointGroup::ALL), 1u);
  EXPECT_EQ(dofs.at(JointGroup::ALL), 2u);
}

TEST_F(DataRpcTest, StartIdValuesThatCannotBeConvertedAreMalformed) {
  const float inf = std::numeric_limits<float>::infinity();
  for (auto [id, dof] : std::vector<std::pair<int32_t, float>>{
           {0, -1.0f}, {0, std::nanf("")}, {0, inf}, {0, -inf}, {0, 1.9e19f}, {-1, 7.0f}}) {
    robot_->Answer(kStartIdAndDoF, StartIds({3}, {id}, {dof}));
    std::map<JointGroup, uint32_t> ids{{JointGroup::ALL, 1}};
    std::map<JointGroup, uint64_t> dofs{{JointGroup::ALL, 2}};
    test::LogCapture log;
    EXPECT_EQ(rpc_.RequestStartIdAndDoF({JointGroup::ARM_1}, ids, dofs).code(), kFault) << id << " " << dof;
    EXPECT_EQ(log.At(spdlog::level::err).size(), 1u);
    EXPECT_EQ(ids.size(), 1u);
    EXPECT_EQ(dofs.at(JointGroup::ALL), 2u);
  }
  // the largest float below 2^64 still converts
  robot_->Answer(kStartIdAndDoF, StartIds({3}, {2147483647}, {1.8e19f}));
  std::map<JointGroup, uint32_t> ids;
  std::map<JointGroup, uint64_t> dofs;
  EXPECT_EQ(rpc_.RequestStartIdAndDoF({JointGroup::ARM_1}, ids, dofs).code(), kOk);
  EXPECT_EQ(ids.at(JointGroup::ARM_1), 2147483647u);
  EXPECT_EQ(dofs.at(JointGroup::ARM_1), static_cast<uint64_t>(1.8e19f));
}

TEST_F(DataRpcTest, ManipulabilityTakesElementsTwoToSeven) {
  RPCReply r{kManipulability, true, {3, 4}, {}, {}, {}, {{0, 1, 2, 3, 4, 5, 6, 7, 8}, {10, 11, 12, 13, 14, 15, 16, 17}}};
  robot_->Answer(kManipulability, r);
  std::map<JointGroup, std::array<double, 6>> out;
  ASSERT_EQ(rpc_.RequestManipulability(out).code(), kOk);
  EXPECT_EQ(out.at(JointGroup::ARM_1), (std::array<double, 6>{2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(out.at(JointGroup::ARM_2), (std::array<double, 6>{12, 13, 14, 15, 16, 17}));
}

TEST_F(DataRpcTest, ManipulabilityWithNoGroupsIsAnEmptySuccess) {
  robot_->Answer(kManipulability, RPCReply{kManipulability, true, {}, {}, {}, {}, {}});
  std::map<JointGroup, std::array<double, 6>> out{{JointGroup::ALL, {}}};
  EXPECT_EQ(rpc_.RequestManipulability(out).code(), kOk);
  EXPECT_TRUE(out.empty());
}

TEST_F(DataRpcTest, ShortPackedVectorStopsAfterTheEntriesBeforeIt) {
  RPCReply r{kManipulability, true, {3, 4}, {}, {}, {}, {{0, 1, 2, 3, 4, 5, 6, 7}, {0, 1, 2, 3, 4, 5, 6}}};
  robot_->Answer(kManipulability, r);
  std::map<JointGroup, std::array<double, 6>> out;
  test::LogCapture log;
  EXPECT_EQ(rpc_.RequestManipulability(out).code(), kFault);
  EXPECT_EQ(log.At(spdlog::level::err),
            std::vector<std::string>{"Malformed manipulability reply: packed vector size [7], expecting at least [8]"});
  EXPECT_EQ(out.size(), 1u);
  EXPECT_EQ(out.count(JointGroup::ARM_1), 1u);
}

TEST_F(DataRpcTest, ManipulabilitySizeMismatch) {
  RPCReply r{kManipulability, true, {3, 4}, {}, {}, {}, {{0, 1, 2, 3, 4, 5, 6, 7}}};
  robot_->Answer(kManipulability, r);
  std::map<JointGroup, std::array<double, 6>> out;
  test::LogCapture log;
  EXPECT_EQ(rpc_.RequestManipulability(out).code(), kFault);
  EXPECT_EQ(log.At(spdlog::level::err),
            std::vector<std::string>{"Malformed manipulability reply: size mismatch between joint_groups and float2d_container"});
}

}  // namespace
}  // namespace norvik::tarn_impl
