// The request/reply wire format against bytes from the zenoh.ext serializer.
#include <gtest/gtest.h>

#include "msgs/codec.h"
#include "support/vectors.h"

namespace norvik::zenoh_msgs::tarn_msg {
namespace {

using norvik::test::Vector;

RPCReply Decode(const std::vector<uint8_t>& bytes, zenoh::ZResult* err = nullptr) {
  return zenoh::ext::deserialize<RPCReply>(zenoh::Bytes(bytes), err);
}

void ExpectThrowsWith(const std::vector<uint8_t>& bytes, const std::string& text, zenoh::ZResult code) {
  try {
    Decode(bytes);
    ADD_FAILURE() << "decoding did not fail";
  } catch (const zenoh::ZException& e) {
    EXPECT_EQ(e.what(), text);
    EXPECT_EQ(e.code(), code);
  }
}

RPCReply FullReply() {
  RPCReply r;
  r.request_id = 9;
  r.success = true;
  r.joint_groups = {3, 4, 65535};
  r.int_container = {-5, 7, 2147483647};
  r.string_container = {"v2.1", "", "\u00fcn\u00efc\u00f6de"};
  r.float_container = {0.25f, -1e30f};
  r.float2d_container = {{0.0f, 0.25f, 0.5f, 0.75f, 1.0f, 1.25f, 1.5f, 1.75f}, {}, {3.5f}};
  return r;
}

TEST(RpcRequestWire, StartIdRequestIsCodeLengthAndGroups) {
  RPCRequest request{10, {3, 4}};
  EXPECT_EQ(SerializeMessage(request).as_vector(), Vector("rpc_vectors.txt", "request_start_ids"));
  // code 10 (2 bytes), length 2 (one byte), then 3 and 4 as 16-bit
  EXPECT_EQ(SerializeMessage(request).as_vector(), (std::vector<uint8_t>{10, 0, 2, 3, 0, 4, 0}));
}

TEST(RpcRequestWire, EmptyGroupsAreOneZeroLength) {
  EXPECT_EQ(SerializeMessage(RPCRequest{}).as_vector(), Vector("rpc_vectors.txt", "request_probe"));
}

TEST(RpcRequestWire, RobotSideDecodesWhatTheClientWrites) {
  RPCRequest request{10, {0, 2, 3, 4, 5}};
  const auto back = zenoh::ext::deserialize<RPCRequest>(SerializeMessage(request));
  EXPECT_EQ(back.request_id, 10);
  EXPECT_EQ(back.joint_groups, request.joint_groups);
}

TEST(RpcReplyWire, DecodesEveryContainer) {
  const RPCReply r = Decode(Vector("rpc_vectors.txt", "reply_full"));
  const RPCReply expected = FullReply();
  EXPECT_EQ(r.request_id, expected.request_id);
  EXPECT_TRUE(r.success);
  EXPECT_EQ(r.joint_groups, expected.joint_groups);
  EXPECT_EQ(r.int_container, expected.int_container);
  EXPECT_EQ(r.string_container, expected.string_container);
  EXPECT_EQ(r.float_container, expected.float_container);
  EXPECT_EQ(r.float2d_container, expected.float2d_container);
}

TEST(RpcReplyWire, EncodesTheSameBytesAsTheReferenceEncoder) {
  EXPECT_EQ(SerializeMessage(FullReply()).as_vector(), Vector("rpc_vectors.txt", "reply_full"));
  EXPECT_EQ(SerializeMessage(RPCReply{}).as_vector(), Vector("rpc_vectors.txt", "reply_default"));
}

TEST(RpcReplyWire, DefaultReplyIsAllEmpty) {
  const RPCReply r = Decode(Vector("rpc_vectors.txt", "reply_default"));
  EXPECT_EQ(r.request_id, 0);
  EXPECT_FALSE(r.success);
  EXPECT_TRUE(r.joint_groups.empty() && r.int_container.empty() && r.string_container.empty() &&
              r.float_container.empty() && r.float2d_container.empty());
}

TEST(RpcReplyWire, LongStringUsesAMultiByteLength) {
  const RPCReply r = Decode(Vector("rpc_vectors.txt", "reply_long_string"));
  ASSERT_EQ(r.string_container.size(), 1u);
  EXPECT_EQ(r.string_container[0], std::string(200, 'x'));
}

TEST(RpcReplyRejects, OneTrailingByte) {
  auto bytes = Vector("rpc_vectors.txt", "reply_full");
  bytes.push_back(0);
  ExpectThrowsWith(bytes, "Payload contains more bytes than required for deserialization", -7);
}

TEST(RpcReplyRejects, BytesEndingAfterFloatContainer) {
  auto bytes = Vector("rpc_vectors.txt", "reply_default");
  bytes.pop_back();  // the float2d_container length
  ExpectThrowsWith(bytes, "Deserialization failure:: Failed to read sequence length", -7);
}

TEST(RpcReplyRejects, EmptyPayload) { ExpectThrowsWith({}, "Deserialization failure", -7); }

TEST(RpcReplyRejects, SuccessByteOtherThanZeroOrOne) {
  ExpectThrowsWith({1, 0, 2, 0, 0, 0, 0, 0}, "Deserialization failure", -7);
}

TEST(RpcReplyRejects, ElementCutShort) {
  // two joint groups announced, one and a half present
  ExpectThrowsWith({0, 0, 1, 2, 3, 0, 4}, "Deserialization failure", -7);
}

TEST(RpcReplyRejects, LengthBeyondThePayloadBeforeReserving) {
  // joint_groups claims 2^62 elements
  std::vector<uint8_t> bytes{0, 0, 1, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x40};
  ExpectThrowsWith(bytes, "Deserialization failure:: Failed to read sequence length", -7);
  // a string that claims more bytes than the payload has
  ExpectThrowsWith({0, 0, 1, 0, 0, 1, 0x90, 0x4e, 'a'}, "Deserialization failure", -7);
}

TEST(RpcReplyRejects, InvalidUtf8String) { ExpectThrowsWith({0, 0, 1, 0, 0, 1, 1, 0xff, 0, 0}, "Deserialization failure", -7); }

TEST(RpcReplySlot, StoresTheCodeAndKeepsWhatWasRead) {
  auto bytes = Vector("rpc_vectors.txt", "reply_full");
  bytes.resize(bytes.size() - 5);  // cut inside the last inner float vector
  zenoh::ZResult err = 0;
  const RPCReply r = Decode(bytes, &err);
  EXPECT_EQ(err, -7);
  EXPECT_EQ(r.request_id, 9);
  EXPECT_EQ(r.string_container.size(), 3u);
  // an inner sequence that cannot be read ends the outer loop; earlier ones remain
  ASSERT_EQ(r.float2d_container.size(), 2u);
  EXPECT_EQ(r.float2d_container[0].size(), 8u);
}

TEST(RpcReplySlot, ZeroOnSuccess) {
  zenoh::ZResult err = 42;
  Decode(Vector("rpc_vectors.txt", "reply_full"), &err);
  EXPECT_EQ(err, 0);
}

}  // namespace
}  // namespace norvik::zenoh_msgs::tarn_msg
