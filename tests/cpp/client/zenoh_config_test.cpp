// Choosing the Zenoh configuration: in code or by ZENOH_CONFIG, the errors
// that name what is wrong, and when a choice may be made.
#include <gtest/gtest.h>

#include <dirent.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>

#include "middleware/shared_session.h"
#include "norvik/tarn.h"
#include "support/sim_robot.h"

namespace norvik::tarn {
namespace {

// Each test starts from "nothing chosen, no ZENOH_CONFIG" and leaves it so.
class ZenohConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    unsetenv("ZENOH_CONFIG");
    zenoh_mdw::SetSessionConfig(std::nullopt);
  }

  std::string WriteFile(const std::string& name, const std::string& text) {
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path) << text;
    return path;
  }
};

template <typename Exception, typename Call>
std::string MessageOf(Call&& call) {
  try {
    call();
  } catch (const Exception& e) {
    return e.what();
  }
  ADD_FAILURE() << "nothing thrown";
  return {};
}

size_t OpenDescriptors() {
  size_t n = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++n;
    closedir(dir);
  }
  return n;
}

TEST_F(ZenohConfigTest, BadFilesAndTextsNameWhatIsWrongWithZenohsReason) {
  const std::string missing = ::testing::TempDir() + "no-such-config.json5";
  EXPECT_EQ(MessageOf<std::invalid_argument>([&] { ZenohConfig::from_file(missing); }),
            "[norvik::tarn::ZenohConfig] Failed to load the Zenoh configuration file '" + missing +
                "': No such file or directory (os error 2)");

  const std::string broken = WriteFile("broken.json5", "{ mode: 'client', ");
  const std::string text = MessageOf<std::invalid_argument>([&] { ZenohConfig::from_file(broken); });
  EXPECT_EQ(text.rfind("[norvik::tarn::ZenohConfig] Failed to load the Zenoh configuration file '" + broken + "': ", 0),
            0u)
      << text;

  const std::string invalid = WriteFile("invalid.json5", "{ mode: 'banana' }");
  EXPECT_NE(MessageOf<std::invalid_argument>([&] { ZenohConfig::from_file(invalid); }).find("unknown variant `banana`"),
            std::string::npos);
  EXPECT_NE(MessageOf<std::invalid_argument>([] { ZenohConfig::from_json5("{ mode: 'banana' }"); })
                .find("given as JSON5 text: unknown variant `banana`"),
            std::string::npos);

  EXPECT_EQ(MessageOf<std::invalid_argument>([] { ZenohConfig::connect_to({}); }),
            "[norvik::tarn::ZenohConfig] No endpoint to connect to");
  // An endpoint is user text: it is quoted into JSON5, never spliced in.
  const std::string odd = MessageOf<std::invalid_argument>([] { ZenohConfig::connect_to({"tcp\"], mode: \"x"}); });
  EXPECT_NE(odd.find("Failed to set connect/endpoints"), std::string::npos) << odd;
}

TEST_F(ZenohConfigTest, DescriptionsSayWhereTheConfigurationComesFrom) {
  EXPECT_EQ(zenoh_config().description(), "Zenoh's default configuration");
  const std::string file = WriteFile("peer.json5", "{ mode: 'peer' }");
  setenv("ZENOH_CONFIG", file.c_str(), 1);
  EXPECT_EQ(zenoh_config().description(), "the Zenoh configuration file '" + file + "' (ZENOH_CONFIG)");
  setenv("ZENOH_CONFIG", "", 1);  // set but empty counts as not set
  EXPECT_EQ(zenoh_config().description(), "Zenoh's default configuration");
  use_zenoh_config(ZenohConfig::connect_to({"tcp/198.18.0.1:7447", "tcp/198.18.0.3:7447"}, ZenohMode::Peer));
  EXPECT_EQ(zenoh_config().description(), "Zenoh peer mode connecting to tcp/198.18.0.1:7447, tcp/198.18.0.3:7447");
}

TEST_F(ZenohConfigTest, ChoosingWhileTheSessionIsOpenIsRefusedAndChangesNothing) {
  const auto chosen = ZenohConfig::from_json5("{ mode: 'peer' }");
  use_zenoh_config(chosen);
  {
    const auto session = zenoh_mdw::GetSharedZenohSession();
    EXPECT_TRUE(zenoh_session_open());
    EXPECT_EQ(MessageOf<std::logic_error>([] { use_zenoh_config(ZenohConfig::defaults()); }),
              "[norvik::tarn::use_zenoh_config] The Zenoh session is already open: choose its configuration before "
              "the first client connects, or once every client is gone");
    EXPECT_EQ(zenoh_config().description(), chosen.description());
  }
  EXPECT_FALSE(zenoh_session_open());
  use_zenoh_config(ZenohConfig::defaults());  // allowed again once the last holder is gone
  EXPECT_EQ(zenoh_config().description(), "Zenoh's default configuration");
}

TEST_F(ZenohConfigTest, ABadZenohConfigFileFailsTheClientAndLeavesNothingOpen) {
  const std::string broken = WriteFile("env-broken.json5", "{ connect: { endpoints: 7 } }");
  setenv("ZENOH_CONFIG", broken.c_str(), 1);
  const size_t before = OpenDescriptors();
  for (int i = 0; i < 3; ++i) {
    const std::string text = MessageOf<std::runtime_error>([] { Client("Rizon 4s-000001", false); });
    EXPECT_EQ(text.rfind("Failed to load the Zenoh configuration file '" + broken + "' (ZENOH_CONFIG): ", 0), 0u)
        << text;
    EXPECT_FALSE(zenoh_session_open());
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(ZenohConfigTest, UnreachableRoutersFailTheClientInTheConnectionTimeNamingThem) {
  // Our own address in the namespace, a port nobody listens on: every try is refused.
  use_zenoh_config(ZenohConfig::connect_to({"tcp/198.18.0.1:9"}));
  const auto start = std::chrono::steady_clock::now();
  const std::string text = MessageOf<std::runtime_error>([] { Client("Rizon 4s-000001", false); });
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(text.rfind("Failed to open session with Zenoh client mode connecting to tcp/198.18.0.1:9: Unable to "
                       "connect to any of [",
                       0),
            0u)
      << text;
  EXPECT_NE(text.find("tcp/198.18.0.1:9"), text.rfind("tcp/198.18.0.1:9")) << "the reason names it too: " << text;
  // Three probes of a robot that is not there take about as long.
  EXPECT_LT(took, std::chrono::seconds(6));
  EXPECT_FALSE(zenoh_session_open());
}

TEST_F(ZenohConfigTest, TheClientFollowsZenohConfigAndTheChoiceInCodeWins) {
  const std::string closed =
      WriteFile("closed.json5", "{ mode: 'client', connect: { endpoints: ['tcp/198.18.0.1:9'], timeout_ms: 500 } }");
  setenv("ZENOH_CONFIG", closed.c_str(), 1);
  const std::string text = MessageOf<std::runtime_error>([] { Client("Rizon 4s-CFG001", false); });
  EXPECT_EQ(text.rfind("Failed to open session with the Zenoh configuration file '" + closed + "' (ZENOH_CONFIG): ", 0),
            0u)
      << text;
  // Chosen in code, Zenoh's defaults find the robot by scouting, ZENOH_CONFIG notwithstanding
  // (the robot, which would follow it too, is told otherwise).
  use_zenoh_config(ZenohConfig::defaults());
  test::SimRobot robot("Rizon-4s-CFG001", {"--no-streams", "--config", WriteFile("peer.json5", "{ mode: 'peer' }")});
  Client client("Rizon 4s-CFG001", false);
  EXPECT_EQ(client.server_version(), "v2.1");
  EXPECT_EQ(client.layout().at(JointGroup::ARM_2), (std::pair<uint32_t, uint64_t>{7, 7}));
}

}  // namespace
}  // namespace norvik::tarn
