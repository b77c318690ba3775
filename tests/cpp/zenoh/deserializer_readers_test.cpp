// The library's reader must accept and reject exactly what zenoh-ext's own
// deserializer does, with the same values, codes and texts and the same
// partly filled records; and decoding over earlier storage must give what a
// fresh decode gives.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "msgs/codec.h"
#include "msgs/serdetail.h"
#include "support/samples.h"
#include "support/vectors.h"
#include "zenoh.hxx"
#include "zenoh/zenoh_ext_reader.h"

namespace {

using Bytes = std::vector<uint8_t>;
using norvik::test::ZenohExtReader;
using zenoh::ext::Deserializer;

struct Outcome {
  bool ok;
  zenoh::ZResult status;
  std::string text;
  bool done;
  std::string value;
};

// Runs `read` over one reader and reports what it saw.
template <typename D, typename Read>
Outcome Report(D& d, const Read& read) {
  std::string value = read(d);
  // where a failed read leaves the cursor is nobody's business
  return {d.ok(), d.status(), d.error_text(), d.ok() && d.is_done(), d.ok() ? value : std::string()};
}

// Both readers on the same bytes; returns the library's outcome.
template <typename Read>
Outcome Both(const Bytes& bytes, const Read& read) {
  Deserializer d(bytes.data(), bytes.size());
  const Outcome ours = Report(d, read);
  Outcome theirs{};
  norvik::test::WithZenohExt(bytes.data(), bytes.size(), [&](ZenohExtReader& z) { theirs = Report(z, read); });
  EXPECT_EQ(ours.ok, theirs.ok);
  EXPECT_EQ(ours.status, theirs.status);
  EXPECT_EQ(ours.text, theirs.text);
  EXPECT_EQ(ours.done, theirs.done);
  EXPECT_EQ(ours.value, theirs.value);
  return ours;
}

const auto Length = [](auto& d) {
  size_t n = 0;
  return d.read_sequence_length(n, 0) ? std::to_string(n) : "";
};

const auto Text = [](auto& d) {
  std::string s;
  return d.read_string(s) ? s : "";
};

TEST(DeserializerReaders, SequenceLengthsAtTheEdgesOf64Bits) {
  EXPECT_EQ(Both({0x00}, Length).value, "0");
  EXPECT_EQ(Both({0xAC, 0x02}, Length).value, "300");
  EXPECT_EQ(Both({0x80, 0x80, 0x00}, Length).value, "0") << "redundant continuation bytes are accepted";
  Bytes max(9, 0xFF);
  max.push_back(0x01);
  EXPECT_EQ(Both(max, Length).value, std::to_string(std::numeric_limits<uint64_t>::max()));
  Bytes zero_tenth(9, 0x80);
  zero_tenth.push_back(0x00);
  EXPECT_EQ(Both(zero_tenth, Length).value, "0");

  Bytes over(9, 0xFF);
  over.push_back(0x02);
  EXPECT_FALSE(Both(over, Length).ok);
  Bytes eleven(10, 0x80);
  eleven.push_back(0x00);
  EXPECT_FALSE(Both(eleven, Length).ok);
  const Outcome cut = Both({0x80}, Length);
  EXPECT_FALSE(cut.ok);
  EXPECT_EQ(cut.text, "Deserialization failure:: Failed to read sequence length");
  EXPECT_FALSE(Both({}, Length).ok);
}

TEST(DeserializerReaders, LengthsBeyondThePayloadAreRejectedBeforeUse) {
  const Outcome o = Both({0x05, 1, 2, 3, 4}, [](auto& d) {
    size_t n = 0;
    return d.read_sequence_length(n, 1) ? std::to_string(n) : "";
  });
  EXPECT_TRUE(o.ok) << "exactly the payload's size is still a possible length";
  const Outcome four_bytes_each = Both({0x02, 1, 2, 3, 4}, [](auto& d) {
    size_t n = 0;
    return d.read_sequence_length(n, 4) ? std::to_string(n) : "";
  });
  EXPECT_FALSE(four_bytes_each.ok);
}

TEST(DeserializerReaders, BoolsAreOnlyZeroOrOne) {
  auto one = [](auto& d) {
    bool b = false;
    return d.read(b) ? std::to_string(b) : "";
  };
  EXPECT_EQ(Both({1}, one).value, "1");
  EXPECT_EQ(Both({0}, one).value, "0");
  EXPECT_FALSE(Both({2}, one).ok);
  EXPECT_FALSE(Both({0xFF}, one).ok);
  auto run = [](auto& d) {
    bool b[4] = {};
    return d.read_n(b, 4) ? std::to_string(b[0]) + std::to_string(b[1]) + std::to_string(b[2]) + std::to_string(b[3])
                          : "";
  };
  EXPECT_EQ(Both({1, 0, 0, 1}, run).value, "1001");
  EXPECT_FALSE(Both({1, 0, 2, 1}, run).ok);
  EXPECT_FALSE(Both({1, 0, 1}, run).ok);
}

TEST(DeserializerReaders, NumbersAreLittleEndianAndNeedAllTheirBytes) {
  auto mixed = [](auto& d) {
    uint16_t u16 = 0;
    int16_t i16 = 0;
    uint32_t u32 = 0;
    int32_t i32 = 0;
    double f64 = 0;
    uint8_t u8 = 0;
    if (!(d.read(u16) && d.read(i16) && d.read(u32) && d.read(i32) && d.read(f64) && d.read(u8))) return std::string();
    return std::to_string(u16) + " " + std::to_string(i16) + " " + std::to_string(u32) + " " + std::to_string(i32) +
           " " + std::to_string(f64) + " " + std::to_string(u8);
  };
  Bytes bytes{0x34, 0x12, 0xFE, 0xFF, 0x78, 0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0x7F};
  const double half = 0.5;
  uint8_t raw[8];
  std::memcpy(raw, &half, 8);
  bytes.insert(bytes.end(), raw, raw + 8);
  bytes.push_back(9);
  EXPECT_EQ(Both(bytes, mixed).value, "4660 -2 305419896 2147483647 0.500000 9");
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    const Outcome o = Both(Bytes(bytes.begin(), bytes.begin() + static_cast<long>(cut)), mixed);
    EXPECT_FALSE(o.ok) << "cut at " << cut;
    EXPECT_EQ(o.text, "Deserialization failure");
  }

  auto floats = [](auto& d) {
    float f[2] = {};
    if (!d.read_n(f, 2)) return std::string();
    uint32_t bits[2];
    std::memcpy(bits, f, sizeof bits);
    return std::to_string(bits[0]) + " " + std::to_string(bits[1]);
  };
  // a signalling NaN's payload and a negative zero come through bit for bit
  EXPECT_EQ(Both({0x01, 0x00, 0x80, 0x7F, 0x00, 0x00, 0x00, 0x80}, floats).value, "2139095041 2147483648");
  EXPECT_FALSE(Both({0x01, 0x00, 0x80, 0x7F, 0x00, 0x00, 0x00}, floats).ok);
}

TEST(DeserializerReaders, StringsMustBeStrictUtf8) {
  const std::vector<Bytes> valid{
      {0x00},
      {0x02, 'h', 'i'},
      {0x02, 0xC3, 0xA9},                    // é
      {0x03, 0xE2, 0x82, 0xAC},              // €
      {0x04, 0xF0, 0x9D, 0x84, 0x9E},        // 𝄞
      {0x04, 0xF4, 0x8F, 0xBF, 0xBF},        // U+10FFFF
      {0x03, 0xEF, 0xBF, 0xBF},              // U+FFFF
      {0x01, 0x00},                          // NUL is a character
  };
  for (const auto& bytes : valid) {
    const Outcome o = Both(bytes, Text);
    EXPECT_TRUE(o.ok) << "rejected a valid string of " << bytes.size() - 1 << " bytes";
    EXPECT_EQ(o.value, std::string(bytes.begin() + 1, bytes.end()));
  }
  const std::vector<Bytes> invalid{
      {0x02, 0xC0, 0x80},              // overlong NUL
      {0x02, 0xC1, 0xBF},              // overlong
      {0x03, 0xE0, 0x80, 0x80},        // overlong three-byte form
      {0x03, 0xED, 0xA0, 0x80},        // a surrogate
      {0x04, 0xF0, 0x80, 0x80, 0x80},  // overlong four-byte form
      {0x04, 0xF4, 0x90, 0x80, 0x80},  // above U+10FFFF
      {0x04, 0xF5, 0x80, 0x80, 0x80},  // no such lead byte
      {0x01, 0x80},                    // a lone continuation byte
      {0x02, 0xE2, 0x82},              // cut inside a character
      {0x02, 0xC3, 0x41},              // continuation byte missing
      {0x03, 'a', 'b'},                // shorter than its length
      {0x01, 0xFF},
  };
  for (const auto& bytes : invalid) {
    const Outcome o = Both(bytes, Text);
    EXPECT_FALSE(o.ok) << "accepted an invalid string of " << bytes.size() - 1 << " bytes";
    EXPECT_EQ(o.text, "Deserialization failure");
  }
}

TEST(DeserializerReaders, FixedArraysTakeTheShortCutOnlyWhenAllIsWell) {
  auto floats = [](auto& d) {
    std::array<float, 2> a{};
    if (!norvik::zenoh_msgs::serdetail::Read(d, a)) return std::string();
    return std::to_string(a[0]) + " " + std::to_string(a[1]);
  };
  const Bytes one_two{0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40};
  auto with_prefix = [&](Bytes prefix) {
    prefix.insert(prefix.end(), one_two.begin(), one_two.end());
    return prefix;
  };
  EXPECT_EQ(Both(with_prefix({0x02}), floats).value, "1.000000 2.000000");
  EXPECT_EQ(Both(with_prefix({0x82, 0x00}), floats).value, "1.000000 2.000000") << "a redundant prefix byte";
  for (const Bytes& prefix : std::vector<Bytes>{{0x01}, {0x03}, {0x00}}) {
    const Outcome o = Both(with_prefix(prefix), floats);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.text, "Incorrect sequence size");
  }
  Bytes cut = with_prefix({0x02});
  cut.pop_back();
  EXPECT_EQ(Both(cut, floats).text, "Deserialization failure");

  auto bools = [](auto& d) {
    std::array<bool, 3> a{};
    if (!norvik::zenoh_msgs::serdetail::Read(d, a)) return std::string();
    return std::to_string(a[0]) + std::to_string(a[1]) + std::to_string(a[2]);
  };
  EXPECT_EQ(Both({0x03, 1, 0, 1}, bools).value, "101");
  EXPECT_EQ(Both({0x03, 1, 2, 1}, bools).text, "Deserialization failure");
  EXPECT_EQ(Both({0x03, 1, 0}, bools).text, "Deserialization failure");
  EXPECT_EQ(Both({0x02, 1, 0, 1}, bools).text, "Incorrect sequence size");
}

// What a failed run leaves in its output: the library's, then zenoh-ext's.
template <typename T, size_t N>
std::pair<std::array<T, N>, std::array<T, N>> LeftBehind(const Bytes& bytes) {
  std::pair<std::array<T, N>, std::array<T, N>> out{};
  Deserializer d(bytes.data(), bytes.size());
  EXPECT_FALSE(d.read_n(out.first.data(), N));
  norvik::test::WithZenohExt(bytes.data(), bytes.size(),
                             [&](ZenohExtReader& z) { EXPECT_FALSE(z.read_n(out.second.data(), N)); });
  return out;
}

TEST(DeserializerReaders, AFailedRunLeavesWhatZenohExtLeaves) {
  // the bools before a bad one are kept
  const auto bad_bool = LeftBehind<bool, 5>({1, 1, 0, 7, 1});
  EXPECT_EQ(bad_bool.first, bad_bool.second);
  EXPECT_EQ(bad_bool.first, (std::array<bool, 5>{true, true, false, false, false}));
  // a cut run of floats keeps the bytes there were, the last value half written
  const auto cut = LeftBehind<uint32_t, 2>({0x00, 0x00, 0x80, 0x3F, 0x00, 0x00});
  EXPECT_EQ(cut.first, cut.second);
  EXPECT_EQ(cut.first[0], 0x3F800000u);
  const auto empty = LeftBehind<bool, 3>({});
  EXPECT_EQ(empty.first, empty.second);
}

TEST(DeserializerReaders, AfterTheFirstFailureEveryReadFails) {
  const Outcome o = Both({0x07, 0x01, 0x00, 0x00}, [](auto& d) {
    uint16_t u = 0;
    bool b = false;
    size_t n = 0;
    std::string s;
    const bool first = d.read(b);  // 7 is no bool
    const bool later = d.read(u) || d.read_sequence_length(n, 0) || d.read_string(s);
    return (first || later) ? std::string("read on") : std::string();
  });
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.status, NZ_EDESERIALIZE);
}

TEST(DeserializerReaders, WholeMessagesDecodeAlikeAndTrailingBytesFailAlike) {
  using norvik::zenoh_msgs::tarn_msg::AllBasicStreamData;
  using norvik::zenoh_msgs::tarn_msg::SerializeMessage;
  const auto sample = norvik::test::UniformBasic({2, 3, 4, 5}, 15, 1.25f, 7);
  Bytes bytes = SerializeMessage(sample).as_vector();
  EXPECT_EQ(SerializeMessage(zenoh::ext::deserialize<AllBasicStreamData>(zenoh::Bytes(bytes))).as_vector(), bytes);
  const auto theirs = norvik::test::DecodeWithZenohExt<AllBasicStreamData>(bytes);
  EXPECT_EQ(theirs.code, NZ_OK);
  EXPECT_EQ(SerializeMessage(theirs.value).as_vector(), bytes);

  bytes.push_back(0);
  try {
    (void)zenoh::ext::deserialize<AllBasicStreamData>(zenoh::Bytes(bytes));
    ADD_FAILURE() << "a trailing byte was accepted";
  } catch (const zenoh::ZException& e) {
    EXPECT_STREQ(e.what(), "Payload contains more bytes than required for deserialization");
    EXPECT_EQ(e.code(), NZ_EDESERIALIZE);
    EXPECT_EQ(e.what(), norvik::test::DecodeWithZenohExt<AllBasicStreamData>(bytes).text);
  }
}

// deserialize<T> against zenoh-ext's reader on `bytes` (code, text, partly
// filled record), and deserialize_into over `earlier`'s storage against both.
template <typename T>
void ExpectLikeZenohExt(const Bytes& bytes, T& earlier) {
  using norvik::zenoh_msgs::tarn_msg::SerializeMessage;
  const zenoh::Bytes payload(bytes);
  zenoh::ZResult err = 0;
  const T ours = zenoh::ext::deserialize<T>(payload, &err);
  const auto theirs = norvik::test::DecodeWithZenohExt<T>(bytes);
  EXPECT_EQ(err, theirs.code);
  EXPECT_EQ(SerializeMessage(ours).as_vector(), SerializeMessage(theirs.value).as_vector());
  try {
    (void)zenoh::ext::deserialize<T>(payload);
    EXPECT_EQ(err, NZ_OK);
  } catch (const zenoh::ZException& e) {
    EXPECT_EQ(e.code(), err);
    EXPECT_EQ(e.what(), theirs.text);
  }
  EXPECT_EQ(zenoh::ext::deserialize_into(payload.view(), earlier), err);
  if (err == NZ_OK) EXPECT_EQ(SerializeMessage(earlier).as_vector(), SerializeMessage(ours).as_vector());
}

// Every cut of a message, and every byte of it set to 2 (a bad bool, a
// length off) or to 0xFF (a length that runs on), over storage that the
// inputs before left behind.
template <typename T>
void ExpectEveryVariantLikeZenohExt(const Bytes& full) {
  T earlier = zenoh::ext::deserialize<T>(zenoh::Bytes(full));
  for (size_t len = 0; len <= full.size() && !::testing::Test::HasFailure(); ++len) {
    SCOPED_TRACE("cut to " + std::to_string(len));
    ExpectLikeZenohExt(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(len)), earlier);
  }
  for (size_t at = 0; at < full.size() && !::testing::Test::HasFailure(); ++at) {
    for (uint8_t v : {uint8_t{0x02}, uint8_t{0xFF}}) {
      SCOPED_TRACE("byte " + std::to_string(at) + " set to " + std::to_string(v));
      Bytes bad = full;
      bad[at] = v;
      ExpectLikeZenohExt(bad, earlier);
    }
  }
}

TEST(DeserializerReaders, CutOrCorruptedMessagesLeaveWhatZenohExtLeaves) {
  using namespace norvik::zenoh_msgs::tarn_msg;
  ExpectEveryVariantLikeZenohExt<AllBasicStreamData>(norvik::test::Vector("stream_vectors.txt", "basic_dual"));
  ExpectEveryVariantLikeZenohExt<AllExtraStreamData>(norvik::test::Vector("stream_vectors.txt", "extra_dual"));
  ExpectEveryVariantLikeZenohExt<RPCReply>(norvik::test::Vector("rpc_vectors.txt", "reply_full"));
}

TEST(DeserializeInto, ReusesStorageAndOverwritesEveryField) {
  using norvik::zenoh_msgs::tarn_msg::AllBasicStreamData;
  using norvik::zenoh_msgs::tarn_msg::SerializeMessage;
  auto first = norvik::test::UniformBasic({2, 3, 4, 5}, 15, 1.0f, 1);
  auto second = norvik::test::UniformBasic({2, 3, 4, 5}, 15, 2.0f, 2);
  second.estop_released = !first.estop_released;
  second.digital_inputs[19] = !first.digital_inputs[19];
  second.cartesian_data[3].tcp_pose[6] = -4.0f;
  second.joint_data.contact_forces[14] = {9.0f, 8.0f, 7.0f};

  AllBasicStreamData value;
  ASSERT_EQ(zenoh::ext::deserialize_into(SerializeMessage(first).view(), value), NZ_OK);
  const float* q_storage = value.joint_data.q.data();
  const auto* cartesian_storage = value.cartesian_data.data();
  ASSERT_EQ(zenoh::ext::deserialize_into(SerializeMessage(second).view(), value), NZ_OK);
  EXPECT_EQ(value.joint_data.q.data(), q_storage) << "same shape, same storage";
  EXPECT_EQ(value.cartesian_data.data(), cartesian_storage);
  EXPECT_EQ(SerializeMessage(value).as_vector(), SerializeMessage(second).as_vector());

  // a smaller robot over a bigger one's storage, then a failure
  const auto single = norvik::test::UniformBasic({3}, 7, 3.0f, 3);
  ASSERT_EQ(zenoh::ext::deserialize_into(SerializeMessage(single).view(), value), NZ_OK);
  EXPECT_EQ(SerializeMessage(value).as_vector(), SerializeMessage(single).as_vector());
  Bytes cut = SerializeMessage(second).as_vector();
  cut.pop_back();
  EXPECT_EQ(zenoh::ext::deserialize_into(zenoh::Bytes(cut).view(), value), NZ_EDESERIALIZE);
  // and the storage is still good for the next sample
  ASSERT_EQ(zenoh::ext::deserialize_into(SerializeMessage(first).view(), value), NZ_OK);
  EXPECT_EQ(SerializeMessage(value).as_vector(), SerializeMessage(first).as_vector());
}

}  // namespace
