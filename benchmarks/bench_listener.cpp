// A reading process whose CPU time and resident memory stream_bench watches:
// either a norvik::tarn::Client that holds the latest samples (as an
// application that reads now and then does), or a raw Zenoh subscriber pair
// on the same keys that only counts samples.
//
//   bench_listener --mode client|raw --serial SN
//
// Commands on stdin: "mark" prints "mark CPU_NS RSS_KIB BASIC EXTRA STAMP_NS"
// (samples received per stream; the stamp is that of states(), 0 for the raw
// subscriber); "quit" (or end of input) exits.
#include <spdlog/spdlog.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

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

std::string Mark(int64_t basic, int64_t extra, int64_t stamp) {
  return "mark " + std::to_string(bench::ProcessCpuNs()) + " " + std::to_string(bench::ResidentKiB()) + " " +
         std::to_string(basic) + " " + std::to_string(extra) + " " + std::to_string(stamp);
}

int64_t LatestStamp(const tarn::Client& client) {
  const auto states = client.states();
  if (states.empty()) return 0;
  const auto& ts = states.begin()->second.timestamp;
  return static_cast<int64_t>(ts.first) * 1000000000 + static_cast<uint32_t>(ts.second);
}

}  // namespace

int main(int argc, char** argv) {
  std::string serial, mode = "client";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    if (key == "--serial") serial = argv[i + 1];
    if (key == "--mode") mode = argv[i + 1];
  }
  if (serial.empty() || (mode != "client" && mode != "raw")) {
    std::fprintf(stderr, "usage: bench_listener --mode client|raw --serial SN\n");
    return 2;
  }
  spdlog::set_level(spdlog::level::warn);  // stdout carries the answers

  std::unique_ptr<tarn::Client> client;
  std::optional<zenoh::Session> session;
  std::optional<zenoh::Subscriber> basic_sub, extra_sub;
  std::atomic<int64_t> basic{0}, extra{0};
  if (mode == "client") {
    client = std::make_unique<tarn::Client>(serial, false);
  } else {
    session.emplace(zenoh::Session::open(zenoh::Config::create_default()));
    const std::string prefix = "norvik/robot/" + serial;
    basic_sub.emplace(session->declare_subscriber(
        zenoh::KeyExpr(prefix + "/basic_stream_data"),
        [&basic](zenoh::BytesView) { basic.fetch_add(1, std::memory_order_relaxed); }, [] {}));
    extra_sub.emplace(session->declare_subscriber(
        zenoh::KeyExpr(prefix + "/extra_stream_data"),
        [&extra](zenoh::BytesView) { extra.fetch_add(1, std::memory_order_relaxed); }, [] {}));
  }
  Say("ready " + mode);

  std::string line;
  while (std::getline(std::cin, line)) {
    if (line == "quit") break;
    if (line != "mark") continue;
    if (client) {
      const auto basic_count = static_cast<int64_t>(client->stream_health(tarn::StreamKind::Basic).received);
      const auto extra_count = static_cast<int64_t>(client->stream_health(tarn::StreamKind::Extra).received);
      Say(Mark(basic_count, extra_count, LatestStamp(*client)));
    } else {
      Say(Mark(basic.load(), extra.load(), 0));
    }
  }
  basic_sub.reset();
  extra_sub.reset();
  client.reset();
  return 0;
}
