// Hostile samples on the stream keys, from tarn_flood in processes of their
// own: a 10 kHz flood of garbage among good samples, and a rogue second
// publisher. Readers must only ever see one whole good sample (or, for an
// inconsistent one, nothing), and the client's CPU must stay bounded.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "faults/fault_support.h"
#include "norvik/tarn.h"
#include "stress/marked_samples.h"
#include "stress/process_figures.h"

namespace norvik::tarn {
namespace {

using stress::Family;
using test::faults::Figure;

// tarn_flood as a separate process; its counters once it has stopped.
class Flood {
 public:
  Flood(const std::string& serial, std::vector<std::string> options)
      : report_("/tmp/tarn_flood_" + std::to_string(getpid()) + "_" + std::to_string(count_++) + ".txt") {
    std::vector<std::string> argv{NORVIK_TARN_FLOOD, "--serial", serial, "--exit-with-parent", "--report", report_};
    argv.insert(argv.end(), options.begin(), options.end());
    process_ = std::make_unique<test::ChildProcess>(argv);
  }
  ~Flood() { std::remove(report_.c_str()); }

  // Stops it and returns its counters by name.
  std::map<std::string, double> Stop() {
    process_->Stop();
    std::map<std::string, double> out;
    std::ifstream in(report_);
    std::string item;
    while (in >> item) {
      const size_t eq = item.find('=');
      if (eq != std::string::npos) out[item.substr(0, eq)] = std::atof(item.c_str() + eq + 1);
    }
    return out;
  }

 private:
  static inline std::atomic<int> count_{0};
  std::string report_;
  std::unique_ptr<test::ChildProcess> process_;
};

// Readers that check every read against the marks and keep count; each
// tracks its own CPU time so the client's share can be told apart.
class CheckingReaders {
 public:
  CheckingReaders(const Client& client, int threads) : cpu_(static_cast<size_t>(threads)) {
    for (int t = 0; t < threads; ++t) {
      threads_.emplace_back([this, &client, t] {
        while (!stop_) {
          Count(stress::CheckStates(client.states()), true);
          Count(stress::CheckActions(client.actions()), false);
          cpu_[static_cast<size_t>(t)] = stress::ThreadCpuSeconds();
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
      });
    }
  }
  ~CheckingReaders() { Stop(); }
  void Stop() {
    stop_ = true;
    for (auto& t : threads_) {
      if (t.joinable()) t.join();
    }
  }

  double cpu() const {
    double sum = 0;
    for (const auto& c : cpu_) sum += c.load();
    return sum;
  }
  long empty() const { return empty_; }
  long robot() const { return robot_; }
  long rogue() const { return rogue_; }
  long bad() const { return bad_; }
  std::string first_problem() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return first_problem_;
  }

 private:
  void Count(const stress::Seen& seen, bool states) {
    if (!seen.problem.empty()) {
      if (bad_++ == 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        first_problem_ = std::string(states ? "states: " : "actions: ") + seen.problem;
      }
    } else if (seen.empty) {
      ++empty_;
    } else {
      ++(seen.family == Family::kRobot ? robot_ : rogue_);
    }
  }

  std::atomic<bool> stop_{false};
  std::vector<std::atomic<double>> cpu_;
  std::atomic<long> empty_{0}, robot_{0}, rogue_{0}, bad_{0};
  mutable std::mutex mutex_;
  std::string first_problem_;
  std::vector<std::thread> threads_;
};

// CPU the process spent over `seconds` apart from the readers, as a share of
// one core.
double ClientCpu(const CheckingReaders& readers, double seconds) {
  const double p0 = stress::ProcessCpuSeconds(), r0 = readers.cpu();
  const auto t0 = std::chrono::steady_clock::now();
  // Timing a window, not waiting for an event.
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  return ((stress::ProcessCpuSeconds() - p0) - (readers.cpu() - r0)) / wall;
}

std::string Percent(double share) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f%%", share * 100);
  return buf;
}

const std::vector<std::string> kRobotForRequests{"--profile", "dual", "--no-streams"};

// The records a client cuts out of a marked basic sample, cut at `shift`
// joints past each group's start.
std::map<JointGroup, RobotStates> Cut(const zenoh_msgs::tarn_msg::AllBasicStreamData& d, size_t shift = 0) {
  std::map<JointGroup, RobotStates> out;
  for (size_t n = 0; n < stress::kDualGroups.size(); ++n) {
    const auto g = static_cast<JointGroup>(stress::kDualGroups[n]);
    const auto [start, dof] = stress::kDualCuts.at(g);
    RobotStates& r = out[g];
    r.timestamp = {d.stamp_sec, static_cast<int32_t>(d.stamp_nanosec)};
    const auto& j = d.joint_data;
    for (auto [from, to] : {std::pair{&j.q, &r.q}, {&j.theta, &r.theta}, {&j.dq, &r.dq}, {&j.dtheta, &r.dtheta},
                            {&j.tau, &r.tau}, {&j.tau_dot, &r.tau_dot}, {&j.tau_ext, &r.tau_ext},
                            {&j.tau_interact, &r.tau_interact}, {&j.temperature, &r.temperature}}) {
      for (size_t i = start + shift; i < start + shift + dof; ++i) to->push_back(from->at(i % from->size()));
    }
    const auto& c = d.cartesian_data[n];
    std::copy(c.flange_pose.begin(), c.flange_pose.end(), r.flange_pose.begin());
    std::copy(c.tcp_pose.begin(), c.tcp_pose.end(), r.tcp_pose.begin());
    std::copy(c.tcp_twist.begin(), c.tcp_twist.end(), r.tcp_twist.begin());
    std::copy(c.tcp_wrench_local.begin(), c.tcp_wrench_local.end(), r.tcp_wrench_local.begin());
    std::copy(c.raw_tcp_wrench_local.begin(), c.raw_tcp_wrench_local.end(), r.raw_tcp_wrench_local.begin());
    std::copy(c.raw_ft_sensor.begin(), c.raw_ft_sensor.end(), r.raw_ft_sensor.begin());
  }
  return out;
}

// The readers' check itself: it passes a whole sample and catches a mixed,
// shifted or re-stamped one.
TEST(FaultsMarks, TheCheckCatchesMixedShiftedAndRestampedSamples) {
  const auto whole = Cut(stress::MarkedBasic(Family::kRobot, 41));
  const auto seen = stress::CheckStates(whole);
  EXPECT_TRUE(seen.problem.empty()) << seen.problem;
  EXPECT_EQ(seen.k, 41u);
  EXPECT_EQ(seen.family, Family::kRobot);
  EXPECT_EQ(stress::CheckStates(Cut(stress::MarkedBasic(Family::kRogue, 9))).family, Family::kRogue);

  auto mixed = whole;
  mixed[JointGroup::ARM_2] = Cut(stress::MarkedBasic(Family::kRobot, 42)).at(JointGroup::ARM_2);
  EXPECT_FALSE(stress::CheckStates(mixed).problem.empty());
  mixed = whole;
  mixed[JointGroup::ARM_1].tcp_pose = Cut(stress::MarkedBasic(Family::kRogue, 41)).at(JointGroup::ARM_1).tcp_pose;
  EXPECT_FALSE(stress::CheckStates(mixed).problem.empty());
  EXPECT_FALSE(stress::CheckStates(Cut(stress::MarkedBasic(Family::kRobot, 41), 1)).problem.empty());
  auto restamped = whole;
  restamped[JointGroup::EXT_AXIS].timestamp.first = 40;
  EXPECT_FALSE(stress::CheckStates(restamped).problem.empty());

  const auto extra = stress::MarkedExtra(Family::kRobot, 7);
  std::map<JointGroup, RobotActions> actions;
  for (size_t n = 0; n < stress::kDualGroups.size(); ++n) {
    const auto g = static_cast<JointGroup>(stress::kDualGroups[n]);
    const auto [start, dof] = stress::kDualCuts.at(g);
    auto& a = actions[g];
    a.q_d.assign(extra.q_d.begin() + static_cast<long>(start), extra.q_d.begin() + static_cast<long>(start + dof));
    a.dq_d.assign(extra.dq_d.begin() + static_cast<long>(start), extra.dq_d.begin() + static_cast<long>(start + dof));
    a.tau_d.assign(extra.tau_d.begin() + static_cast<long>(start), extra.tau_d.begin() + static_cast<long>(start + dof));
    const auto& c = extra.cartesian_data[n];
    std::copy(c.tcp_pose_d.begin(), c.tcp_pose_d.end(), a.tcp_pose_d.begin());
    std::copy(c.tcp_twist_d.begin(), c.tcp_twist_d.end(), a.tcp_twist_d.begin());
    std::copy(c.tcp_wrench_d.begin(), c.tcp_wrench_d.end(), a.tcp_wrench_d.begin());
  }
  EXPECT_TRUE(stress::CheckActions(actions).problem.empty()) << stress::CheckActions(actions).problem;
  actions[JointGroup::ARM_2].dq_d[3] += 1;
  EXPECT_FALSE(stress::CheckActions(actions).problem.empty());
}

TEST(FaultsFlood, GarbageAmongGoodSamplesNeverReachesReadersAndCpuStaysBounded) {
  const double window = test::faults::FaultSeconds(3.0);
  const std::string lifetime = std::to_string(static_cast<int>(3 * window + 60));  // stops by itself
  test::faults::QuietLog log;
  test::faults::Sim sim(test::UniqueSerial(), kRobotForRequests);
  auto good = std::make_unique<Flood>(sim.serial(), std::vector<std::string>{"--good", "1000", "--seconds", lifetime});
  Client client(sim.serial(), false);
  ASSERT_EQ(client.states().size(), 4u);
  log.Reset();
  CheckingReaders readers(client, 2);

  const double baseline = ClientCpu(readers, window);
  const auto good_counts = good->Stop();
  good.reset();
  const long robot_before = readers.robot();
  const auto health_before = client.stream_health(StreamKind::Basic);
  // The same publisher now sends ten garbage samples between two good ones.
  Flood flood(sim.serial(), {"--good", "1000", "--garbage", "10000", "--seconds", lifetime});
  ASSERT_TRUE(test::WaitFor([&] { return readers.robot() > robot_before + 100; }));
  const double flooded = ClientCpu(readers, window);
  const long lines = log.Total();
  const std::string summary = log.Summary();
  const auto counts = flood.Stop();
  readers.Stop();
  // The garbage did reach the client, which dropped it.
  const auto basic = client.stream_health(StreamKind::Basic), extra = client.stream_health(StreamKind::Extra);
  EXPECT_GT(basic.malformed - health_before.malformed, 1000u);
  EXPECT_GT(extra.malformed, 1000u);
  EXPECT_GT(basic.received - health_before.received, 1000u);

  EXPECT_EQ(readers.bad(), 0) << readers.first_problem();
  EXPECT_EQ(readers.empty(), 0);
  EXPECT_GT(readers.robot(), 1000);
  EXPECT_EQ(lines, 0) << "garbage is dropped without a word:" << summary;
  const double garbage_rate = (counts.at("garbage_basic") + counts.at("garbage_extra")) / counts.at("seconds");
  EXPECT_GT(garbage_rate, 3000) << "the flood did not reach its rate";
  // Bounded: short of a whole core (the rate is kept up with), and per
  // message received no dearer than a good sample is, twice over (a ratio
  // within this run, so a busy machine mostly cancels out).
  const double good_rate = good_counts.at("good") / good_counts.at("seconds");
  const double per_message_baseline = baseline / (2 * good_rate);
  const double per_message_flooded = flooded / (2 * counts.at("good") / counts.at("seconds") + garbage_rate);
  EXPECT_LT(flooded, 0.9) << "the client used " << Percent(flooded) << " of a core under the flood";
  EXPECT_LT(per_message_flooded, 2 * per_message_baseline);
  std::ostringstream line;
  line << "client CPU " << Percent(baseline) << " of a core with " << 2 * good_rate << " good samples/s, "
       << Percent(flooded) << " with " << garbage_rate << " garbage samples/s added (x" << flooded / baseline
       << "); per message " << per_message_baseline * 1e6 << " us vs " << per_message_flooded * 1e6
       << " us; garbage sent: random " << counts.at("random") << ", cut " << counts.at("cut") << ", trailing "
       << counts.at("trailing") << ", prefix " << counts.at("prefix") << ", bool " << counts.at("bool")
       << "; the client dropped " << basic.malformed + extra.malformed << " as malformed and took "
       << basic.received - health_before.received << " good basic samples meanwhile; readers saw " << readers.robot() << " whole good samples, " << readers.bad() << " others";
  Figure("garbage flood", line.str());
}

class FaultsRogue : public ::testing::TestWithParam<std::string> {};

TEST_P(FaultsRogue, ASecondPublisherNeverMixesIntoAWholeSample) {
  const bool mixed = GetParam() == "mixed";
  const double window = test::faults::FaultSeconds(2.0);
  const std::string lifetime = std::to_string(static_cast<int>(window + 90));  // stops by itself
  test::faults::QuietLog log;
  test::faults::Sim sim(test::UniqueSerial(), kRobotForRequests);
  Flood good(sim.serial(), {"--good", "1000", "--seconds", lifetime});
  Client client(sim.serial(), false);
  ASSERT_EQ(client.states().size(), 4u);
  log.Reset();
  Flood rogue(sim.serial(), {"--rogue", "1000", "--rogue-shapes", GetParam(), "--seconds", lifetime});
  CheckingReaders readers(client, 4);
  ASSERT_TRUE(test::WaitFor([&] { return readers.rogue() > 500 && readers.robot() > 500; }, std::chrono::seconds(20)))
      << "robot " << readers.robot() << ", rogue " << readers.rogue();
  // Timing a window of reads, not waiting for an event.
  std::this_thread::sleep_for(std::chrono::duration<double>(window));
  readers.Stop();
  const auto counts = rogue.Stop();

  EXPECT_EQ(readers.bad(), 0) << readers.first_problem();
  const long inconsistent_lines = log.Count("[norvik::tarn::Client] The received data has mismatched sizes") +
                                  log.Count("[norvik::tarn::Client] The received desired data has mismatched sizes") +
                                  log.Count("[norvik::tarn::Client] Failed to segment");
  if (mixed) {
    EXPECT_GT(readers.empty(), 0) << "no inconsistent rogue sample was read";
    EXPECT_GT(inconsistent_lines, 0) << log.Summary();
  } else {
    EXPECT_EQ(readers.empty(), 0);
    EXPECT_EQ(log.Total(), 0) << log.Summary();
  }
  std::ostringstream line;
  line << GetParam() << " shapes, " << counts.at("rogue") << " rogue samples (" << counts.at("rogue_inconsistent")
       << " inconsistent): reads whole robot " << readers.robot() << ", whole rogue " << readers.rogue() << ", empty "
       << readers.empty() << ", mixed or torn " << readers.bad() << "; error lines " << inconsistent_lines;
  Figure("rogue publisher", line.str());
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultsRogue, ::testing::Values("same", "mixed"));

}  // namespace
}  // namespace norvik::tarn
