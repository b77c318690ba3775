// Key expressions taken as written or canonised, and a get's selector
// parameters reaching the queryable.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>

#include "middleware/shared_session.h"
#include "zenoh.hxx"

namespace {

TEST(Selector, StrictKeysMustAlreadyBeCanonical) {
  EXPECT_EQ(zenoh::KeyExpr("norvik/robot/a/**/**", true).as_string_view(), "norvik/robot/a/**");
  EXPECT_EQ(zenoh::KeyExpr("norvik/robot/a/**", false).as_string_view(), "norvik/robot/a/**");
  try {
    zenoh::KeyExpr loose("norvik/robot/a/**/**", false);
    ADD_FAILURE() << "took a key that is not canonical as written";
  } catch (const zenoh::ZException& e) {
    EXPECT_STREQ(e.what(), "Failed to construct KeyExpr from: norvik/robot/a/**/**");
  }
}

TEST(Selector, ParametersReachTheQueryableAndNoneIsEmpty) {
  const auto session = norvik::zenoh_mdw::GetSharedZenohSession();
  const zenoh::KeyExpr ke("test/selector/params");
  std::mutex m;
  std::condition_variable cv;
  std::vector<std::string> seen;
  auto queryable = session->declare_queryable(
      ke,
      [&](zenoh::QueryView q) {
        std::lock_guard<std::mutex> lock(m);
        seen.emplace_back(q.parameters());
        cv.notify_all();
      },
      [] {});
  for (const std::string parameters : {"a=1;b=two", ""}) {
    zenoh::GetOptions options;
    options.timeout_ms = 500;
    session->get(ke, parameters, [](bool, zenoh::BytesView) {}, [] {}, std::move(options));
  }
  std::unique_lock<std::mutex> lock(m);
  ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return seen.size() == 2; }));
  EXPECT_EQ(seen[0], "a=1;b=two");
  EXPECT_EQ(seen[1], "");
}

}  // namespace
