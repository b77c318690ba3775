// Network probe: one Client, seen from where a user sits, through whatever
// network the Zenoh configuration names. Prints JSON lines on stdout, each
// with "t", steady-clock seconds (CLOCK_MONOTONIC, the same clock as
// Python's time.monotonic() in other processes and namespaces).
//
//   tarn_net_probe --serial SN [--connect ENDPOINT]... [--check] [--seconds S]
//
// --check calls every accessor once and prints {"check": ...}; it exits 1
// when one of them fails or gives nothing. --seconds S then watches for S
// seconds: the basic stream's freshness (every change, stale limit
// --stale-ms), its received count and the latest sample's age (every
// 100 ms), and requests made one
// after another (plan_info, then connected) with their start, end and outcome.
#include <spdlog/spdlog.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "norvik/tarn.h"
#include "stress/command_line.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace norvik::tarn;

std::atomic<bool> g_stop{false};
std::mutex g_out;

double Now() { return std::chrono::duration<double>(Clock::now().time_since_epoch()).count(); }

void Emit(const std::string& json) {
  std::lock_guard<std::mutex> lock(g_out);
  std::fputs((json + "\n").c_str(), stdout);
  std::fflush(stdout);
}

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += (static_cast<unsigned char>(c) < 0x20) ? ' ' : c;
  }
  return out + "\"";
}

struct Options {
  std::string serial;
  std::vector<std::string> connect;
  bool check = false;
  double seconds = 0;
  int stale_ms = 100;
};

Options Parse(int argc, char** argv) {
  norvik::stress::CommandLine args(argc, argv, "tarn_net_probe",
                                   "tarn_net_probe --serial SN [--connect ENDPOINT]... [--check] [--seconds S] "
                                   "[--stale-ms MS]");
  Options o;
  while (args.Next()) {
    if (args.Is("--serial")) {
      o.serial = args.Value();
    } else if (args.Is("--connect")) {
      o.connect.push_back(args.Value());
    } else if (args.Is("--check")) {
      o.check = true;
    } else if (args.Is("--seconds")) {
      o.seconds = std::stod(args.Value());
    } else if (args.Is("--stale-ms")) {
      o.stale_ms = std::stoi(args.Value());
    } else {
      args.Unknown();
    }
  }
  if (o.serial.empty()) args.Fail("--serial is required");
  return o;
}

// Every accessor once; the names of those that failed or gave nothing.
std::vector<std::string> CheckAccessors(const Client& robot) {
  std::vector<std::string> failed;
  auto expect = [&failed](const char* name, auto&& call) {
    try {
      if (!call()) failed.push_back(name);
    } catch (const std::exception& e) {
      failed.push_back(std::string(name) + ": " + e.what());
    }
  };
  const auto layout = robot.layout();
  expect("server_version", [&] { return robot.server_version() == "v2.1"; });
  expect("layout", [&] { return !layout.empty(); });
  expect("connected", [&] { return robot.connected(); });
  expect("groups", [&] { return !robot.groups().empty(); });
  expect("states", [&] {
    const auto states = robot.states();
    for (const auto& [group, s] : states) {
      const auto at = layout.find(group);
      if (at != layout.end() && s.q.size() != at->second.second) return false;
    }
    return !states.empty();
  });
  expect("actions", [&] { return !robot.actions().empty(); });
  expect("primitive_states", [&] { return !robot.primitive_states().empty(); });
  expect("plan_info", [&] { return !robot.plan_info().assigned_plan_name.empty(); });
  expect("configuration_score", [&] { return !robot.configuration_score().empty(); });
  // Status bits: any value will do; a throw is the failure.
  expect("estop_released", [&] { return (void)robot.estop_released(), true; });
  expect("enabling_device_on", [&] { return (void)robot.enabling_device_on(), true; });
  expect("digital_inputs", [&] { return robot.digital_inputs().size() == 20; });
  expect("digital_outputs", [&] { return robot.digital_outputs().size() == 20; });
  expect("stream_health", [&] { return robot.stream_health(StreamKind::Basic).received > 0; });
  return failed;
}

void WatchStream(const Client& robot, std::chrono::milliseconds stale_limit, Clock::time_point until) {
  const char* names[] = {"never", "live", "stale"};
  int shown = -1;
  auto next_count = Clock::now();
  while (!g_stop && Clock::now() < until) {
    const auto health = robot.stream_health(StreamKind::Basic);
    const int fresh = static_cast<int>(health.freshness(stale_limit));
    if (fresh != shown) {
      Emit("{\"t\": " + std::to_string(Now()) + ", \"ev\": \"freshness\", \"state\": \"" + names[fresh] +
           "\", \"received\": " + std::to_string(health.received) + "}");
      shown = fresh;
    }
    if (Clock::now() >= next_count) {
      const auto age = health.age();
      Emit("{\"t\": " + std::to_string(Now()) + ", \"ev\": \"count\", \"received\": " +
           std::to_string(health.received) + ", \"age\": " +
           (age ? std::to_string(std::chrono::duration<double>(*age).count()) : std::string("null")) + "}");
      next_count += std::chrono::milliseconds(100);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void MakeRequests(const Client& robot, Clock::time_point until) {
  while (!g_stop && Clock::now() < until) {
    for (const char* call : {"plan_info", "connected"}) {
      const double start = Now();
      bool ok = false;
      std::string error;
      try {
        ok = std::string(call) == "plan_info" ? (robot.plan_info(), true) : robot.connected();
      } catch (const std::exception& e) {
        error = e.what();
      }
      Emit("{\"t\": " + std::to_string(Now()) + ", \"ev\": \"request\", \"call\": \"" + call +
           "\", \"start\": " + std::to_string(start) + ", \"ok\": " + (ok ? "true" : "false") +
           ", \"error\": " + Quoted(error) + "}");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  std::signal(SIGTERM, [](int) { g_stop = true; });
  spdlog::set_level(spdlog::level::warn);
  try {
    if (!o.connect.empty()) use_zenoh_config(ZenohConfig::connect_to(o.connect));
    const double start = Now();
    Client robot(o.serial, false);
    Emit("{\"t\": " + std::to_string(Now()) + ", \"ev\": \"connected\", \"took\": " + std::to_string(Now() - start) +
         ", \"config\": " + Quoted(zenoh_config().description()) + "}");
    int status = 0;
    if (o.check) {
      const auto failed = CheckAccessors(robot);
      std::string list;
      for (const auto& f : failed) list += (list.empty() ? "" : ", ") + Quoted(f);
      Emit("{\"t\": " + std::to_string(Now()) + ", \"check\": " + (failed.empty() ? "\"ok\"" : "\"failed\"") +
           ", \"failed\": [" + list + "]}");
      status = failed.empty() ? 0 : 1;
    }
    if (o.seconds > 0) {
      const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(o.seconds));
      std::thread requests(MakeRequests, std::cref(robot), until);
      WatchStream(robot, std::chrono::milliseconds(o.stale_ms), until);
      requests.join();
      Emit("{\"t\": " + std::to_string(Now()) + ", \"ev\": \"end\", \"received\": " +
           std::to_string(robot.stream_health(StreamKind::Basic).received) + "}");
    }
    return status;
  } catch (const std::exception& e) {
    Emit("{\"t\": " + std::to_string(Now()) + ", \"ev\": \"failed\", \"error\": " + Quoted(e.what()) + "}");
    return 3;
  }
}
