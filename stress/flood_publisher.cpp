// tarn_flood: publishes on a robot's two stream keys what a faulty or hostile
// host might: good marked samples, garbage, or a rogue family of samples.
//
//   tarn_flood --serial SN [--good HZ] [--garbage HZ] [--rogue HZ] [--rogue-shapes same|mixed]
//              [--seconds S] [--seed N] [--report FILE] [--exit-with-parent]
//
// --good publishes MarkedBasic/MarkedExtra of the robot family, one pair per
// tick, numbered from 1. --garbage publishes, alternately on the two keys,
// payloads no decoder may accept: random bytes, or a good sample cut short,
// with bytes appended, with a fixed array's length prefix off by one, or
// with a bool byte that is neither 0 nor 1. --rogue publishes the rogue
// family; with "mixed" shapes every second one is inconsistent with the
// robot (7 joints, or one Cartesian entry too many). Prints "ready" on
// stdout once the publishers are declared, stops after --seconds (at most
// 7200) or on SIGTERM/SIGINT, and writes its counters to --report. The
// report file is made before "ready" and filled at the end only if it is
// still there: a caller that removed it wants no counters, and a SIGTERM
// that comes after the removal must not leave a new file behind.
#include <signal.h>
#include <sys/prctl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "msgs/codec.h"
#include "stress/command_line.h"
#include "stress/marked_samples.h"
#include "zenoh.hxx"

namespace {

using Clock = std::chrono::steady_clock;
using norvik::stress::Family;
namespace msg = norvik::zenoh_msgs::tarn_msg;

std::atomic<bool> g_stop{false};
void OnSignal(int) { g_stop = true; }

struct Options {
  std::string serial;
  double good = 0, garbage = 0, rogue = 0;
  bool mixed_shapes = false;
  double seconds = 10;
  unsigned seed = 1;
  std::string report;
  bool exit_with_parent = false;
};

Options Parse(int argc, char** argv) {
  norvik::stress::CommandLine args(argc, argv, "tarn_flood",
                                   "tarn_flood --serial SN [--good HZ] [--garbage HZ] [--rogue HZ] [--rogue-shapes same|mixed]\n"
                                   "                  [--seconds S] [--seed N] [--report FILE] [--exit-with-parent]");
  Options o;
  while (args.Next()) {
    if (args.Is("--serial")) o.serial = args.Value();
    else if (args.Is("--good")) o.good = std::stod(args.Value());
    else if (args.Is("--garbage")) o.garbage = std::stod(args.Value());
    else if (args.Is("--rogue")) o.rogue = std::stod(args.Value());
    else if (args.Is("--rogue-shapes")) {
      const std::string v = args.Value();
      if (v != "same" && v != "mixed") args.Fail("--rogue-shapes is same or mixed");
      o.mixed_shapes = v == "mixed";
    } else if (args.Is("--seconds")) o.seconds = std::stod(args.Value());
    else if (args.Is("--seed")) o.seed = static_cast<unsigned>(std::stoul(args.Value()));
    else if (args.Is("--report")) o.report = args.Value();
    else if (args.Is("--exit-with-parent")) o.exit_with_parent = true;
    else args.Unknown();
  }
  if (o.serial.empty()) args.Fail("--serial is required");
  if (o.good < 0 || o.garbage < 0 || o.rogue < 0 || o.good + o.garbage + o.rogue <= 0) args.Fail("nothing to publish");
  if (!(o.seconds > 0) || o.seconds > 7200) args.Fail("--seconds must be in (0, 7200]");
  return o;
}

std::vector<uint8_t> Encode(const zenoh::Bytes& b) { return b.as_vector(); }

// Garbage a decoder must reject, built from a good encoding where it can be.
class GarbageMaker {
 public:
  explicit GarbageMaker(unsigned seed) : rng_(seed) {
    const auto basic = Encode(msg::SerializeMessage(norvik::stress::MarkedBasic(Family::kRobot, 1)));
    const auto extra = Encode(msg::SerializeMessage(norvik::stress::MarkedExtra(Family::kRobot, 1)));
    // Where the fixed arrays' prefixes and the bools are: after two 16-bit
    // values come estop and enabling, then 8, 20 and 20 bools each behind a
    // one-byte length. The extra sample ends with four Cartesian entries of
    // 7, 6 and 6 floats, each array behind its length.
    if (basic.size() < 60 || basic[6] != 8 || basic[15] != 20 || basic[36] != 20) {
      throw std::logic_error("unexpected basic layout");
    }
    extra_pose_prefix_ = extra.size() - 4 * (3 + 19 * 4);
    if (extra[extra_pose_prefix_] != 7) throw std::logic_error("unexpected extra layout");
  }

  std::vector<uint8_t> Make(bool basic, uint32_t k) {
    auto good = Encode(basic ? msg::SerializeMessage(norvik::stress::MarkedBasic(Family::kRobot, k))
                             : msg::SerializeMessage(norvik::stress::MarkedExtra(Family::kRobot, k)));
    switch (Pick(5)) {
      case 0: {
        ++random;
        std::vector<uint8_t> out(Pick(1200));
        for (auto& b : out) b = static_cast<uint8_t>(rng_());
        return out;
      }
      case 1:
        ++cut;
        good.resize(Pick(good.size()));
        return good;
      case 2: {
        ++trailing;
        const size_t n = 1 + Pick(8);
        for (size_t i = 0; i < n; ++i) good.push_back(static_cast<uint8_t>(rng_()));
        return good;
      }
      case 3: {
        ++prefix;
        if (basic) {
          const size_t at[] = {6, 15, 36};
          good[at[Pick(3)]] += Pick(2) == 0 ? 1 : 0xff;  // one more, or one fewer
        } else {
          good[extra_pose_prefix_ + 79 * Pick(4)] += Pick(2) == 0 ? 1 : 0xff;  // a tcp_pose_d prefix
        }
        return good;
      }
      default:
        if (!basic) {  // the extra sample has no bools: cut it instead
          ++cut;
          good.resize(Pick(good.size()));
          return good;
        }
        ++bad_bool;
        {
          const size_t at[] = {4, 5, 7, 16, 37};  // estop, enabling, first of each bool array
          good[at[Pick(5)]] = static_cast<uint8_t>(2 + Pick(254));
        }
        return good;
    }
  }

  uint64_t random = 0, cut = 0, trailing = 0, prefix = 0, bad_bool = 0;

 private:
  size_t Pick(size_t n) { return n == 0 ? 0 : std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }

  std::mt19937 rng_;
  size_t extra_pose_prefix_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  if (o.exit_with_parent) prctl(PR_SET_PDEATHSIG, SIGTERM);
  signal(SIGTERM, OnSignal);
  signal(SIGINT, OnSignal);

  auto session = zenoh::Session::open(zenoh::Config::create_default());
  const std::string prefix = "norvik/robot/" + o.serial;
  const auto basic = session.declare_publisher(zenoh::KeyExpr(prefix + "/basic_stream_data"));
  const auto extra = session.declare_publisher(zenoh::KeyExpr(prefix + "/extra_stream_data"));
  GarbageMaker garbage(o.seed);
  if (!o.report.empty() && !std::ofstream(o.report)) {
    std::fprintf(stderr, "tarn_flood: cannot write %s\n", o.report.c_str());
    return 1;
  }
  std::printf("ready %s\n", prefix.c_str());
  std::fflush(stdout);

  uint64_t good_sent = 0, garbage_basic = 0, garbage_extra = 0, rogue_sent = 0, rogue_inconsistent = 0;
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
  auto period = [](double hz) {
    return hz > 0 ? std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / hz))
                  : Clock::duration::max();
  };
  const Clock::duration good_period = period(o.good), garbage_period = period(o.garbage), rogue_period = period(o.rogue);
  Clock::time_point next_good = o.good > 0 ? start : Clock::time_point::max();
  Clock::time_point next_garbage = o.garbage > 0 ? start : Clock::time_point::max();
  Clock::time_point next_rogue = o.rogue > 0 ? start : Clock::time_point::max();
  uint32_t k = 0;
  while (!g_stop) {
    const auto due = std::min({next_good, next_garbage, next_rogue});
    if (due >= end) break;
    std::this_thread::sleep_until(due);
    const auto now = Clock::now();
    if (now >= next_good) {
      ++k;
      basic.put(msg::SerializeMessage(norvik::stress::MarkedBasic(Family::kRobot, k)));
      extra.put(msg::SerializeMessage(norvik::stress::MarkedExtra(Family::kRobot, k)));
      ++good_sent;
      next_good += good_period;
    }
    if (now >= next_garbage) {
      const bool on_basic = (garbage_basic + garbage_extra) % 2 == 0;
      const auto bytes = garbage.Make(on_basic, k + 1);
      (on_basic ? basic : extra).put(zenoh::Bytes(bytes));
      ++(on_basic ? garbage_basic : garbage_extra);
      next_garbage += garbage_period;
    }
    if (now >= next_rogue) {
      const uint32_t r = static_cast<uint32_t>(rogue_sent + 1);
      size_t dof = norvik::stress::kDualDoF, cartesian = 4;
      if (o.mixed_shapes && r % 2 == 0) {
        ++rogue_inconsistent;
        if (r % 4 == 0) {
          dof = 7;  // too few joints for ARM_2 and EXT_AXIS
        } else {
          cartesian = 5;  // one entry more than groups
        }
      }
      basic.put(msg::SerializeMessage(norvik::stress::MarkedBasic(Family::kRogue, r, dof, cartesian)));
      extra.put(msg::SerializeMessage(norvik::stress::MarkedExtra(Family::kRogue, r, dof, cartesian)));
      ++rogue_sent;
      next_rogue += rogue_period;
    }
    // Fell behind (a busy machine): skip ahead rather than burst.
    const auto late = Clock::now() - std::chrono::milliseconds(50);
    if (next_good < late) next_good = Clock::now();
    if (next_garbage < late) next_garbage = Clock::now();
    if (next_rogue < late) next_rogue = Clock::now();
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  char line[512];
  std::snprintf(line, sizeof line,
                "seconds=%.3f good=%llu garbage_basic=%llu garbage_extra=%llu random=%llu cut=%llu trailing=%llu "
                "prefix=%llu bool=%llu rogue=%llu rogue_inconsistent=%llu\n",
                elapsed, static_cast<unsigned long long>(good_sent), static_cast<unsigned long long>(garbage_basic),
                static_cast<unsigned long long>(garbage_extra), static_cast<unsigned long long>(garbage.random),
                static_cast<unsigned long long>(garbage.cut), static_cast<unsigned long long>(garbage.trailing),
                static_cast<unsigned long long>(garbage.prefix), static_cast<unsigned long long>(garbage.bad_bool),
                static_cast<unsigned long long>(rogue_sent), static_cast<unsigned long long>(rogue_inconsistent));
  std::fprintf(stderr, "tarn_flood: stopped: %s", line);
  if (!o.report.empty()) {
    // Opened for update, which never creates it: a removed report stays removed.
    std::fstream report(o.report, std::ios::in | std::ios::out);
    if (report) report << line;
  }
  return 0;
}
