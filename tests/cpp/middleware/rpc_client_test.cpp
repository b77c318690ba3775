// The blocking request/reply client against an independent Python peer.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "middleware/rpc_client.h"
#include "middleware/shared_session.h"
#include "msgs/rpc_messages.h"
#include "support/child_process.h"

namespace norvik::zenoh_mdw {
namespace {

using zenoh_msgs::tarn_msg::RPCReply;
using zenoh_msgs::tarn_msg::RPCRequest;
using Clock = std::chrono::steady_clock;
using Client = RpcClient<RPCRequest, RPCReply>;

class RpcClientTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    prefix_ = new std::string(test::UniquePrefix("rpc"));
    server_ = std::make_unique<test::ChildProcess>(std::vector<std::string>{
        test::PythonExecutable(), test::SourcePath("tests/peers/rpc_test_server.py"), "--prefix", *prefix_});
    session_ = GetSharedZenohSession();
    // The server's queryable is declared; wait until this session reaches it.
    Client probe(session_, *prefix_ + "/good/rpc");
    RPCReply reply;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!probe.SendRequestAndGetReply(RPCRequest{}, reply, 0.5) && Clock::now() < deadline) {
    }
  }
  static void TearDownTestSuite() {
    server_.reset();
    session_.reset();
    delete prefix_;
  }

  static Client ClientFor(const std::string& mode) { return Client(session_, *prefix_ + "/" + mode + "/rpc"); }

  static double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
  }

  static inline std::string* prefix_ = nullptr;
  static inline std::unique_ptr<test::ChildProcess> server_;
  static inline std::shared_ptr<zenoh::Session> session_;
};

TEST_F(RpcClientTest, GoodReplyIsDecodedAndMovedIntoTheCallersReply) {
  auto client = ClientFor("good");
  RPCReply reply;
  reply.string_container = {"stale", "stale"};
  ASSERT_TRUE(client.SendRequestAndGetReply(RPCRequest{10, {3, 4}}, reply, 2.0));
  EXPECT_EQ(reply.request_id, 10);
  EXPECT_TRUE(reply.success);
  EXPECT_EQ(reply.joint_groups, (std::vector<uint16_t>{3, 4}));
  EXPECT_EQ(reply.int_container, (std::vector<int32_t>{10, 2}));
  EXPECT_EQ(reply.string_container, (std::vector<std::string>{"first"}));
  EXPECT_EQ(reply.float_container, (std::vector<float>{0.5f, -1.25f}));
  EXPECT_EQ(reply.float2d_container, (std::vector<std::vector<float>>{{1.0f, 2.0f, 3.0f}, {}}));
}

TEST_F(RpcClientTest, ErrorReplyAloneGivesFalseWhenTheQueryEnds) {
  auto client = ClientFor("error");
  RPCReply reply;
  const auto start = Clock::now();
  EXPECT_FALSE(client.SendRequestAndGetReply(RPCRequest{1, {}}, reply, 2.0));
  EXPECT_LT(Seconds(start), 1.5) << "should return when the query ends, not at the deadline";
  EXPECT_EQ(reply.request_id, 0);
}

TEST_F(RpcClientTest, ErrorReplyThenGoodReplyGivesTheGoodOne) {
  auto client = ClientFor("error_then_good");
  RPCReply reply;
  ASSERT_TRUE(client.SendRequestAndGetReply(RPCRequest{4, {}}, reply, 2.0));
  EXPECT_EQ(reply.request_id, 4);
  EXPECT_EQ(reply.string_container, (std::vector<std::string>{"first"}));
}

// With the default consolidation Zenoh keeps only the latest reply for a key
// and hands it over when the query ends, so the later of two replies wins.
TEST_F(RpcClientTest, TwoGoodRepliesGiveTheLatestWithDefaultConsolidation) {
  auto client = ClientFor("two_good");
  RPCReply reply;
  ASSERT_TRUE(client.SendRequestAndGetReply(RPCRequest{3, {}}, reply, 2.0));
  EXPECT_EQ(reply.string_container, (std::vector<std::string>{"second"}));
}

TEST_F(RpcClientTest, DroppedQueryReturnsFalseAsSoonAsItEnds) {
  auto client = ClientFor("drop");
  RPCReply reply;
  const auto start = Clock::now();
  EXPECT_FALSE(client.SendRequestAndGetReply(RPCRequest{}, reply, 2.0));
  EXPECT_LT(Seconds(start), 1.0);
}

TEST_F(RpcClientTest, NoServerReturnsFalseWithoutWaitingForTheDeadline) {
  Client client(session_, test::UniquePrefix("nobody") + "/rpc");
  RPCReply reply;
  const auto start = Clock::now();
  EXPECT_FALSE(client.SendRequestAndGetReply(RPCRequest{}, reply, 2.0));
  EXPECT_LT(Seconds(start), 1.0);
}

TEST_F(RpcClientTest, HeldQueryReturnsFalseAtTheDeadline) {
  auto client = ClientFor("hold3000");
  RPCReply reply;
  const auto start = Clock::now();
  EXPECT_FALSE(client.SendRequestAndGetReply(RPCRequest{}, reply, 0.5));
  const double took = Seconds(start);
  EXPECT_GE(took, 0.5);
  EXPECT_LT(took, 0.55) << "deadline overshot by more than 50 ms";
}

TEST_F(RpcClientTest, ReplyAfterTheDeadlineIsNeverDeliveredToALaterCall) {
  auto late = ClientFor("late300");
  auto good = ClientFor("good");
  for (int i = 0; i < 5; ++i) {
    RPCReply reply;
    EXPECT_FALSE(late.SendRequestAndGetReply(RPCRequest{1, {}}, reply, 0.25));
    ASSERT_TRUE(good.SendRequestAndGetReply(RPCRequest{2, {static_cast<uint16_t>(i)}}, reply, 2.0));
    EXPECT_EQ(reply.request_id, 2);
    EXPECT_EQ(reply.joint_groups, (std::vector<uint16_t>{static_cast<uint16_t>(i)}));
  }
  // let the late replies land while nobody waits for them
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

TEST_F(RpcClientTest, ReplyRacingTheDeadlineIsReleasedSafely) {
  // Replies due just at the deadline land sometimes before, sometimes after
  // the caller gave up; either way the call's result is whole and consistent.
  auto client = ClientFor("late200");
  for (int i = 0; i < 20; ++i) {
    RPCReply reply;
    if (client.SendRequestAndGetReply(RPCRequest{7, {}}, reply, 0.2)) {
      EXPECT_EQ(reply.request_id, 7);
      EXPECT_EQ(reply.string_container, (std::vector<std::string>{"late"}));
    } else {
      EXPECT_EQ(reply.request_id, 0);
    }
  }
}

TEST_F(RpcClientTest, UndecodableRepliesAreIgnored) {
  for (const char* mode : {"undecodable", "trailing", "cut"}) {
    auto client = ClientFor(mode);
    RPCReply reply;
    const auto start = Clock::now();
    EXPECT_FALSE(client.SendRequestAndGetReply(RPCRequest{5, {}}, reply, 2.0)) << mode;
    EXPECT_LT(Seconds(start), 1.5) << mode;
    EXPECT_EQ(reply.request_id, 0) << mode;
  }
}

TEST_F(RpcClientTest, InvalidKeyExpressionGivesFalse) {
  Client client(session_, "norvik/robot/bad$key/rpc");
  RPCReply reply;
  EXPECT_FALSE(client.SendRequestAndGetReply(RPCRequest{}, reply, 0.5));
}

TEST_F(RpcClientTest, ConcurrentCallersEachGetTheirOwnReply) {
  auto client = ClientFor("good");
  std::vector<std::thread> threads;
  std::atomic<int> matched{0};
  for (uint16_t t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (uint16_t i = 0; i < 10; ++i) {
        RPCReply reply;
        const uint16_t tag = static_cast<uint16_t>(t * 100 + i);
        if (client.SendRequestAndGetReply(RPCRequest{tag, {tag}}, reply, 2.0) && reply.request_id == tag &&
            reply.joint_groups == std::vector<uint16_t>{tag}) {
          ++matched;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(matched.load(), 40);
}

}  // namespace
}  // namespace norvik::zenoh_mdw
