// A robot for the benchmarks, in C++ so that the publisher is never what
// limits a measurement: answers the requests a client makes (probe, version,
// plan information, start indices and DoF) and publishes the stream pair of a
// profile on command.
//
//   bench_robot --serial SN --profile dual|single [--realtime]
//
// --realtime runs the whole process (Zenoh's threads too) under SCHED_FIFO,
// as a robot controller's data service would run, so that its 1 kHz ticks
// leave on time however busy the machine is; only for low rates, since a
// real-time thread that never sleeps would take a core from everyone.
//
// Commands on stdin, one per line; answers on stdout:
//   stream RATE COUNT basic|both [START_NS]
//                                  publish COUNT ticks (0: until stop) at RATE Hz, the first
//                                  at START_NS (CLOCK_MONOTONIC; default now), so that several
//                                  robots can tick in phases of their choosing;
//                                  prints "done SENT ELAPSED_NS LATE EXTRA_SENT MAX_LATE_NS"
//                                  when it ends (SENT, EXTRA_SENT: puts that Zenoh took, per
//                                  stream; LATE: ticks more than a period behind schedule)
//   stop                           ends the current stream
//   quit (or end of input)         exits
// Each basic sample carries its put time (CLOCK_MONOTONIC) as its stamp.
#include <sched.h>
#include <time.h>

#include <cerrno>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "common/profiles.h"
#include "common/util.h"
#include "msgs/codec.h"
#include "zenoh.hxx"

namespace {

using namespace norvik;
using zenoh_msgs::tarn_msg::RPCReply;
using zenoh_msgs::tarn_msg::RPCRequest;

std::mutex out_mutex;

void Say(const std::string& line) {
  std::lock_guard<std::mutex> lock(out_mutex);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

RPCReply Answer(const RPCRequest& request, bench::Profile profile) {
  RPCReply r;
  r.request_id = request.request_id;
  r.success = true;
  switch (request.request_id) {
    case 0:
      r.success = false;  // a live robot answers the probe so
      break;
    case 1:
      r.string_container = {"v2.1"};
      break;
    case 4:
      r.string_container = {"MoveL", "Transfer", "PickAndPlace/Cycle/Transfer", "0.734", "0/0/5", "PickAndPlace",
                            "0.5", "0"};
      break;
    case 10:
      for (uint16_t g : request.joint_groups) {
        for (const auto& [group, start, dof] : bench::Layout(profile)) {
          if (group != g) continue;
          r.joint_groups.push_back(group);
          r.int_container.push_back(start);
          r.float_container.push_back(dof);
        }
      }
      break;
    default:
      r.success = false;
  }
  return r;
}

// Sleeps until `deadline`. A wake-up comes tens of microseconds late, but the
// ticks are due on an absolute schedule, so a late one is followed by the
// next at once and the rate holds; spinning instead would take a core from
// the subscribers being measured.
void WaitUntil(int64_t deadline) {
  if (deadline - bench::NowNs() <= 0) return;
  timespec ts{static_cast<time_t>(deadline / 1000000000), static_cast<long>(deadline % 1000000000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

class Streamer {
 public:
  Streamer(const zenoh::Publisher& basic, const zenoh::Publisher& extra, bench::Profile p)
      : basic_(basic), extra_(extra), basic_bytes_(bench::BasicBytes(p)), extra_bytes_(bench::ExtraBytes(p)) {}
  ~Streamer() { Stop(); }

  void Start(double rate, uint64_t count, bool both, int64_t start_ns) {
    Stop();
    running_ = true;
    thread_ = std::thread([this, rate, count, both, start_ns] { Run(rate, count, both, start_ns); });
  }

  void Stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
  }

 private:
  void Run(double rate, uint64_t count, bool both, int64_t start_ns) {
    const int64_t period = static_cast<int64_t>(1e9 / rate);
    // A start more than a second ahead is a mistake; Stop() would wait for it.
    const int64_t now = bench::NowNs();
    const int64_t start = start_ns > 0 ? std::min(start_ns, now + 1000000000) : now;
    uint64_t sent = 0, extra_sent = 0, late = 0;
    int64_t max_late = 0;
    for (uint64_t k = 0; running_ && (count == 0 || k < count); ++k) {
      const int64_t due = start + static_cast<int64_t>(k) * period;
      WaitUntil(due);
      const int64_t now = bench::NowNs();
      if (now - due > period) ++late;
      max_late = std::max(max_late, now - due);
      bench::WriteStamp(basic_bytes_, now);
      if (basic_.put(zenoh::Bytes(basic_bytes_)) == NZ_OK) ++sent;
      if (both && extra_.put(zenoh::Bytes(extra_bytes_)) == NZ_OK) ++extra_sent;
    }
    const int64_t elapsed = bench::NowNs() - start;
    Say("done " + std::to_string(sent) + " " + std::to_string(elapsed) + " " + std::to_string(late) + " " +
        std::to_string(extra_sent) + " " + std::to_string(max_late));
  }

  const zenoh::Publisher& basic_;
  const zenoh::Publisher& extra_;
  std::vector<uint8_t> basic_bytes_;
  std::vector<uint8_t> extra_bytes_;
  std::atomic<bool> running_{false};
  std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
  std::string serial, profile_name = "dual";
  bool want_realtime = false;
  for (int i = 1; i < argc; ++i) {
    const std::string key = argv[i];
    if (key == "--realtime") want_realtime = true;
    if (i + 1 < argc && key == "--serial") serial = argv[++i];
    if (i + 1 < argc && key == "--profile") profile_name = argv[++i];
  }
  if (serial.empty()) {
    std::fprintf(stderr, "usage: bench_robot --serial SN [--profile dual|single] [--realtime]\n");
    return 2;
  }
  const bench::Profile profile = bench::ParseProfile(profile_name);
  const std::string prefix = "norvik/robot/" + serial;
  // Before the session exists, so that every thread it starts inherits it.
  bool realtime = false;
  if (want_realtime) {
    sched_param param{};
    param.sched_priority = 10;
    realtime = sched_setscheduler(0, SCHED_FIFO, &param) == 0;
  }

  zenoh::Session session = zenoh::Session::open(zenoh::Config::create_default());
  {
    zenoh::Publisher basic = session.declare_publisher(zenoh::KeyExpr(prefix + "/basic_stream_data"));
    zenoh::Publisher extra = session.declare_publisher(zenoh::KeyExpr(prefix + "/extra_stream_data"));
    zenoh::Queryable rpc = session.declare_queryable(
        zenoh::KeyExpr(prefix + "/rpc"),
        [profile](const zenoh::QueryView& q) {
          RPCRequest request;
          try {
            request = zenoh::ext::deserialize<RPCRequest>(q.payload());
          } catch (...) {
            return;
          }
          q.reply(zenoh_msgs::tarn_msg::SerializeMessage(Answer(request, profile)));
        },
        [] {});
    Streamer streamer(basic, extra, profile);
    Say("ready " + prefix + (realtime ? " realtime" : ""));

    std::string line;
    while (std::getline(std::cin, line)) {
      const auto w = bench::Words(line);
      if (w.empty()) continue;
      if (w[0] == "quit") break;
      if (w[0] == "stop") streamer.Stop();
      if (w[0] == "stream" && (w.size() == 4 || w.size() == 5)) {
        streamer.Start(std::stod(w[1]), std::stoull(w[2]), w[3] == "both", w.size() == 5 ? std::stoll(w[4]) : 0);
      }
    }
    streamer.Stop();
  }
  session.close();
  return 0;
}
