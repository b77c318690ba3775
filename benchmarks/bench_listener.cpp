// A reading process whose CPU time and resident memory stream_bench and
// fleet_bench watch: either norvik::tarn::Clients that hold the latest
// samples (as an application that reads now and then does), one per robot on
// the process's one session, or raw Zenoh subscriber pairs on the same keys
// that only count samples.
//
//   bench_listener --mode client|raw --serial SN [--serial SN2 ...]
//
// Commands on stdin: "mark" prints
//   "mark CPU_NS RSS_KIB BASIC EXTRA STAMP_NS BASIC_1 EXTRA_1 ... BASIC_N EXTRA_N"
// (samples received per stream, in all and then per robot in the order of
// the --serial options; the stamp is the oldest of the clients' latest
// states(), 0 for the raw subscribers); "quit" (or end of input) exits.
#include <spdlog/spdlog.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <deque>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/util.h"
#include "norvik/tarn.h"
#include "zenoh.hxx"

namespace {

using namespace norvik;

void Say(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

int64_t LatestStamp(const tarn::Client& client) {
  const auto states = client.states();
  if (states.empty()) return 0;
  const auto& ts = states.begin()->second.timestamp;
  return static_cast<int64_t>(ts.first) * 1000000000 + static_cast<uint32_t>(ts.second);
}

// Counts of one robot's raw subscriber pair; a deque keeps their addresses
// fixed for the handlers.
struct RawCounts {
  std::atomic<int64_t> basic{0}, extra{0};
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> serials;
  std::string mode = "client";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    if (key == "--serial") serials.push_back(argv[i + 1]);
    if (key == "--mode") mode = argv[i + 1];
  }
  if (serials.empty() || (mode != "client" && mode != "raw")) {
    std::fprintf(stderr, "usage: bench_listener --mode client|raw --serial SN [--serial SN2 ...]\n");
    return 2;
  }
  spdlog::set_level(spdlog::level::warn);  // stdout carries the answers

  std::vector<std::unique_ptr<tarn::Client>> clients;
  std::optional<zenoh::Session> session;
  std::deque<RawCounts> counts;
  std::vector<zenoh::Subscriber> subs;
  try {
    if (mode == "client") {
      for (const auto& serial : serials) clients.push_back(std::make_unique<tarn::Client>(serial, false));
    } else {
      session.emplace(zenoh::Session::open(zenoh::Config::create_default()));
      for (const auto& serial : serials) {
        RawCounts& c = counts.emplace_back();
        const std::string prefix = "norvik/robot/" + serial;
        subs.push_back(session->declare_subscriber(
            zenoh::KeyExpr(prefix + "/basic_stream_data"),
            [&c](zenoh::BytesView) { c.basic.fetch_add(1, std::memory_order_relaxed); }, [] {}));
        subs.push_back(session->declare_subscriber(
            zenoh::KeyExpr(prefix + "/extra_stream_data"),
            [&c](zenoh::BytesView) { c.extra.fetch_add(1, std::memory_order_relaxed); }, [] {}));
      }
    }
  } catch (const std::exception& e) {
    // The caller sees no "ready" line and gives up; say why on stderr.
    std::fprintf(stderr, "bench_listener: %s\n", e.what());
    return 1;
  }
  Say("ready " + mode);

  std::string line;
  while (std::getline(std::cin, line)) {
    if (line == "quit") break;
    if (line != "mark") continue;
    std::vector<std::pair<int64_t, int64_t>> per_robot;
    int64_t stamp = 0;
    bool first = true;
    if (mode == "client") {
      for (const auto& client : clients) {
        per_robot.emplace_back(static_cast<int64_t>(client->stream_health(tarn::StreamKind::Basic).received),
                               static_cast<int64_t>(client->stream_health(tarn::StreamKind::Extra).received));
        const int64_t s = LatestStamp(*client);
        stamp = first ? s : std::min(stamp, s);
        first = false;
      }
    } else {
      for (const auto& c : counts) per_robot.emplace_back(c.basic.load(), c.extra.load());
    }
    int64_t basic = 0, extra = 0;
    std::string tail;
    for (const auto& [b, e] : per_robot) {
      basic += b;
      extra += e;
      tail += " " + std::to_string(b) + " " + std::to_string(e);
    }
    Say("mark " + std::to_string(bench::ProcessCpuNs()) + " " + std::to_string(bench::ResidentKiB()) + " " +
        std::to_string(basic) + " " + std::to_string(extra) + " " + std::to_string(stamp) + tail);
  }
  subs.clear();
  clients.clear();
  return 0;
}
