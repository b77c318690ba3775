// The C ABI's one rule for null pointers: fallible calls answer NZ_ENULL and
// still release what they consume, data may be null only with length 0,
// drops take null, views of null are empty. A call that dereferences null
// crashes this test; a consumed handle it forgets shows under LeakSanitizer.
#include <gtest/gtest.h>

#include "norvik_zenoh.h"

namespace {

NzBytes* Payload() {
  NzBytes* out = nullptr;
  const uint8_t data[3] = {1, 2, 3};
  EXPECT_EQ(nz_bytes_copy_from(&out, data, 3), NZ_OK);
  return out;
}

void OnSample(void*, const NzBytes*) {}
void OnQuery(void*, const NzQuery*) {}
void OnReply(void*, bool, const NzBytes*, const char*, size_t) {}
void CountDrop(void* ctx) { ++*static_cast<int*>(ctx); }

TEST(NullArguments, FallibleCallsAnswerENullAndReleaseWhatTheyConsume) {
  EXPECT_EQ(nz_config_default(nullptr), NZ_ENULL);
  NzConfig* config = nullptr;
  EXPECT_EQ(nz_config_from_file(&config, nullptr), NZ_ENULL);
  EXPECT_EQ(nz_config_from_file(nullptr, "/nonexistent.json5"), NZ_ENULL);
  EXPECT_EQ(nz_config_from_json5(nullptr, "{}"), NZ_ENULL);
  EXPECT_EQ(nz_config_insert_json5(nullptr, "mode", "\"peer\""), NZ_ENULL);
  EXPECT_EQ(nz_config_get_json(nullptr, "mode", nullptr, 0), NZ_ENULL);
  EXPECT_EQ(nz_open(nullptr, nullptr), NZ_ENULL);
  ASSERT_EQ(nz_config_default(&config), NZ_OK);
  EXPECT_EQ(nz_open(nullptr, config), NZ_ENULL);  // consumed all the same, and nothing opened
  EXPECT_EQ(nz_close(nullptr), NZ_ENULL);

  NzKeyExpr* ke = nullptr;
  EXPECT_EQ(nz_keyexpr_from_str(&ke, nullptr, 3), NZ_ENULL);
  EXPECT_EQ(nz_keyexpr_autocanonize(nullptr, "a/b", 3), NZ_ENULL);
  EXPECT_EQ(ke, nullptr);

  EXPECT_EQ(nz_bytes_copy_from(nullptr, nullptr, 0), NZ_ENULL);
  NzBytes* bytes = nullptr;
  EXPECT_EQ(nz_bytes_copy_from(&bytes, nullptr, 1), NZ_ENULL);
  EXPECT_EQ(nz_publisher_put(nullptr, Payload()), NZ_ENULL);
  EXPECT_EQ(nz_query_reply(nullptr, Payload(), true), NZ_ENULL);
  EXPECT_EQ(nz_query_reply_err(nullptr, Payload()), NZ_ENULL);
  EXPECT_EQ(nz_publisher_put(nullptr, nullptr), NZ_ENULL);

  EXPECT_EQ(nz_serializer_new(nullptr), NZ_ENULL);
  NzSerializer* ser = nullptr;
  ASSERT_EQ(nz_serializer_new(&ser), NZ_OK);
  EXPECT_EQ(nz_ser_f64_n(ser, nullptr, 2), NZ_ENULL);
  EXPECT_EQ(nz_ser_f64_n(ser, nullptr, 0), NZ_OK);
  EXPECT_EQ(nz_ser_string(ser, nullptr, 0), NZ_OK);
  EXPECT_EQ(nz_ser_u8(nullptr, 1), NZ_ENULL);
  EXPECT_EQ(nz_serializer_finish(ser, nullptr), NZ_ENULL);  // consumed all the same
  EXPECT_EQ(nz_serializer_finish(nullptr, &bytes), NZ_ENULL);

  EXPECT_EQ(nz_declare_subscriber(nullptr, nullptr, nullptr, OnSample, nullptr, nullptr), NZ_ENULL);
  EXPECT_EQ(nz_declare_queryable(nullptr, nullptr, nullptr, OnQuery, nullptr, nullptr), NZ_ENULL);
  EXPECT_EQ(nz_declare_publisher(nullptr, nullptr, nullptr), NZ_ENULL);
  EXPECT_EQ(nz_undeclare_subscriber(nullptr), NZ_ENULL);
  EXPECT_EQ(nz_undeclare_queryable(nullptr), NZ_ENULL);
  EXPECT_EQ(nz_undeclare_publisher(nullptr), NZ_ENULL);
  EXPECT_EQ(nz_query_clone(nullptr, nullptr), NZ_ENULL);
}

TEST(NullArguments, CallbacksAreRequiredAndTheDropStillRuns) {
  NzConfig* config = nullptr;
  ASSERT_EQ(nz_config_default(&config), NZ_OK);
  ASSERT_EQ(nz_config_insert_json5(config, "scouting/multicast/enabled", "false"), NZ_OK);
  NzSession* session = nullptr;
  ASSERT_EQ(nz_open(&session, config), NZ_OK);
  NzKeyExpr* ke = nullptr;
  ASSERT_EQ(nz_keyexpr_from_str(&ke, "norvik/null/test", 16), NZ_OK);

  int drops = 0;
  NzSubscriber* sub = nullptr;
  EXPECT_EQ(nz_declare_subscriber(&sub, session, ke, nullptr, CountDrop, &drops), NZ_ENULL);
  NzQueryable* queryable = nullptr;
  EXPECT_EQ(nz_declare_queryable(&queryable, session, ke, nullptr, CountDrop, &drops), NZ_ENULL);
  NzGetOptions options{};
  options.payload = Payload();
  options.timeout_ms = 100;
  options.priority = NZ_PRIORITY_DATA;
  EXPECT_EQ(nz_get(session, ke, &options, nullptr, CountDrop, &drops), NZ_ENULL);  // payload released
  EXPECT_EQ(nz_get(session, ke, nullptr, OnReply, CountDrop, &drops), NZ_ENULL);
  EXPECT_EQ(drops, 4);  // the caller's context is never left behind
  EXPECT_EQ(sub, nullptr);
  EXPECT_EQ(queryable, nullptr);

  nz_keyexpr_drop(ke);
  EXPECT_EQ(nz_close(session), NZ_OK);
}

TEST(NullArguments, DropsTakeNullAndViewsOfNullAreEmpty) {
  nz_config_drop(nullptr);
  nz_keyexpr_drop(nullptr);
  nz_bytes_drop(nullptr);
  nz_serializer_drop(nullptr);
  nz_query_drop(nullptr);

  size_t len = 99;
  EXPECT_EQ(nz_keyexpr_as_str(nullptr, &len), nullptr);
  EXPECT_EQ(len, 0u);
  len = 99;
  EXPECT_EQ(nz_query_parameters(nullptr, &len), nullptr);
  EXPECT_EQ(len, 0u);
  EXPECT_EQ(nz_query_payload(nullptr), nullptr);
  EXPECT_EQ(nz_bytes_len(nullptr), 0u);
  uint8_t out[4] = {};
  EXPECT_EQ(nz_bytes_copy_to(nullptr, out, sizeof out), 0u);

  NzBytes* bytes = Payload();
  EXPECT_EQ(nz_bytes_copy_to(bytes, nullptr, 4), 0u);
  EXPECT_EQ(nz_bytes_copy_to(bytes, out, 0), 0u);
  EXPECT_EQ(nz_bytes_copy_to(bytes, out, sizeof out), 3u);
  const uint8_t* data = nullptr;
  EXPECT_FALSE(nz_bytes_contiguous(bytes, &data, nullptr));
  NzKeyExpr* ke = nullptr;
  ASSERT_EQ(nz_keyexpr_from_str(&ke, "a/b", 3), NZ_OK);
  EXPECT_NE(nz_keyexpr_as_str(ke, nullptr), nullptr);  // the length is optional
  nz_keyexpr_drop(ke);
  nz_bytes_drop(bytes);
}

}  // namespace
