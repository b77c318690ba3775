// states() and actions() per call from C++, on a client connected to a robot
// that streams both samples at 1 kHz meanwhile (so readers meet the writer's
// lock as they would in use).
//
// Baselines in the same process: "raw_latest_basic" and "raw_latest_extra"
// are what a raw Zenoh reader pays to get the latest sample, a lock and a
// copy of its payload bytes kept by a raw subscriber on the same key; "estop_released" is the least a
// stream accessor costs (one lock, one field).
#include <benchmark/benchmark.h>
#include <spdlog/spdlog.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "common/profiles.h"
#include "common/util.h"
#include "middleware/shared_session.h"
#include "norvik/tarn.h"

namespace {

using namespace norvik;

struct Fixture {
  explicit Fixture(bench::Profile p) : serial(bench::UniqueSerial(bench::ProfileName(p))) {
    robot = std::make_unique<bench::Peer>(std::vector<std::string>{
        bench::ExecutableDir() + "/bench_robot", "--serial", serial, "--profile", bench::ProfileName(p), "--realtime"});
    client = std::make_unique<tarn::Client>(serial, false);
    session = zenoh_mdw::GetSharedZenohSession();
    for (int i = 0; i < 2; ++i) {
      raw[i].emplace(session->declare_subscriber(
          zenoh::KeyExpr("norvik/robot/" + serial + (i == 0 ? "/basic_stream_data" : "/extra_stream_data")),
          [this, i](zenoh::BytesView payload) {
            std::lock_guard<std::mutex> lock(mutex[i]);
            latest[i].resize(payload.size());
            nz_bytes_copy_to(payload.raw(), latest[i].data(), latest[i].size());
          },
          [] {}));
    }
    robot->Send("stream 1000 0 both");
    // Wait for samples on both paths before anything is timed.
    const int64_t deadline = bench::NowNs() + 5000000000;
    while (bench::NowNs() < deadline && (client->states().empty() || client->actions().empty() || Latest(0).empty() ||
                                      Latest(1).empty())) {
    }
  }
  ~Fixture() {
    robot->Send("stop");
    for (auto& r : raw) r.reset();
    client.reset();
  }

  std::vector<uint8_t> Latest(int i) {
    std::lock_guard<std::mutex> lock(mutex[i]);
    return latest[i];
  }

  std::string serial;
  std::unique_ptr<bench::Peer> robot;
  std::unique_ptr<tarn::Client> client;
  std::shared_ptr<zenoh::Session> session;
  // The latest basic [0] and extra [1] payloads, as a raw reader keeps them.
  std::optional<zenoh::Subscriber> raw[2];
  std::mutex mutex[2];
  std::vector<uint8_t> latest[2];
};

std::map<bench::Profile, std::unique_ptr<Fixture>> fixtures;

Fixture& Get(bench::Profile p) {
  auto& f = fixtures[p];
  if (!f) f = std::make_unique<Fixture>(p);
  return *f;
}

void States(benchmark::State& state, bench::Profile p) {
  Fixture& f = Get(p);
  size_t groups = 0;
  for (auto _ : state) {
    auto s = f.client->states();
    groups = s.size();
    benchmark::DoNotOptimize(s);
  }
  if (groups == 0) state.SkipWithError("states() returned nothing");
  state.counters["groups"] = static_cast<double>(groups);
}

void Actions(benchmark::State& state, bench::Profile p) {
  Fixture& f = Get(p);
  size_t groups = 0;
  for (auto _ : state) {
    auto a = f.client->actions();
    groups = a.size();
    benchmark::DoNotOptimize(a);
  }
  if (groups == 0) state.SkipWithError("actions() returned nothing");
  state.counters["groups"] = static_cast<double>(groups);
}

void EstopReleased(benchmark::State& state, bench::Profile p) {
  Fixture& f = Get(p);
  for (auto _ : state) benchmark::DoNotOptimize(f.client->estop_released());
}

void RawLatest(benchmark::State& state, bench::Profile p, int stream) {
  Fixture& f = Get(p);
  std::vector<uint8_t> copy;
  for (auto _ : state) {
    {
      std::lock_guard<std::mutex> lock(f.mutex[stream]);
      copy.assign(f.latest[stream].begin(), f.latest[stream].end());
    }
    benchmark::DoNotOptimize(copy.data());
  }
  state.counters["payload_bytes"] = static_cast<double>(copy.size());
}

}  // namespace

int main(int argc, char** argv) {
  spdlog::set_level(spdlog::level::warn);
  for (bench::Profile p : {bench::Profile::kDual, bench::Profile::kSingle}) {
    const std::string tail = std::string("/") + bench::ProfileName(p);
    benchmark::RegisterBenchmark(("states" + tail).c_str(), States, p);
    benchmark::RegisterBenchmark(("actions" + tail).c_str(), Actions, p);
    benchmark::RegisterBenchmark(("estop_released" + tail).c_str(), EstopReleased, p);
    benchmark::RegisterBenchmark(("raw_latest_basic" + tail).c_str(), RawLatest, p, 0);
    benchmark::RegisterBenchmark(("raw_latest_extra" + tail).c_str(), RawLatest, p, 1);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  fixtures.clear();
  return 0;
}
