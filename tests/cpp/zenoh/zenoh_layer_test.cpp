// The Zenoh layer's own guarantees: handle lifetimes, callbacks, the codec
// primitives and what the dependency delivers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "middleware/shared_session.h"
#include "support/child_process.h"
#include "zenoh.hxx"

namespace {

using namespace std::chrono_literals;

template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds within = 5s) {
  const auto deadline = std::chrono::steady_clock::now() + within;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(KeyExpr, CanonisesAndRejectsInvalidKeys) {
  EXPECT_EQ(zenoh::KeyExpr("norvik/robot/a/**/**").as_string_view(), "norvik/robot/a/**");
  try {
    zenoh::KeyExpr bad("norvik/robot/a$b");
    ADD_FAILURE() << "accepted an invalid key";
  } catch (const zenoh::ZException& e) {
    EXPECT_STREQ(e.what(), "Failed to construct KeyExpr from: norvik/robot/a$b");
    EXPECT_LT(e.code(), 0);
  }
  zenoh::ZResult err = 0;
  zenoh::KeyExpr slot("a#b", true, &err);
  EXPECT_LT(err, 0);
  EXPECT_FALSE(slot);
}

TEST(Codec, PrimitivesRoundTripThroughZenohExt) {
  zenoh::ext::Serializer s;
  const float floats[3] = {1.5f, -0.0f, 3e38f};
  ASSERT_EQ(s.write(uint16_t{65535}), 0);
  ASSERT_EQ(s.write(int16_t{-2}), 0);
  ASSERT_EQ(s.write(true), 0);
  ASSERT_EQ(s.write_sequence_length(300), 0);
  ASSERT_EQ(s.write_n(floats, 3), 0);
  ASSERT_EQ(s.write_string("h\u00e9"), 0);
  const zenoh::Bytes bytes = std::move(s).finish();
  // u16, i16, bool, LEB128 300, 3 floats, length 3 + 3 UTF-8 bytes
  EXPECT_EQ(bytes.size(), 2u + 2 + 1 + 2 + 12 + 1 + 3);

  const zenoh::ext::ContiguousPayload contiguous(bytes.view());
  zenoh::ext::Deserializer d(contiguous.data(), contiguous.size());
  uint16_t u = 0;
  int16_t i = 0;
  bool b = false;
  size_t n = 0;
  float back[3] = {};
  std::string text;
  EXPECT_TRUE(d.read(u) && d.read(i) && d.read(b));
  EXPECT_TRUE(d.read_sequence_length(n, 0));
  EXPECT_TRUE(d.read_n(back, 3) && d.read_string(text));
  EXPECT_TRUE(d.is_done());
  EXPECT_EQ(u, 65535);
  EXPECT_EQ(i, -2);
  EXPECT_TRUE(b);
  EXPECT_EQ(n, 300u);
  EXPECT_EQ(back[2], 3e38f);
  EXPECT_EQ(text, "h\u00e9");
}

TEST(Codec, FirstFailureIsKeptAndLaterReadsFail) {
  const std::vector<uint8_t> bytes{7};
  zenoh::ext::Deserializer d(bytes.data(), bytes.size());
  uint16_t u = 0;
  uint8_t byte = 0;
  EXPECT_FALSE(d.read(u));
  EXPECT_EQ(d.status(), -7);
  EXPECT_STREQ(d.error_text(), "Deserialization failure");
  EXPECT_FALSE(d.read(byte)) << "reads after a failure must fail";
}

TEST(Subscriber, UndeclareWaitsForARunningCallback) {
  auto session = norvik::zenoh_mdw::GetSharedZenohSession();
  const zenoh::KeyExpr ke(norvik::test::UniquePrefix("wait") + "/data");
  std::atomic<bool> started{false}, finished{false}, dropped{false};
  auto sub = session->declare_subscriber(
      ke,
      [&](zenoh::BytesView) {
        started = true;
        std::this_thread::sleep_for(300ms);
        finished = true;
      },
      [&] { dropped = true; });
  auto pub = session->declare_publisher(ke);
  ASSERT_TRUE(WaitFor([&] {
    pub.put(zenoh::Bytes(std::vector<uint8_t>{1}));
    return started.load();
  }));
  sub.undeclare();
  EXPECT_TRUE(finished.load()) << "undeclare returned while the callback still ran";
  EXPECT_TRUE(WaitFor([&] { return dropped.load(); }));
}

TEST(Get, DropHandlerRunsOnceEvenWithoutReplies) {
  auto session = norvik::zenoh_mdw::GetSharedZenohSession();
  std::atomic<int> replies{0}, drops{0};
  zenoh::GetOptions options;
  options.timeout_ms = 200;
  session->get(zenoh::KeyExpr(norvik::test::UniquePrefix("none") + "/rpc"), "", [&](bool, zenoh::BytesView) { ++replies; },
               [&] { ++drops; }, std::move(options));
  ASSERT_TRUE(WaitFor([&] { return drops.load() == 1; }));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(drops.load(), 1);
  EXPECT_EQ(replies.load(), 0);
}

TEST(Get, TwoRepliesToOneKeyArriveAsOneWithDefaultConsolidation) {
  const std::string prefix = norvik::test::UniquePrefix("consolidation");
  norvik::test::ChildProcess server({norvik::test::PythonExecutable(),
                                     norvik::test::SourcePath("tests/peers/rpc_test_server.py"), "--prefix", prefix});
  auto session = norvik::zenoh_mdw::GetSharedZenohSession();
  const zenoh::KeyExpr good(prefix + "/good/rpc"), two(prefix + "/two_good/rpc");
  auto count_replies = [&](const zenoh::KeyExpr& ke) {
    auto replies = std::make_shared<std::atomic<int>>(0);
    auto done = std::make_shared<std::atomic<bool>>(false);
    zenoh::GetOptions options;
    options.timeout_ms = 2000;
    session->get(ke, "", [replies](bool ok, zenoh::BytesView) { replies->fetch_add(ok ? 1 : 100); },
                 [done] { *done = true; }, std::move(options));
    EXPECT_TRUE(WaitFor([&] { return done->load(); }));
    return replies->load();
  };
  ASSERT_TRUE(WaitFor([&] { return count_replies(good) == 1; }, 10s)) << "server not reached";
  EXPECT_EQ(count_replies(two), 1);
}

}  // namespace
