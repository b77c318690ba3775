// The stream path against raw Zenoh, each figure beside its baseline from
// the same run, with a C++ robot (bench_robot) publishing:
//
// latency/P   put to visible through states(), against a raw subscriber in
//             this process on the same key. Both are declared on the one
//             session, the raw one first, so Zenoh runs it first for every
//             sample (counted: raw_ran_first) and the client's decoding
//             never delays it. The raw one copies the bytes under a mutex
//             and moves a count, as the client's subscriber does; one thread
//             spins on the raw count, reads the stamp under that mutex, then
//             waits for the client's count and calls states() until it
//             returns the same sample. So each sample gives both latencies,
//             and their difference is what our layer adds to it.
// max_rate/P  the highest basic-stream rate at which no sample is lost at
//             the subscriber (counted), for the client and for a raw
//             counting subscriber, in turns at each rate (three trials of
//             --rate_seconds each): in two of three trials and every rate
//             below (max_hz), and in at least one (max_once_hz).
// soak/P      two listener processes side by side on one 1 kHz stream pair
//             for --soak_seconds: a client, and a raw subscriber that only
//             counts; their CPU time per second of stream and their
//             resident memory at rest, after warm-up and at the end.
#include <benchmark/benchmark.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>

#include "common/profiles.h"
#include "common/util.h"
#include "impl/tarn_client.h"
#include "middleware/shared_session.h"

namespace {

using namespace norvik;

int latency_samples = 2000;
int latency_rounds = 3;
double rate_seconds = 1.0;
double soak_seconds = 30.0;

// The client's subscriber counts a sample before DataStream copies it under
// the stream's mutex; a reader that took that mutex at once would often make
// the writer sleep on it, and measure the wake-up. Waiting a microsecond
// after a count moves keeps the reader from disturbing what it measures;
// raw and client readers wait alike.
void Backoff() {
  const int64_t until = bench::NowNs() + 1000;
  while (bench::NowNs() < until) {
  }
}

// The robot runs real-time (see bench_robot) except for the rate sweep.
std::unique_ptr<bench::Peer> StartRobot(const std::string& serial, bench::Profile p, bool realtime = true) {
  std::vector<std::string> argv{bench::ExecutableDir() + "/bench_robot", "--serial", serial, "--profile",
                                bench::ProfileName(p)};
  if (realtime) argv.push_back("--realtime");
  return std::make_unique<bench::Peer>(argv);
}

std::string Key(const std::string& serial, const char* stream) { return "norvik/robot/" + serial + "/" + stream; }

// The layout a Client learns at connection; states() is GetRobotStates with it.
struct Layout {
  tarn_impl::GroupNames groups;
  tarn_impl::StartIds start_ids;
  tarn_impl::DoFs dofs;
};

Layout Learn(tarn_impl::TARNClient& tc) {
  Layout l;
  const std::vector<tarn::JointGroup> all{tarn::JointGroup::ALL, tarn::JointGroup::ARMS, tarn::JointGroup::ARM_1,
                                          tarn::JointGroup::ARM_2, tarn::JointGroup::EXT_AXIS};
  if (tc.Rpc().RequestStartIdAndDoF(all, l.start_ids, l.dofs).code() != ozr::OZR_GENERAL_OK) {
    throw std::runtime_error("no layout");
  }
  l.groups = tc.Stream().GetJointGroups(true);
  return l;
}

int64_t StampOf(const std::map<tarn::JointGroup, tarn::RobotStates>& s) {
  if (s.empty()) return 0;
  const auto& ts = s.begin()->second.timestamp;
  return static_cast<int64_t>(ts.first) * 1000000000 + static_cast<uint32_t>(ts.second);
}

void Latency(benchmark::State& state, bench::Profile p) {
  const std::string serial = bench::UniqueSerial(bench::ProfileName(p));
  auto robot = StartRobot(serial, p);
  const auto session = zenoh_mdw::GetSharedZenohSession();
  std::vector<double> raw_us, tarn_us, diff_us;
  uint64_t raw_first = 0, tarn_first = 0;

  auto round = [&] {
    // The raw subscriber hands each sample to the reading thread as the
    // client does: a copy of its bytes under a mutex, and a count.
    std::mutex mutex;
    std::atomic<uint64_t> raw_count{0}, order_raw{0}, order_tarn{0};
    std::vector<uint8_t> basic_copy, extra_copy;
    const tarn_impl::DataStream* ds = nullptr;
    uint64_t tarn_base = 0;
    std::atomic<bool> armed{false};
    zenoh::Subscriber basic = session->declare_subscriber(
        zenoh::KeyExpr(Key(serial, "basic_stream_data")),
        [&](zenoh::BytesView payload) {
          if (armed.load(std::memory_order_acquire)) {
            // Which of the two subscribers Zenoh ran first for this sample.
            const bool tarn_done = ds->BasicReceived() - tarn_base > raw_count.load(std::memory_order_relaxed);
            (tarn_done ? order_tarn : order_raw).fetch_add(1, std::memory_order_relaxed);
          }
          std::lock_guard<std::mutex> lock(mutex);
          basic_copy.resize(payload.size());
          nz_bytes_copy_to(payload.raw(), basic_copy.data(), basic_copy.size());
          raw_count.fetch_add(1, std::memory_order_release);
        },
        [] {});
    zenoh::Subscriber extra = session->declare_subscriber(
        zenoh::KeyExpr(Key(serial, "extra_stream_data")),
        [&](zenoh::BytesView payload) {
          extra_copy.resize(payload.size());
          nz_bytes_copy_to(payload.raw(), extra_copy.data(), extra_copy.size());
        },
        [] {});

    tarn_impl::TARNClient tc(false);
    tc.Init(serial);
    robot->Send("stream 1000 20 both");  // the groups come from the first samples
    robot->Expect("done");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const Layout l = Learn(tc);
    ds = &tc.Stream();
    tarn_base = ds->BasicReceived();
    raw_count = 0;
    armed = true;

    constexpr int kWarmup = 50;
    const int n = latency_samples + kWarmup;
    robot->Send("stream 1000 " + std::to_string(n) + " both");
    const int64_t give_up = bench::NowNs() + static_cast<int64_t>(n) * 1000000 + 3000000000;
    uint64_t seen = 0;
    int64_t last = 0;
    int kept = 0;
    while (kept < n && bench::NowNs() < give_up) {
      // The raw subscriber's copy first...
      uint64_t c;
      while ((c = raw_count.load(std::memory_order_acquire)) == seen && bench::NowNs() < give_up) {
      }
      if (c == seen) break;
      seen = c;
      Backoff();
      int64_t stamp;
      {
        std::lock_guard<std::mutex> lock(mutex);
        stamp = bench::ReadStamp(basic_copy.data(), basic_copy.size());
      }
      const int64_t t_raw = bench::NowNs();
      if (stamp == last) continue;
      last = stamp;
      // ...then the same sample through states().
      while (ds->BasicReceived() - tarn_base < seen && bench::NowNs() < give_up) {
      }
      int64_t t_tarn = 0;
      while (bench::NowNs() < give_up) {
        Backoff();
        const int64_t s = StampOf(ds->GetRobotStates(l.groups, l.start_ids, l.dofs));
        if (s >= stamp) {
          t_tarn = bench::NowNs();
          break;
        }
      }
      if (t_tarn == 0) break;
      if (++kept > kWarmup) {
        raw_us.push_back((t_raw - stamp) / 1e3);
        tarn_us.push_back((t_tarn - stamp) / 1e3);
        diff_us.push_back((t_tarn - t_raw) / 1e3);
      }
    }
    robot->Expect("done");
    armed = false;
    raw_first += order_raw;
    tarn_first += order_tarn;
  };

  for (auto _ : state) {
    for (int r = 0; r < latency_rounds; ++r) round();
  }
  const double r50 = bench::Quantile(raw_us, 0.5), r99 = bench::Quantile(raw_us, 0.99);
  const double t50 = bench::Quantile(tarn_us, 0.5), t99 = bench::Quantile(tarn_us, 0.99);
  state.counters["samples"] = static_cast<double>(raw_us.size());
  state.counters["raw_ran_first"] = static_cast<double>(raw_first);
  state.counters["tarn_ran_first"] = static_cast<double>(tarn_first);
  state.counters["raw_p50_us"] = r50;
  state.counters["raw_p99_us"] = r99;
  state.counters["tarn_p50_us"] = t50;
  state.counters["tarn_p99_us"] = t99;
  state.counters["diff_p50_us"] = t50 - r50;
  state.counters["paired_diff_p50_us"] = bench::Quantile(diff_us, 0.5);
  state.counters["paired_diff_p99_us"] = bench::Quantile(diff_us, 0.99);
  state.counters["ratio_p99"] = t99 / r99;
}

struct RateResult {
  uint64_t sent = 0, received = 0;
  double achieved_hz = 0;
  double lag_ms = 0;  // from the last put until the subscriber's last sample
  uint64_t lost() const { return sent - std::min(sent, received); }
  // Kept up: nothing lost, and not living off buffers at the end.
  bool clean() const { return lost() == 0 && lag_ms < 50; }
};

// Publishes `rate` Hz of basic samples for rate_seconds and counts what
// `count()` saw of them once the subscriber has gone quiet.
template <typename Count>
RateResult RatePhase(bench::Peer& robot, double rate, Count count) {
  const uint64_t before = count();
  const uint64_t n = static_cast<uint64_t>(rate * rate_seconds);
  robot.Send("stream " + std::to_string(rate) + " " + std::to_string(n) + " basic");
  const auto w = bench::Words(robot.Expect("done", std::chrono::seconds(120)));
  const int64_t done = bench::NowNs();
  RateResult r;
  r.sent = std::stoull(w.at(1));
  r.achieved_hz = static_cast<double>(r.sent) / (std::stod(w.at(2)) / 1e9);
  uint64_t seen = count();
  int64_t last_change = done;
  for (int64_t quiet_since = done; bench::NowNs() - quiet_since < 300000000;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const uint64_t now = count();
    if (now != seen) {
      seen = now;
      last_change = quiet_since = bench::NowNs();
    }
  }
  r.received = seen - before;
  r.lag_ms = (last_change - done) / 1e6;
  return r;
}

void MaxRate(benchmark::State& state, bench::Profile p) {
  const std::string serial = bench::UniqueSerial(bench::ProfileName(p));
  auto robot = StartRobot(serial, p, false);
  const auto session = zenoh_mdw::GetSharedZenohSession();
  const std::vector<double> rates{1000, 2000, 5000, 10000, 20000, 40000, 60000, 80000, 100000, 150000};
  // A rate is kept up with when at least two of three trials are clean: on
  // a shared machine a stall elsewhere can drop a sample now and then, raw
  // or not.
  constexpr int kTrials = 3;
  double raw_max = 0, tarn_max = 0, raw_max_once = 0, tarn_max_once = 0;
  bool raw_up = true, tarn_up = true, raw_once = true, tarn_once = true;

  auto raw_trial = [&](double rate) {
    std::atomic<uint64_t> n{0};
    zenoh::Subscriber sub = session->declare_subscriber(
        zenoh::KeyExpr(Key(serial, "basic_stream_data")),
        [&n](zenoh::BytesView) { n.fetch_add(1, std::memory_order_relaxed); }, [] {});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let the declaration reach the robot
    return RatePhase(*robot, rate, [&n] { return n.load(); });
  };
  auto tarn_trial = [&](double rate) {
    tarn_impl::TARNClient tc(false);
    tc.Init(serial);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // as long as the raw one gets
    const tarn_impl::DataStream& ds = tc.Stream();
    return RatePhase(*robot, rate, [&ds] { return ds.BasicReceived(); });
  };

  for (auto _ : state) {
    for (double rate : rates) {
      if (!raw_once && !tarn_once) break;
      const std::string tag = std::to_string(static_cast<int>(rate));
      int raw_ok = 0, tarn_ok = 0;
      uint64_t raw_lost = 0, tarn_lost = 0;
      double achieved = 1e12, raw_lag = 0, tarn_lag = 0;
      for (int t = 0; t < kTrials; ++t) {
        const RateResult r = raw_trial(rate);
        const RateResult c = tarn_trial(rate);
        raw_lost += r.lost();
        tarn_lost += c.lost();
        raw_ok += r.clean();
        tarn_ok += c.clean();
        raw_lag = std::max(raw_lag, r.lag_ms);
        tarn_lag = std::max(tarn_lag, c.lag_ms);
        achieved = std::min({achieved, r.achieved_hz, c.achieved_hz});
      }
      fprintf(stderr,
              "max_rate/%s %6.0f Hz (published >= %.0f Hz): raw lost %llu, lag <= %.1f ms (%d/3 clean); "
              "client lost %llu, lag <= %.1f ms (%d/3 clean)\n",
              bench::ProfileName(p), rate, achieved, static_cast<unsigned long long>(raw_lost), raw_lag, raw_ok,
              static_cast<unsigned long long>(tarn_lost), tarn_lag, tarn_ok);
      state.counters["raw_lost_" + tag] = static_cast<double>(raw_lost);
      state.counters["tarn_lost_" + tag] = static_cast<double>(tarn_lost);
      state.counters["raw_clean_" + tag] = raw_ok;
      state.counters["tarn_clean_" + tag] = tarn_ok;
      state.counters["published_hz_" + tag] = achieved;
      // The publisher must really have reached the rate for it to count.
      const bool reached = achieved >= 0.98 * rate;
      raw_up = raw_up && reached && raw_ok >= 2;
      tarn_up = tarn_up && reached && tarn_ok >= 2;
      if (raw_up) raw_max = rate;
      if (tarn_up) tarn_max = rate;
      // Capacity shown at all: one clean trial (nothing lost, not behind at
      // the end) proves the subscriber can take that rate; stalls from
      // elsewhere only ever take trials away.
      raw_once = raw_once && reached && raw_ok >= 1;
      tarn_once = tarn_once && reached && tarn_ok >= 1;
      if (raw_once) raw_max_once = rate;
      if (tarn_once) tarn_max_once = rate;
    }
  }
  state.counters["raw_max_hz"] = raw_max;
  state.counters["tarn_max_hz"] = tarn_max;
  state.counters["raw_max_once_hz"] = raw_max_once;
  state.counters["tarn_max_once_hz"] = tarn_max_once;
}

struct Mark {
  int64_t cpu_ns = 0, rss_kib = 0, basic = 0, extra = 0, stamp = 0;
};

Mark Read(bench::Peer& listener) {
  listener.Send("mark");
  const auto w = bench::Words(listener.Expect("mark"));
  return {std::stoll(w.at(1)), std::stoll(w.at(2)), std::stoll(w.at(3)), std::stoll(w.at(4)), std::stoll(w.at(5))};
}

void Soak(benchmark::State& state, bench::Profile p) {
  const std::string serial = bench::UniqueSerial(bench::ProfileName(p));
  auto robot = StartRobot(serial, p);
  // The client learns the robot's groups from the stream as it connects, so
  // the stream runs until both listeners are up; "at rest" is then a
  // connected client with the stream stopped.
  robot->Send("stream 1000 0 both");
  const std::string listener = bench::ExecutableDir() + "/bench_listener";
  bench::Peer tarn({listener, "--mode", "client", "--serial", serial});
  bench::Peer raw({listener, "--mode", "raw", "--serial", serial});
  std::this_thread::sleep_for(std::chrono::seconds(1));
  robot->Send("stop");
  robot->Expect("done");
  std::this_thread::sleep_for(std::chrono::seconds(2));

  const Mark tarn_rest = Read(tarn), raw_rest = Read(raw);
  const int64_t ticks = static_cast<int64_t>(soak_seconds * 1000);
  const int64_t t0 = bench::NowNs();
  robot->Send("stream 1000 " + std::to_string(ticks) + " both");
  // Memory is read ten times; the first read after a tenth of the run (at
  // most a minute) is the warmed-up figure that growth is measured from.
  const double warm_s = std::min(60.0, soak_seconds / 10);
  Mark tarn_warm{}, raw_warm{}, tarn_peak{}, raw_peak{}, tarn_prev{}, raw_prev{};
  bool warm = false;
  // CPU is also compared window by window (between reads): a stall from
  // elsewhere hits one window, not the median of their ratios.
  std::vector<double> window_ratios;
  for (int i = 1; i <= 10; ++i) {
    const double at = i == 1 ? warm_s : soak_seconds * i / 10.0;
    const int64_t due = t0 + static_cast<int64_t>(at * 1e9) - (i == 10 ? 200000000 : 0);
    while (bench::NowNs() < due) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const Mark a = Read(tarn), b = Read(raw);
    fprintf(stderr, "soak/%s t=%.0fs client_rss=%lld KiB raw_rss=%lld KiB\n", bench::ProfileName(p),
            (bench::NowNs() - t0) / 1e9, static_cast<long long>(a.rss_kib), static_cast<long long>(b.rss_kib));
    if (!warm) {
      tarn_warm = a;
      raw_warm = b;
      warm = true;
    } else if (b.cpu_ns > raw_prev.cpu_ns) {
      window_ratios.push_back(static_cast<double>(a.cpu_ns - tarn_prev.cpu_ns) / (b.cpu_ns - raw_prev.cpu_ns));
    }
    tarn_prev = a;
    raw_prev = b;
    tarn_peak.rss_kib = std::max(tarn_peak.rss_kib, a.rss_kib);
    raw_peak.rss_kib = std::max(raw_peak.rss_kib, b.rss_kib);
  }
  const auto done = bench::Words(robot->Expect("done", std::chrono::seconds(120)));
  const double window_s = std::stod(done.at(2)) / 1e9;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the last samples in flight
  const Mark tarn_end = Read(tarn), raw_end = Read(raw);
  for (auto _ : state) {
  }

  const double tarn_cpu = 100.0 * (tarn_end.cpu_ns - tarn_rest.cpu_ns) / 1e9 / window_s;
  const double raw_cpu = 100.0 * (raw_end.cpu_ns - raw_rest.cpu_ns) / 1e9 / window_s;
  state.counters["seconds"] = window_s;
  state.counters["sent"] = std::stod(done.at(1));
  state.counters["robot_late_ticks"] = std::stod(done.at(3));
  state.counters["raw_received"] = static_cast<double>(raw_end.basic - raw_rest.basic);
  state.counters["tarn_received"] = static_cast<double>(tarn_end.basic - tarn_rest.basic);
  state.counters["tarn_stamp_age_ms"] = (bench::NowNs() - tarn_end.stamp) / 1e6;
  state.counters["tarn_cpu_pct"] = tarn_cpu;
  state.counters["raw_cpu_pct"] = raw_cpu;
  state.counters["ratio_cpu"] = tarn_cpu / raw_cpu;
  state.counters["ratio_cpu_window_median"] = bench::Quantile(window_ratios, 0.5);
  state.counters["tarn_rss_rest_kib"] = static_cast<double>(tarn_rest.rss_kib);
  state.counters["raw_rss_rest_kib"] = static_cast<double>(raw_rest.rss_kib);
  state.counters["tarn_rss_warm_kib"] = static_cast<double>(tarn_warm.rss_kib);
  state.counters["raw_rss_warm_kib"] = static_cast<double>(raw_warm.rss_kib);
  state.counters["tarn_rss_end_kib"] = static_cast<double>(tarn_end.rss_kib);
  state.counters["raw_rss_end_kib"] = static_cast<double>(raw_end.rss_kib);
  state.counters["tarn_rss_peak_kib"] = static_cast<double>(tarn_peak.rss_kib);
  state.counters["raw_rss_peak_kib"] = static_cast<double>(raw_peak.rss_kib);
  state.counters["tarn_rss_growth_kib"] = static_cast<double>(tarn_end.rss_kib - tarn_warm.rss_kib);
  state.counters["raw_rss_growth_kib"] = static_cast<double>(raw_end.rss_kib - raw_warm.rss_kib);
}

bool Flag(const char* arg, const char* name, double& value) {
  const size_t n = std::strlen(name);
  if (std::strncmp(arg, name, n) != 0 || arg[n] != '=') return false;
  value = std::atof(arg + n + 1);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  spdlog::set_level(spdlog::level::warn);
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    double v = 0;
    if (Flag(argv[i], "--latency_samples", v)) {
      latency_samples = std::max(100, static_cast<int>(v));
    } else if (Flag(argv[i], "--latency_rounds", v)) {
      latency_rounds = std::max(1, static_cast<int>(v));
    } else if (Flag(argv[i], "--rate_seconds", v)) {
      rate_seconds = std::max(0.2, v);
    } else if (Flag(argv[i], "--soak_seconds", v)) {
      soak_seconds = std::max(5.0, v);
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  for (bench::Profile p : {bench::Profile::kDual, bench::Profile::kSingle}) {
    const std::string tail = std::string("/") + bench::ProfileName(p);
    benchmark::RegisterBenchmark(("latency" + tail).c_str(), Latency, p)->Iterations(1)->Unit(benchmark::kSecond);
    benchmark::RegisterBenchmark(("max_rate" + tail).c_str(), MaxRate, p)->Iterations(1)->Unit(benchmark::kSecond);
    benchmark::RegisterBenchmark(("soak" + tail).c_str(), Soak, p)->Iterations(1)->Unit(benchmark::kSecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
