// A payload larger than a batch arrives from the network in several slices;
// the deserializer copies it into one piece and reads it as it reads a
// payload in one slice, good or bad.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "middleware/shared_session.h"
#include "msgs/codec.h"
#include "support/child_process.h"
#include "support/wait.h"
#include "zenoh.hxx"

namespace {

using norvik::zenoh_msgs::tarn_msg::RPCReply;
using norvik::zenoh_msgs::tarn_msg::SerializeMessage;
using Bytes = std::vector<uint8_t>;

// What a subscriber made of one payload.
struct Seen {
  bool split = false;
  zenoh::ZResult err = 0;
  Bytes partial;  // the slot-mode record, encoded again
  std::string text;
  zenoh::ZResult into = 0;
};

Seen Decode(zenoh::BytesView payload, RPCReply& earlier) {
  Seen s;
  const uint8_t* data = nullptr;
  size_t len = 0;
  s.split = !nz_bytes_contiguous(payload.raw(), &data, &len);
  s.partial = SerializeMessage(zenoh::ext::deserialize<RPCReply>(payload, &s.err)).as_vector();
  try {
    (void)zenoh::ext::deserialize<RPCReply>(payload);
  } catch (const zenoh::ZException& e) {
    s.text = e.what();
  }
  s.into = zenoh::ext::deserialize_into(payload, earlier);
  return s;
}

TEST(SplitPayload, ReadsAsTheSameBytesInOneSliceDo) {
  using namespace std::chrono_literals;
  RPCReply reply;
  reply.request_id = 7;
  reply.string_container = {"split", "h\u00e9"};
  for (int i = 0; i < 40000; ++i) reply.float_container.push_back(static_cast<float>(i) / 4);  // 160 kB
  reply.float2d_container = {{1.0f, 2.0f}};
  const Bytes whole = SerializeMessage(reply).as_vector();
  Bytes cut = whole;
  cut.resize(cut.size() - 5);  // inside the last inner sequence

  // received by a second session, through the network
  auto session = norvik::zenoh_mdw::GetSharedZenohSession();
  zenoh::Session other = zenoh::Session::open(zenoh::Config::create_default());
  const zenoh::KeyExpr ke(norvik::test::UniquePrefix("split") + "/reply");
  std::mutex mutex;
  std::vector<Seen> seen;
  RPCReply earlier;  // only the subscriber's thread touches it
  auto sub = other.declare_subscriber(
      ke,
      [&](zenoh::BytesView payload) {
        Seen s = Decode(payload, earlier);
        std::lock_guard<std::mutex> lock(mutex);
        seen.push_back(std::move(s));
      },
      [] {});
  auto pub = session->declare_publisher(ke);
  auto count = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<uint64_t>(seen.size());
  };
  ASSERT_TRUE(norvik::test::PublishUntilSeen([&] { pub.put(zenoh::Bytes(whole)); }, count, 10s));
  const size_t wholes = count();
  ASSERT_TRUE(norvik::test::PublishUntilSeen([&] { pub.put(zenoh::Bytes(cut)); }, count, 10s));
  sub.undeclare();

  RPCReply fresh;
  const Seen one_slice_whole = Decode(zenoh::Bytes(whole).view(), fresh);
  const Seen one_slice_cut = Decode(zenoh::Bytes(cut).view(), fresh);
  ASSERT_FALSE(one_slice_whole.split);
  EXPECT_EQ(one_slice_cut.err, NZ_EDESERIALIZE);
  std::lock_guard<std::mutex> lock(mutex);
  for (size_t i = 0; i < seen.size(); ++i) {
    SCOPED_TRACE(i < wholes ? "whole" : "cut");
    const Seen& want = i < wholes ? one_slice_whole : one_slice_cut;
    EXPECT_TRUE(seen[i].split) << "the network delivered it in one slice";
    EXPECT_EQ(seen[i].err, want.err);
    EXPECT_EQ(seen[i].partial, want.partial);
    EXPECT_EQ(seen[i].text, want.text);
    EXPECT_EQ(seen[i].into, want.into);
  }
}

}  // namespace
