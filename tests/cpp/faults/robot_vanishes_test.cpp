// The robot disappears mid-run (crashes, stops, hangs) and comes back: every
// request-backed call fails with its own error within its deadline plus
// 50 ms, connected() turns false, the stream getters keep the last sample,
// and once the robot is back the same client works again, through Zenoh's
// own reconnection.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "faults/fault_support.h"
#include "norvik/tarn.h"

namespace norvik::tarn {
namespace {

using test::faults::Figure;
using test::faults::Ms;
using test::faults::Outcome;
using test::faults::Sim;
using test::faults::Timed;

constexpr double kSlack = 0.050;
constexpr double kRequestDeadline = 2.0;
constexpr double kProbeDeadline = 1.0;
const std::string kPlanError = "[norvik::tarn::Client] plan_info: No reply from the robot";
const std::string kPrimitiveError = "[norvik::tarn::Client::primitive_states] No reply from the robot";
const std::string kScoreError = "[norvik::tarn::Model::configuration_score] No reply from the robot";

const std::vector<std::string> kDual{"--profile", "dual"};

// What the stream getters serve.
struct Snapshot {
  std::map<JointGroup, RobotStates> states;
  std::map<JointGroup, RobotActions> actions;
  std::map<JointGroup, std::string> groups;
  std::array<bool, 20> inputs{}, outputs{};
  bool estop = false, enabling = false;

  static Snapshot Of(const Client& c) {
    return {c.states(), c.actions(), c.groups(), c.digital_inputs(), c.digital_outputs(), c.estop_released(),
            c.enabling_device_on()};
  }
  std::pair<int32_t, int32_t> stamp() const { return states.empty() ? std::pair<int32_t, int32_t>{0, 0} : states.begin()->second.timestamp; }
};

// Same sample: the same groups with the same stamps and values.
::testing::AssertionResult SameSample(const Snapshot& a, const Snapshot& b) {
  if (a.groups != b.groups) return ::testing::AssertionFailure() << "groups differ";
  if (a.states.size() != b.states.size() || a.actions.size() != b.actions.size()) {
    return ::testing::AssertionFailure() << "group counts differ";
  }
  for (const auto& [g, s] : a.states) {
    const auto& t = b.states.at(g);
    if (s.timestamp != t.timestamp || s.q != t.q || s.tau != t.tau || s.tcp_pose != t.tcp_pose) {
      return ::testing::AssertionFailure() << "states of group " << static_cast<int>(g) << " differ: stamp "
                                           << s.timestamp.first << "." << s.timestamp.second << " vs "
                                           << t.timestamp.first << "." << t.timestamp.second;
    }
  }
  for (const auto& [g, s] : a.actions) {
    const auto& t = b.actions.at(g);
    if (s.q_d != t.q_d || s.tcp_pose_d != t.tcp_pose_d) {
      return ::testing::AssertionFailure() << "actions of group " << static_cast<int>(g) << " differ";
    }
  }
  if (a.inputs != b.inputs || a.outputs != b.outputs || a.estop != b.estop || a.enabling != b.enabling) {
    return ::testing::AssertionFailure() << "status differs";
  }
  return ::testing::AssertionSuccess();
}

// Readers on threads of their own all along, as an application has them.
class Readers {
 public:
  explicit Readers(const Client& client) {
    for (int t = 0; t < 2; ++t) {
      threads_.emplace_back([this, &client] {
        while (!stop_) {
          const bool empty = client.states().empty() || client.actions().empty();
          empty_ += empty ? 1 : 0;
          ++reads_;
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
      });
    }
  }
  ~Readers() { Stop(); }
  void Stop() {
    stop_ = true;
    for (auto& t : threads_) {
      if (t.joinable()) t.join();
    }
  }
  long reads() const { return reads_; }
  long empty() const { return empty_; }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<long> reads_{0}, empty_{0};
  std::vector<std::thread> threads_;
};

// One round of every request-backed call against a robot that is gone; each
// fails with its error within its deadline. Returns the slowest.
double ExpectRequestsFail(const Client& client, const std::string& round) {
  double slowest = 0;
  auto expect = [&](const Outcome& o, const std::string& error, double deadline, const char* call) {
    EXPECT_TRUE(o.threw) << call << " returned (" << round << ")";
    EXPECT_EQ(o.what, error) << call << " (" << round << ")";
    EXPECT_LE(o.seconds, deadline + kSlack) << call << " overran its deadline (" << round << ")";
    slowest = std::max(slowest, o.seconds);
    return Ms(o.seconds);
  };
  std::string line = expect(Timed([&] { client.plan_info(); }), kPlanError, kRequestDeadline, "plan_info");
  line += ", " + expect(Timed([&] { client.primitive_states(); }), kPrimitiveError, kRequestDeadline, "primitive_states");
  line += ", " + expect(Timed([&] { client.configuration_score(); }), kScoreError, kRequestDeadline, "configuration_score");
  bool connected = true;
  const Outcome probe = Timed([&] { connected = client.connected(); });
  EXPECT_FALSE(probe.threw) << probe.what;
  EXPECT_FALSE(connected) << "connected() while the robot is gone (" << round << ")";
  EXPECT_LE(probe.seconds, kProbeDeadline + kSlack) << "connected() overran its deadline (" << round << ")";
  slowest = std::max(slowest, probe.seconds);
  Figure(round, "plan_info, primitive_states, configuration_score, connected took " + line + ", " + Ms(probe.seconds));
  return slowest;
}

void ExpectRequestsWork(const Client& client) {
  EXPECT_FALSE(client.plan_info().assigned_plan_name.empty());
  EXPECT_EQ(client.primitive_states().size(), 4u);
  EXPECT_EQ(client.configuration_score().size(), 4u);
  EXPECT_TRUE(client.connected());
}

// Polls connected() (each call within its deadline) until it is true; the
// seconds that took, or a negative value.
double WaitConnected(const Client& client, std::chrono::seconds within) {
  const auto t0 = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - t0 < within) {
    bool connected = false;
    const Outcome probe = Timed([&] { connected = client.connected(); });
    EXPECT_LE(probe.seconds, kProbeDeadline + kSlack) << "connected() overran its deadline";
    if (connected) return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  return -1;
}

enum class Vanish { kCrash, kStop };

class RobotVanishes : public ::testing::TestWithParam<Vanish> {};

TEST_P(RobotVanishes, CallsFailInTimeTheLastSampleStaysAndTheRobotComesBack) {
  const std::string serial = test::UniqueSerial();
  auto sim = std::make_unique<Sim>(serial, kDual);
  Client client(serial, false);
  ExpectRequestsWork(client);
  Readers readers(client);

  if (GetParam() == Vanish::kCrash) {
    sim->Kill();
  } else {
    sim.reset();  // SIGTERM: the robot closes its session
  }
  ExpectRequestsFail(client, "first calls after the robot went");
  // No sample can be on its way any more: from here on the getters serve one.
  const Snapshot last = Snapshot::Of(client);
  ASSERT_EQ(last.states.size(), 4u);
  ASSERT_EQ(last.actions.size(), 4u);
  for (int round = 2; round <= 3; ++round) {
    ExpectRequestsFail(client, "round " + std::to_string(round) + " without the robot");
    EXPECT_TRUE(SameSample(Snapshot::Of(client), last));
  }

  // The robot comes back under the same serial number.
  sim = std::make_unique<Sim>(serial, kDual);
  const double reconnected = WaitConnected(client, std::chrono::seconds(30));
  ASSERT_GE(reconnected, 0) << "the same client never reached the robot again";
  ASSERT_TRUE(test::WaitFor([&] { return Snapshot::Of(client).stamp() != last.stamp(); })) << "no new samples";
  Figure("back", "the same client answered again " + Ms(reconnected) + " after the robot restarted");
  ExpectRequestsWork(client);
  Client fresh(serial, false);
  EXPECT_EQ(fresh.states().size(), 4u);
  ExpectRequestsWork(fresh);

  readers.Stop();
  EXPECT_GT(readers.reads(), 100);
  EXPECT_EQ(readers.empty(), 0) << "a reader saw no sample while the robot was gone";
}

INSTANTIATE_TEST_SUITE_P(Faults, RobotVanishes, ::testing::Values(Vanish::kCrash, Vanish::kStop),
                         [](const auto& info) { return info.param == Vanish::kCrash ? "Crash" : "Stop"; });

// A frozen robot keeps its connection open, so queries are still routed to
// it and end at their time-out, not at once.
TEST(FaultsFrozenRobot, CallsEndAtTheirDeadlineAndWorkAgainOnceItThaws) {
  const std::string serial = test::UniqueSerial();
  Sim sim(serial, kDual);
  Client client(serial, false);
  ExpectRequestsWork(client);
  Readers readers(client);

  sim.Freeze();
  const Outcome plan = Timed([&] { client.plan_info(); });
  EXPECT_EQ(plan.what, kPlanError);
  EXPECT_LE(plan.seconds, kRequestDeadline + kSlack);
  EXPECT_GE(plan.seconds, kRequestDeadline - kSlack) << "the query was not routed to the frozen robot";
  const Snapshot last = Snapshot::Of(client);
  bool connected = true;
  const Outcome probe = Timed([&] { connected = client.connected(); });
  EXPECT_FALSE(connected);
  EXPECT_LE(probe.seconds, kProbeDeadline + kSlack);
  const Outcome score = Timed([&] { client.configuration_score(); });
  EXPECT_EQ(score.what, kScoreError);
  EXPECT_LE(score.seconds, kRequestDeadline + kSlack);
  EXPECT_TRUE(SameSample(Snapshot::Of(client), last));
  Figure("frozen robot", "plan_info " + Ms(plan.seconds) + ", connected " + Ms(probe.seconds) +
                             ", configuration_score " + Ms(score.seconds));

  // Thawed within Zenoh's lease (10 s): the link never dropped; the robot
  // answers its backlog late, and those replies must reach no later call.
  sim.Thaw();
  const double back = WaitConnected(client, std::chrono::seconds(10));
  ASSERT_GE(back, 0);
  ASSERT_TRUE(test::WaitFor([&] { return Snapshot::Of(client).stamp() != last.stamp(); }));
  ExpectRequestsWork(client);
  Figure("thawed robot", "answered again after " + Ms(back));
  readers.Stop();
  EXPECT_EQ(readers.empty(), 0);
}

// Frozen past the lease, the robot's link is dropped: queries then find no
// queryable and end at once; after the thaw Zenoh links the two again.
TEST(FaultsFrozenRobot, PastTheLeaseCallsFailAtOnceAndTheLinkComesBack) {
  const std::string serial = test::UniqueSerial();
  Sim sim(serial, kDual);
  Client client(serial, false);
  ExpectRequestsWork(client);
  const Snapshot before = Snapshot::Of(client);

  sim.Freeze();
  const auto frozen_at = std::chrono::steady_clock::now();
  // Each probe ends at its deadline while the link stands, at once after.
  // A probe running when the link drops ends early too, while the route to
  // the robot may still stand for a moment: two quick probes in a row count.
  double probe_seconds = 1;
  int quick = 0;
  while (quick < 2 && std::chrono::steady_clock::now() - frozen_at < std::chrono::seconds(25)) {
    bool connected = true;
    const Outcome probe = Timed([&] { connected = client.connected(); });
    EXPECT_FALSE(connected);
    EXPECT_LE(probe.seconds, kProbeDeadline + kSlack);
    probe_seconds = probe.seconds;
    quick = probe_seconds <= 0.5 && !connected ? quick + 1 : 0;
  }
  const double dropped_after = std::chrono::duration<double>(std::chrono::steady_clock::now() - frozen_at).count();
  ASSERT_LE(probe_seconds, 0.5) << "the link to the frozen robot never dropped";
  const double slowest = ExpectRequestsFail(client, "frozen past the lease");
  EXPECT_LT(slowest, 0.5) << "with no robot known, calls should end at once";
  EXPECT_NE(Snapshot::Of(client).stamp(), std::make_pair(0, 0));

  sim.Thaw();
  const double back = WaitConnected(client, std::chrono::seconds(30));
  ASSERT_GE(back, 0) << "the client never reached the thawed robot";
  ASSERT_TRUE(test::WaitFor([&] { return Snapshot::Of(client).stamp() != before.stamp(); }));
  ExpectRequestsWork(client);
  Figure("lease", "link dropped " + Ms(dropped_after) + " after the freeze; answered again " + Ms(back) +
                      " after the thaw");
}

// Several threads asking a frozen robot at once: each call, not only the
// first, must end within its own deadline.
TEST(FaultsFrozenRobot, ConcurrentCallersEachEndWithinTheirDeadline) {
  const std::string serial = test::UniqueSerial();
  Sim sim(serial, kDual);
  Client client(serial, false);
  ExpectRequestsWork(client);
  sim.Freeze();
  struct Caller {
    const char* name;
    double deadline;
    std::function<void()> call;
    Outcome outcome;
  };
  std::vector<Caller> callers{
      {"plan_info", kRequestDeadline, [&] { client.plan_info(); }, {}},
      {"primitive_states", kRequestDeadline, [&] { client.primitive_states(); }, {}},
      {"configuration_score", kRequestDeadline, [&] { client.configuration_score(); }, {}},
      {"connected", kProbeDeadline, [&] { EXPECT_FALSE(client.connected()); }, {}},
  };
  std::atomic<int> waiting{static_cast<int>(callers.size())};
  std::vector<std::thread> threads;
  for (auto& c : callers) {
    threads.emplace_back([&c, &waiting] {
      --waiting;
      while (waiting > 0) std::this_thread::yield();  // start together
      c.outcome = Timed(c.call);
    });
  }
  for (auto& t : threads) t.join();
  std::string line;
  for (const auto& c : callers) {
    EXPECT_LE(c.outcome.seconds, c.deadline + kSlack) << c.name << " overran its deadline of " << c.deadline << " s";
    line += std::string(line.empty() ? "" : ", ") + c.name + " " + Ms(c.outcome.seconds);
  }
  Figure("frozen robot, four callers at once", line);
}

// Going away must not wait for a robot that does not answer; nor may a new
// client wait longer than its three probes.
TEST(FaultsFrozenRobot, DestroyingAndCreatingClientsDoesNotHang) {
  const std::string serial = test::UniqueSerial();
  Sim sim(serial, kDual);
  auto client = std::make_unique<Client>(serial, false);
  ExpectRequestsWork(*client);
  sim.Freeze();
  EXPECT_EQ(Timed([&] { client->plan_info(); }).what, kPlanError);
  const Outcome destroy = Timed([&] { client.reset(); });
  EXPECT_LT(destroy.seconds, 1.0);
  const Outcome create = Timed([&] { Client again(serial, false); });
  EXPECT_TRUE(create.threw);
  EXPECT_EQ(create.what.rfind("[norvik::tarn::Client] Failed to connect to [" + serial + "]. Please check that:", 0), 0u)
      << create.what;
  EXPECT_LE(create.seconds, 3 * (kProbeDeadline + kSlack));
  Figure("frozen robot", "destroying a client took " + Ms(destroy.seconds) + "; a new client gave up after " +
                             Ms(create.seconds));
}

}  // namespace
}  // namespace norvik::tarn
