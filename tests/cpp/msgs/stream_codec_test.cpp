// The stream wire formats against samples from the zenoh.ext serializer.
#include <gtest/gtest.h>

#include "msgs/codec.h"
#include "support/vectors.h"

namespace norvik::zenoh_msgs::tarn_msg {
namespace {

using norvik::test::Vector;

std::vector<uint8_t> Stream(const std::string& name) { return Vector("stream_vectors.txt", name); }

template <typename T>
T Decode(const std::vector<uint8_t>& bytes) {
  return zenoh::ext::deserialize<T>(zenoh::Bytes(bytes));
}

template <typename T>
void ExpectRejected(const std::vector<uint8_t>& bytes, const std::string& text, int code) {
  try {
    Decode<T>(bytes);
    ADD_FAILURE() << "decoded a malformed sample";
  } catch (const zenoh::ZException& e) {
    EXPECT_EQ(e.what(), text);
    EXPECT_EQ(e.code(), code);
  }
}

void ExpectJointField(const std::vector<float>& field, int k, size_t dof) {
  ASSERT_EQ(field.size(), dof);
  for (size_t i = 0; i < dof; ++i) EXPECT_FLOAT_EQ(field[i], k + i / 8.0f) << "field " << k << " joint " << i;
}

void ExpectCartesian(const BasicCartesianData& c, int n) {
  const std::array<float, 7> pose{float(n), n + 1 / 16.0f, n + 2 / 16.0f, 1, 0, 0, 0};
  EXPECT_EQ(c.flange_pose, pose);
  EXPECT_EQ(c.tcp_pose, pose);
  const std::array<const std::array<float, 6>*, 5> sixes{&c.tcp_twist, &c.tcp_wrench_local, &c.raw_tcp_wrench,
                                                         &c.raw_tcp_wrench_local, &c.raw_ft_sensor};
  for (int off = 0; off < 5; ++off) {
    for (int m = 0; m < 6; ++m) EXPECT_FLOAT_EQ((*sixes[off])[m], n + (off + m) / 16.0f);
  }
}

TEST(BasicStreamWire, DualArmSampleDecodesEveryField) {
  const auto d = Decode<AllBasicStreamData>(Stream("basic_dual"));
  EXPECT_EQ(d.system_state, 7);
  EXPECT_EQ(d.safety_board_state, -1);
  EXPECT_TRUE(d.estop_released);
  EXPECT_FALSE(d.enabling_device_on);
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(d.safety_inputs[i], i % 2 == 0);
  for (size_t i = 0; i < 20; ++i) {
    EXPECT_EQ(d.digital_inputs[i], i % 3 == 0);
    EXPECT_EQ(d.digital_outputs[i], i % 5 == 0);
  }
  EXPECT_EQ(d.joint_groups, (std::vector<uint16_t>{2, 3, 4, 5}));
  const auto& j = d.joint_data;
  const std::vector<const std::vector<float>*> fields{&j.q,       &j.theta,   &j.dq,          &j.dtheta,     &j.tau,
                                                      &j.tau_dot, &j.tau_ext, &j.tau_interact, &j.temperature};
  for (int k = 0; k < 9; ++k) ExpectJointField(*fields[k], k, 15);
  ASSERT_EQ(j.contact_positions.size(), 3u);
  ASSERT_EQ(j.contact_forces.size(), 3u);
  EXPECT_EQ(j.contact_positions[2], (std::array<float, 3>{2.0f, 2.5f, 2.25f}));
  EXPECT_EQ(j.contact_forces[2], (std::array<float, 3>{-2.0f, 4.0f, 1.0f}));
  ASSERT_EQ(d.cartesian_data.size(), 4u);
  for (int n = 0; n < 4; ++n) ExpectCartesian(d.cartesian_data[n], n);
  EXPECT_EQ(d.stamp_sec, 1700000000);
  EXPECT_EQ(d.stamp_nanosec, 123456789u);
}

TEST(BasicStreamWire, SingleArmSample) {
  const auto d = Decode<AllBasicStreamData>(Stream("basic_single"));
  EXPECT_EQ(d.joint_groups, (std::vector<uint16_t>{3}));
  ExpectJointField(d.joint_data.temperature, 8, 7);
  ASSERT_EQ(d.cartesian_data.size(), 1u);
  ExpectCartesian(d.cartesian_data[0], 0);
}

TEST(BasicStreamWire, NoGroupsAndEmptyJointSequencesDecode) {
  const auto d = Decode<AllBasicStreamData>(Stream("basic_empty"));
  EXPECT_TRUE(d.joint_groups.empty());
  EXPECT_TRUE(d.cartesian_data.empty());
  EXPECT_TRUE(d.joint_data.q.empty() && d.joint_data.contact_forces.empty());
  EXPECT_EQ(d.stamp_nanosec, 123456789u);
}

TEST(BasicStreamWire, RoundTripsThroughTheRobotSideEncoder) {
  const auto bytes = Stream("basic_dual");
  EXPECT_EQ(SerializeMessage(Decode<AllBasicStreamData>(bytes)).as_vector(), bytes);
}

TEST(ExtraStreamWire, DualArmSample) {
  const auto d = Decode<AllExtraStreamData>(Stream("extra_dual"));
  EXPECT_EQ(d.joint_groups, (std::vector<uint16_t>{2, 3, 4, 5}));
  ASSERT_EQ(d.q_d.size(), 15u);
  ASSERT_EQ(d.dq_d.size(), 15u);
  ASSERT_EQ(d.tau_d.size(), 15u);
  EXPECT_FLOAT_EQ(d.q_d[14], 7.0f);
  EXPECT_FLOAT_EQ(d.dq_d[4], -1.0f);
  EXPECT_FLOAT_EQ(d.tau_d[3], 103.0f);
  ASSERT_EQ(d.cartesian_data.size(), 4u);
  EXPECT_EQ(d.cartesian_data[3].tcp_pose_d, (std::array<float, 7>{3, 3 + 1 / 16.0f, 3 + 2 / 16.0f, 1, 0, 0, 0}));
  EXPECT_FLOAT_EQ(d.cartesian_data[3].tcp_wrench_d[5], 3 + 6 / 16.0f);
  EXPECT_EQ(SerializeMessage(d).as_vector(), Stream("extra_dual"));
}

TEST(ExtraStreamWire, EmptySampleDecodes) {
  const auto d = Decode<AllExtraStreamData>(Stream("extra_empty"));
  EXPECT_TRUE(d.joint_groups.empty() && d.q_d.empty() && d.cartesian_data.empty());
}

TEST(StreamRejects, FixedArrayPrefixesOtherThanTheirSize) {
  for (const char* name : {"basic_safety_7", "basic_safety_9", "basic_digital_19", "basic_pose_6", "basic_six_7"}) {
    SCOPED_TRACE(name);
    ExpectRejected<AllBasicStreamData>(Stream(name), "Incorrect sequence size", -7);
  }
  ExpectRejected<AllExtraStreamData>(Stream("extra_pose_8"), "Incorrect sequence size", -7);
}

TEST(StreamRejects, OneTrailingByte) {
  ExpectRejected<AllBasicStreamData>(Stream("basic_trailing"),
                                     "Payload contains more bytes than required for deserialization", -7);
  ExpectRejected<AllExtraStreamData>(Stream("extra_trailing"),
                                     "Payload contains more bytes than required for deserialization", -7);
}

TEST(StreamRejects, EveryCutShortPayload) {
  for (const char* name : {"basic_dual", "extra_dual"}) {
    const auto full = Stream(name);
    for (size_t len = 0; len < full.size(); ++len) {
      std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(len));
      zenoh::ZResult err = 0;
      if (name[0] == 'b') {
        zenoh::ext::deserialize<AllBasicStreamData>(zenoh::Bytes(cut), &err);
      } else {
        zenoh::ext::deserialize<AllExtraStreamData>(zenoh::Bytes(cut), &err);
      }
      EXPECT_NE(err, 0) << name << " cut to " << len << " bytes decoded";
    }
  }
}

TEST(StreamRejects, LengthPrefixBeyondThePayloadFailsBeforeReserving) {
  // joint_groups of the extra stream claims 2^40 entries
  std::vector<uint8_t> bytes{0x80, 0x80, 0x80, 0x80, 0x80, 0x20, 1, 2, 3};
  ExpectRejected<AllExtraStreamData>(bytes, "Deserialization failure:: Failed to read sequence length", -7);
  // so does cartesian_data, whose entries are large in memory
  auto basic = Stream("basic_empty");
  const std::vector<uint8_t> tail(basic.end() - 8, basic.end());  // stamp
  basic.resize(basic.size() - 9);                                  // drop cartesian length and stamp
  basic.insert(basic.end(), {0xff, 0xff, 0xff, 0xff, 0x0f});
  basic.insert(basic.end(), tail.begin(), tail.end());
  ExpectRejected<AllBasicStreamData>(basic, "Deserialization failure:: Failed to read sequence length", -7);
}

TEST(StreamSlot, StoresTheCodeAndReturnsThePartlyFilledSample) {
  auto bytes = Stream("basic_dual");
  bytes.resize(bytes.size() - 4);  // stamp_nanosec cut
  zenoh::ZResult err = 0;
  const auto d = zenoh::ext::deserialize<AllBasicStreamData>(zenoh::Bytes(bytes), &err);
  EXPECT_EQ(err, -7);
  EXPECT_EQ(d.cartesian_data.size(), 4u);
  EXPECT_EQ(d.stamp_sec, 1700000000);
  EXPECT_EQ(d.stamp_nanosec, 0u);
}

TEST(StreamSlot, ASequenceCutShortIsLeftEmptyAndTheFieldsBeforeItKept) {
  const auto full = Stream("basic_dual");
  auto decode_cut = [&](size_t len) {
    zenoh::ZResult err = 0;
    auto d = zenoh::ext::deserialize<AllBasicStreamData>(zenoh::Bytes(std::vector<uint8_t>(full.begin(), full.begin() + len)), &err);
    EXPECT_EQ(err, -7);
    return d;
  };
  // q's length byte is at 66 (after 2 + 2 + 1 + 1 + 9 + 21 + 21 + 9 bytes); two of its 15 floats there
  const auto in_q = decode_cut(66 + 1 + 8);
  EXPECT_EQ(in_q.joint_groups, (std::vector<uint16_t>{2, 3, 4, 5}));
  EXPECT_TRUE(in_q.joint_data.q.empty());
  EXPECT_TRUE(in_q.joint_data.theta.empty());
  // the fourth Cartesian entry (183 bytes each, then the 8-byte stamp) cut in its middle
  const auto in_cartesian = decode_cut(full.size() - 8 - 100);
  EXPECT_EQ(in_cartesian.joint_data.contact_forces.size(), 3u);
  EXPECT_TRUE(in_cartesian.cartesian_data.empty());
  EXPECT_EQ(in_cartesian.stamp_sec, 0);
}

}  // namespace
}  // namespace norvik::zenoh_msgs::tarn_msg
