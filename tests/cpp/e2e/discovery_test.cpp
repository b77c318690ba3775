// Finding the robots on the network.
#include <gtest/gtest.h>

#include <chrono>

#include "norvik/tarn.h"
#include "support/sim_robot.h"

namespace norvik::tarn {
namespace {

using namespace std::chrono_literals;

TEST(ListRobots, EveryAnsweringRobotOnceWithTheVersionItReports) {
  test::SimRobot a("Rizon-4s-LIST01", {"--no-streams"});
  test::SimRobot b("Rizon-4s-LIST02", {"--no-streams", "--version-reply", "v2.0"});
  test::SimRobot silent("Rizon-4s-LIST03", {"--no-streams", "--version-empty"});
  const auto found = list_robots(1500ms);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].serial, "Rizon-4s-LIST01");
  EXPECT_EQ(found[0].server_version, "v2.1");
  EXPECT_EQ(found[1].serial, "Rizon-4s-LIST02");
  EXPECT_EQ(found[1].server_version, "v2.0");
  EXPECT_EQ(found[2].serial, "Rizon-4s-LIST03");
  EXPECT_EQ(found[2].server_version, "");
}

TEST(ListRobots, NoneWhenNoneAnswersAfterTheWholeTimeOut) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(list_robots(300ms).empty());
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
  EXPECT_FALSE(zenoh_session_open());  // the call's own share is gone with it
}

}  // namespace
}  // namespace norvik::tarn
