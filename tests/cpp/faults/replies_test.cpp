// Bad replies at high rate: duplicates, errors, undecodable bytes, wrong
// ids, failed flags, no reply, and replies that come after the caller gave
// up. Each call gets its own reply or its own error, within its deadline;
// nothing is ever delivered to a later call, and memory does not grow.
#include <gtest/gtest.h>

#include <random>

#include "faults/fault_support.h"
#include "faults/scripted_robot.h"
#include "norvik/tarn.h"
#include "stress/process_figures.h"

namespace norvik::tarn {
namespace {

using test::faults::Figure;
using test::faults::Ms;
using test::faults::Outcome;
using test::faults::Script;
using test::faults::ScriptedRobot;
using test::faults::Send;
using test::faults::Timed;

constexpr double kDeadline = 2.0;
constexpr double kSlack = 0.050;
const std::string kPlanError = "[norvik::tarn::Client] plan_info: No reply from the robot";

struct Kind {
  const char* name;
  std::vector<Send> replies;
  bool answers;  // whether the call must succeed
  int weight;
};

const std::vector<Kind> kKinds{
    {"good", {Send::kGood}, true, 30},
    {"duplicate", {Send::kDuplicate}, true, 15},
    {"error then good", {Send::kError, Send::kGood}, true, 10},
    {"undecodable then good", {Send::kGarbage, Send::kGood}, true, 10},
    {"error", {Send::kError}, false, 10},
    {"undecodable", {Send::kGarbage}, false, 10},
    {"wrong id", {Send::kWrongId}, false, 5},
    {"failed", {Send::kFail}, false, 5},
    {"no reply", {}, false, 5},
};

// plan_info with what it returned: the tag of the reply, or the error.
struct Call {
  Outcome outcome;
  std::string tag;
};
Call PlanInfo(const Client& client) {
  Call c;
  c.outcome = Timed([&] { c.tag = client.plan_info().pt_name; });
  return c;
}
std::string Tag(int n) { return "q" + std::to_string(n); }

TEST(FaultsReplies, AHighRateMixReachesOnlyItsOwnCall) {
  const int calls = static_cast<int>(700 * test::faults::FaultSeconds(3.0));
  // Large replies, so that any reply or call state left behind shows in memory.
  ScriptedRobot robot(test::UniqueSerial(), 16 * 1024);
  std::mt19937 rng(2024);
  std::vector<int> weights;
  for (const auto& k : kKinds) weights.push_back(k.weight);
  std::discrete_distribution<size_t> pick(weights.begin(), weights.end());
  std::vector<size_t> plan(static_cast<size_t>(calls) + 1);
  for (auto& p : plan) p = pick(rng);
  robot.Plan([&plan](int n) { return Script{kKinds[plan.at(static_cast<size_t>(n))].replies, {}}; });

  Client client(robot.serial(), false);
  std::vector<int> made(kKinds.size()), latest(kKinds.size());
  std::vector<double> slowest(kKinds.size());
  stress::ProcessFigures warm;
  int wrong = 0;
  for (int i = 1; i <= calls; ++i) {
    if (i == calls / 5) warm = stress::Figures();
    const size_t k = plan[static_cast<size_t>(i)];
    const Call c = PlanInfo(client);
    ++made[k];
    slowest[k] = std::max(slowest[k], c.outcome.seconds);
    EXPECT_LE(c.outcome.seconds, kDeadline + kSlack) << kKinds[k].name << ", call " << i;
    if (kKinds[k].answers) {
      const bool own = !c.outcome.threw && (c.tag == Tag(i) || c.tag == Tag(i) + "-dup");
      if (!own && ++wrong <= 10) {
        ADD_FAILURE() << kKinds[k].name << ", call " << i << ": got " << (c.outcome.threw ? c.outcome.what : c.tag);
      }
      latest[k] += c.tag == Tag(i) + "-dup" ? 1 : 0;
    } else if (c.outcome.what != kPlanError && ++wrong <= 10) {
      ADD_FAILURE() << kKinds[k].name << ", call " << i << ": got " << (c.outcome.threw ? c.outcome.what : c.tag);
    }
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(robot.PlanQueries(), calls) << "each call sends one query";
  const stress::ProcessFigures end = stress::Figures();
  const long growth = end.rss_kb - warm.rss_kb;
#if !defined(__SANITIZE_ADDRESS__)
  // (AddressSanitizer quarantines freed memory, so there its leak check stands in for this.)
  EXPECT_LT(growth, 16 * 1024) << "kB after " << calls << " calls with 16 kB replies";
#endif

  std::string line;
  for (size_t k = 0; k < kKinds.size(); ++k) {
    line += std::string(k ? "; " : "") + kKinds[k].name + " x" + std::to_string(made[k]) + " slowest " + Ms(slowest[k]);
  }
  Figure("reply mix", std::to_string(calls) + " calls: " + line);
  Figure("reply mix", "duplicates answered by the later reply: " + std::to_string(latest[1]) + " of " +
                          std::to_string(made[1]) + "; rss " + warm.Text() + " -> " + end.Text());
}

TEST(FaultsReplies, LateAndRacingRepliesNeverReachALaterCall) {
  ScriptedRobot robot(test::UniqueSerial(), 16 * 1024);
  // Query 2k-1 is answered `delay` after it came, around the caller's
  // deadline; query 2k 100 ms after it came, so the late reply of the one
  // before lands while it waits.
  const std::vector<int> delays{2030, 2300, 1997, 2000, 2003};
  robot.Plan([&delays](int n) {
    if (n % 2 == 0 || n > static_cast<int>(2 * delays.size())) return Script{{Send::kGood}, std::chrono::milliseconds(100)};
    return Script{{Send::kGood}, std::chrono::milliseconds(delays[static_cast<size_t>(n / 2)])};
  });
  Client client(robot.serial(), false);
  std::string line;
  int n = 0;
  for (int delay : delays) {
    const Call late = PlanInfo(client);
    ++n;
    EXPECT_LE(late.outcome.seconds, kDeadline + kSlack) << "reply due at " << delay << " ms";
    if (late.outcome.threw) {
      EXPECT_EQ(late.outcome.what, kPlanError);
    } else {
      EXPECT_EQ(late.tag, Tag(n)) << "reply due at " << delay << " ms";
    }
    if (delay > 2020) EXPECT_TRUE(late.outcome.threw) << "a reply " << delay << " ms late was taken";
    const Call next = PlanInfo(client);
    ++n;
    EXPECT_FALSE(next.outcome.threw) << next.outcome.what;
    EXPECT_EQ(next.tag, Tag(n)) << "after a reply due at " << delay << " ms";
    line += (line.empty() ? "" : "; ") + std::to_string(delay) + " ms: " +
            (late.outcome.threw ? "gave up" : "answered") + " after " + Ms(late.outcome.seconds);
  }
  // Every late reply has gone out; the next call still gets only its own.
  ASSERT_TRUE(test::WaitFor([&] { return robot.Answered() == n; }));
  const Call last = PlanInfo(client);
  EXPECT_EQ(last.tag, Tag(n + 1));
  Figure("late replies", line);
}

// The same faults from tarn-sim's switches, for every request-backed call.
TEST(FaultsSimReplies, FaultSwitchesAtHighRate) {
  test::faults::Sim sim(test::UniqueSerial(), {"--profile", "dual", "--no-streams"});
  Client client(sim.serial(), false);
  const int rounds = static_cast<int>(10 * test::faults::FaultSeconds(3.0));
  std::string line;
  for (const char* mode : {"error", "drop", "fail", "wrong-id"}) {
    const std::string m = mode;
    sim.Control(R"({"rpc": {"0": ")" + m + R"(", "3": ")" + m + R"(", "4": ")" + m + R"(", "9": ")" + m + R"("}})");
    double slowest = 0;
    for (int r = 0; r < rounds; ++r) {
      for (const auto& [call, error] :
           std::vector<std::pair<std::function<void()>, std::string>>{
               {[&] { client.plan_info(); }, kPlanError},
               {[&] { client.primitive_states(); }, "[norvik::tarn::Client::primitive_states] No reply from the robot"},
               {[&] { client.configuration_score(); }, "[norvik::tarn::Model::configuration_score] No reply from the robot"}}) {
        const Outcome o = Timed(call);
        ASSERT_EQ(o.what, error) << mode;
        ASSERT_LE(o.seconds, kDeadline + kSlack) << mode;
        slowest = std::max(slowest, o.seconds);
      }
      bool connected = true;
      const Outcome probe = Timed([&] { connected = client.connected(); });
      ASSERT_FALSE(connected) << mode;
      ASSERT_LE(probe.seconds, 1.0 + kSlack) << mode;
      slowest = std::max(slowest, probe.seconds);
    }
    sim.Control(R"({"reset": true})");
    EXPECT_TRUE(client.connected()) << "after " << mode;
    EXPECT_FALSE(client.plan_info().assigned_plan_name.empty()) << "after " << mode;
    line += std::string(line.empty() ? "" : "; ") + mode + " slowest " + Ms(slowest);
  }
  // Replies after the deadline are dropped; replies before it are taken.
  sim.Control(R"({"rpc": {"4": "delay:2100"}})");
  const Outcome late = Timed([&] { client.plan_info(); });
  EXPECT_EQ(late.what, kPlanError);
  EXPECT_LE(late.seconds, kDeadline + kSlack);
  sim.Control(R"({"rpc": {"4": "delay:1500"}})");
  const Outcome slow = Timed([&] { client.plan_info(); });
  EXPECT_FALSE(slow.threw) << slow.what;
  EXPECT_GE(slow.seconds, 1.5);
  EXPECT_LE(slow.seconds, kDeadline + kSlack);
  sim.Control(R"({"reset": true})");
  EXPECT_FALSE(client.plan_info().assigned_plan_name.empty());
  Figure("sim reply faults", std::to_string(rounds * 4) + " calls per mode: " + line + "; 2100 ms late: gave up after " +
                                 Ms(late.seconds) + "; 1500 ms late: answered after " + Ms(slow.seconds));
}

}  // namespace
}  // namespace norvik::tarn
