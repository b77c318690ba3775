// One Zenoh session per process, reopened after every holder let it go.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "middleware/shared_session.h"

namespace norvik::zenoh_mdw {
namespace {

TEST(SharedSession, SharesOneSessionWhileAHolderExists) {
  auto first = GetSharedZenohSession();
  auto second = GetSharedZenohSession();
  ASSERT_TRUE(first && *first);
  EXPECT_EQ(first.get(), second.get());
  EXPECT_EQ(first.use_count(), 2);
}

TEST(SharedSession, OpensAFreshSessionAfterAllHoldersAreGone) {
  std::weak_ptr<zenoh::Session> old;
  {
    auto session = GetSharedZenohSession();
    old = session;
  }
  EXPECT_TRUE(old.expired());
  auto fresh = GetSharedZenohSession();
  ASSERT_TRUE(fresh && *fresh);
  EXPECT_TRUE(old.expired());
}

TEST(SharedSession, ConcurrentCallersGetTheSameSession) {
  std::vector<std::shared_ptr<zenoh::Session>> shares(8);
  std::vector<std::thread> threads;
  for (auto& share : shares) threads.emplace_back([&share] { share = GetSharedZenohSession(); });
  for (auto& t : threads) t.join();
  for (const auto& share : shares) EXPECT_EQ(share.get(), shares[0].get());
}

}  // namespace
}  // namespace norvik::zenoh_mdw
