// A request round trip, plan_info(), against a raw Zenoh get that sends the
// same request bytes to the same queryable and waits for the first reply
// without decoding it. The two alternate call by call (ABBA), on the
// process's one session, while the robot streams both samples at 1 kHz.
//
// Extra flag: --rpc_calls=N round trips of each kind (default 2000).
#include <benchmark/benchmark.h>
#include <spdlog/spdlog.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

#include "common/profiles.h"
#include "common/util.h"
#include "middleware/shared_session.h"
#include "msgs/codec.h"
#include "norvik/tarn.h"
#include "zenoh/blocking_get.hxx"

namespace {

using namespace norvik;

int calls = 2000;

struct RawGet {
  RawGet(std::shared_ptr<zenoh::Session> s, const std::string& serial)
      : session(std::move(s)),
        ke("norvik/robot/" + serial + "/rpc"),
        request(zenoh_msgs::tarn_msg::SerializeMessage(zenoh_msgs::tarn_msg::RPCRequest{4, {}}).as_vector()) {}

  // True when a good reply came.
  bool Call() {
    zenoh::GetOptions options;
    options.payload = zenoh::Bytes(request);
    options.zenoh_serialized_encoding = true;
    options.timeout_ms = 2000;
    auto good = [](bool ok, zenoh::BytesView, std::string_view) { return ok ? std::optional<bool>(true) : std::nullopt; };
    return !zenoh::get_blocking<bool>(*session, ke, "", std::move(options),
                                      std::chrono::steady_clock::now() + std::chrono::milliseconds(2000), good, 1)
                .empty();
  }

  std::shared_ptr<zenoh::Session> session;
  zenoh::KeyExpr ke;
  std::vector<uint8_t> request;
};

void RoundTrip(benchmark::State& state, bench::Profile p) {
  const std::string serial = bench::UniqueSerial(bench::ProfileName(p));
  bench::Peer robot({bench::ExecutableDir() + "/bench_robot", "--serial", serial, "--profile", bench::ProfileName(p), "--realtime"});
  tarn::Client client(serial, false);
  RawGet raw(zenoh_mdw::GetSharedZenohSession(), serial);
  robot.Send("stream 1000 0 both");

  std::vector<double> tarn_us, raw_us;
  tarn_us.reserve(calls);
  raw_us.reserve(calls);
  int failures = 0;
  auto time_tarn = [&](bool keep) {
    const int64_t t0 = bench::NowNs();
    const tarn::PlanInfo info = client.plan_info();
    const int64_t t1 = bench::NowNs();
    benchmark::DoNotOptimize(info);
    if (keep) tarn_us.push_back((t1 - t0) / 1e3);
  };
  auto time_raw = [&](bool keep) {
    const int64_t t0 = bench::NowNs();
    const bool ok = raw.Call();
    const int64_t t1 = bench::NowNs();
    if (!ok) ++failures;
    if (keep) raw_us.push_back((t1 - t0) / 1e3);
  };
  for (auto _ : state) {
    for (int i = 0; i < 50; ++i) {  // warm-up: connections, allocator, caches
      time_raw(false);
      time_tarn(false);
    }
    for (int i = 0; i < calls; ++i) {
      if (i % 2 == 0) {
        time_raw(true);
        time_tarn(true);
      } else {
        time_tarn(true);
        time_raw(true);
      }
    }
  }
  robot.Send("stop");
  if (failures > 0) state.SkipWithError("raw get without reply");
  const double t50 = bench::Quantile(tarn_us, 0.5), t99 = bench::Quantile(tarn_us, 0.99);
  const double r50 = bench::Quantile(raw_us, 0.5), r99 = bench::Quantile(raw_us, 0.99);
  state.counters["calls"] = calls;
  state.counters["tarn_p50_us"] = t50;
  state.counters["tarn_p99_us"] = t99;
  state.counters["raw_p50_us"] = r50;
  state.counters["raw_p99_us"] = r99;
  state.counters["ratio_p50"] = t50 / r50;
  state.counters["ratio_p99"] = t99 / r99;
}

}  // namespace

int main(int argc, char** argv) {
  spdlog::set_level(spdlog::level::warn);
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--rpc_calls=", 12) == 0) {
      calls = std::max(10, std::atoi(argv[i] + 12));
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  for (bench::Profile p : {bench::Profile::kDual, bench::Profile::kSingle}) {
    benchmark::RegisterBenchmark((std::string("plan_info_round_trip/") + bench::ProfileName(p)).c_str(), RoundTrip, p)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
