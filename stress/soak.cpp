// Soak: one Client against a robot streaming both streams at 1 kHz, a
// request every 10 ms, four reader threads, for a set time. Prints a line of
// figures every --report-every seconds and a summary at the end; with
// --check it exits 1 when a figure is out of bounds.
//
//   tarn_soak --serial SN [--seconds S] [--rate HZ] [--check] ...
//
// Run it inside tools/isolated next to `tarn-sim --serial SN
// --stamp-from-counter` (tools/run-soak.sh does both): samples carry their
// number in their stamp, so a subscriber beside the client counts the lost
// ones as gaps.
#include <spdlog/spdlog.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "middleware/shared_session.h"
#include "middleware/subscriber.h"
#include "norvik/tarn.h"
#include "stress/command_line.h"
#include "stress/process_figures.h"
#include "stress/sim_control.h"

namespace {

using Clock = std::chrono::steady_clock;
using norvik::stress::Figures;
using norvik::stress::ProcessFigures;
using norvik::tarn::Client;

struct Options {
  std::string serial;
  double seconds = 60;
  double rate = 1000;
  double report_every = 60;
  int readers = 4;
  int read_period_us = 1000;
  int request_period_ms = 10;
  bool check = false;
  double max_rss_growth_mb = 16;
  double max_drop_ratio = 0.01;
  double deadline_slack_ms = 50;
};

Options Parse(int argc, char** argv) {
  norvik::stress::CommandLine args(argc, argv, "tarn_soak",
                                   "tarn_soak --serial SN [--seconds S] [--rate HZ] [--report-every S] [--readers N]\n"
                                   "                 [--read-period-us US] [--request-period-ms MS] [--check]\n"
                                   "                 [--max-rss-growth-mb MB] [--max-drop-ratio R] [--deadline-slack-ms MS]");
  Options o;
  while (args.Next()) {
    if (args.Is("--serial")) o.serial = args.Value();
    else if (args.Is("--seconds")) o.seconds = std::stod(args.Value());
    else if (args.Is("--rate")) o.rate = std::stod(args.Value());
    else if (args.Is("--report-every")) o.report_every = std::stod(args.Value());
    else if (args.Is("--readers")) o.readers = std::stoi(args.Value());
    else if (args.Is("--read-period-us")) o.read_period_us = std::stoi(args.Value());
    else if (args.Is("--request-period-ms")) o.request_period_ms = std::stoi(args.Value());
    else if (args.Is("--check")) o.check = true;
    else if (args.Is("--max-rss-growth-mb")) o.max_rss_growth_mb = std::stod(args.Value());
    else if (args.Is("--max-drop-ratio")) o.max_drop_ratio = std::stod(args.Value());
    else if (args.Is("--deadline-slack-ms")) o.deadline_slack_ms = std::stod(args.Value());
    else args.Unknown();
  }
  if (o.serial.empty()) args.Fail("--serial is required");
  if (!(o.seconds > 0) || !(o.rate > 0) || o.readers < 1) args.Fail("bad value");
  return o;
}

// Counts what arrives on both streams beside the client, on the same
// session: every sample the client's subscribers get, this one gets too.
class StreamWitness {
 public:
  StreamWitness(const std::string& serial, double rate)
      : period_ns_(static_cast<int64_t>(1e9 / rate + 0.5)),
        basic_(norvik::zenoh_mdw::GetSharedZenohSession(), [this] { OnBasic(); }, basic_buffer_,
               "norvik/robot/" + serial + "/basic_stream_data"),
        extra_(norvik::zenoh_mdw::GetSharedZenohSession(), [this] { extra_count_.fetch_add(1); }, extra_buffer_,
               "norvik/robot/" + serial + "/extra_stream_data") {}

  uint64_t basic() const { return basic_count_.load(); }
  uint64_t extra() const { return extra_count_.load(); }
  uint64_t gaps() const { return gaps_.load(); }
  uint64_t reordered() const { return reordered_.load(); }
  uint64_t malformed() const { return basic_.malformed() + extra_.malformed(); }
  int64_t last_number() const { return last_.load(); }

 private:
  // Runs under the subscriber's lock, one sample at a time.
  void OnBasic() {
    const int64_t ns = static_cast<int64_t>(basic_buffer_.stamp_sec) * 1000000000 + basic_buffer_.stamp_nanosec;
    const int64_t n = (ns + period_ns_ / 2) / period_ns_;
    const int64_t last = last_.load();
    if (last < 0 || n > last) {
      if (last >= 0) gaps_.fetch_add(static_cast<uint64_t>(n - last - 1));
      last_.store(n);
    } else {
      reordered_.fetch_add(1);
    }
    basic_count_.fetch_add(1);
  }

  const int64_t period_ns_;
  std::atomic<uint64_t> basic_count_{0}, extra_count_{0}, gaps_{0}, reordered_{0};
  std::atomic<int64_t> last_{-1};
  norvik::zenoh_msgs::tarn_msg::AllBasicStreamData basic_buffer_;
  norvik::zenoh_msgs::tarn_msg::AllExtraStreamData extra_buffer_;
  norvik::zenoh_mdw::Subscriber<norvik::zenoh_msgs::tarn_msg::AllBasicStreamData> basic_;
  norvik::zenoh_mdw::Subscriber<norvik::zenoh_msgs::tarn_msg::AllExtraStreamData> extra_;
};

struct ReaderStats {
  std::atomic<uint64_t> reads{0}, fresh{0}, wrong_size{0}, backwards{0}, mixed_stamps{0};
  std::atomic<int64_t> longest_stale_us{0};
};

void Read(const Client& client, size_t groups, const Options& o, const std::atomic<bool>& stop, ReaderStats& s) {
  std::pair<int32_t, int32_t> last{0, 0};
  auto fresh_at = Clock::now();
  while (!stop.load()) {
    const auto states = client.states();
    const auto actions = client.actions();
    client.groups();
    client.estop_released();
    client.enabling_device_on();
    client.digital_inputs();
    client.digital_outputs();
    s.reads.fetch_add(1);
    if (states.size() != groups || actions.size() != groups) {
      s.wrong_size.fetch_add(1);
    } else {
      const auto stamp = states.begin()->second.timestamp;
      for (const auto& [g, st] : states) {
        if (st.timestamp != stamp) s.mixed_stamps.fetch_add(1);
      }
      const auto now = Clock::now();
      if (stamp < last) s.backwards.fetch_add(1);
      if (stamp != last) {
        const int64_t stale = std::chrono::duration_cast<std::chrono::microseconds>(now - fresh_at).count();
        if (last != std::pair<int32_t, int32_t>{0, 0} && stale > s.longest_stale_us.load()) {
          s.longest_stale_us.store(stale);
        }
        fresh_at = now;
        s.fresh.fetch_add(1);
        last = stamp;
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(o.read_period_us));
  }
}

struct RequestKind {
  const char* name;
  double deadline_s;
  std::function<bool(const Client&)> call;  // false or a throw: failed
  uint64_t made = 0, failed = 0;
  double longest_s = 0;
};

struct RequestStats {
  std::mutex mutex;
  std::vector<RequestKind> kinds;
  std::map<std::string, uint64_t> errors;
};

void Request(const Client& client, const Options& o, const std::atomic<bool>& stop, RequestStats& stats) {
  auto next = Clock::now();
  for (size_t i = 0; !stop.load(); ++i) {
    RequestKind& kind = stats.kinds[i % stats.kinds.size()];
    bool ok = false;
    std::string error;
    const auto t0 = Clock::now();
    try {
      ok = kind.call(client);
      if (!ok) error = std::string(kind.name) + " returned false";
    } catch (const std::exception& e) {
      error = e.what();
    }
    const double took = std::chrono::duration<double>(Clock::now() - t0).count();
    {
      std::lock_guard<std::mutex> lock(stats.mutex);
      ++kind.made;
      kind.longest_s = std::max(kind.longest_s, took);
      if (!ok) {
        ++kind.failed;
        ++stats.errors[error];
      }
    }
    next += std::chrono::milliseconds(o.request_period_ms);
    const auto now = Clock::now();
    if (next < now) next = now;  // after a slow call, no burst to catch up
    std::this_thread::sleep_until(next);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  spdlog::set_level(spdlog::level::warn);
  const ProcessFigures at_launch = Figures();

  std::unique_ptr<Client> client;
  try {
    client = std::make_unique<Client>(o.serial, false);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarn_soak: cannot connect: %s\n", e.what());
    return 1;
  }
  auto witness = std::make_unique<StreamWitness>(o.serial, o.rate);
  const size_t groups = client->states().size();
  if (groups == 0) {
    std::fprintf(stderr, "tarn_soak: the robot streams no states\n");
    return 1;
  }

  std::atomic<bool> stop{false};
  std::vector<ReaderStats> reader_stats(static_cast<size_t>(o.readers));
  RequestStats request_stats;
  request_stats.kinds = {
      {"plan_info", 2.0, [](const Client& c) { return !c.plan_info().assigned_plan_name.empty(); }},
      {"primitive_states", 2.0, [](const Client& c) { return !c.primitive_states().empty(); }},
      {"configuration_score", 2.0, [](const Client& c) { return !c.configuration_score().empty(); }},
      {"connected", 1.0, [](const Client& c) { return c.connected(); }},
  };
  std::vector<std::thread> threads;
  for (auto& s : reader_stats) threads.emplace_back(Read, std::cref(*client), groups, std::cref(o), std::cref(stop), std::ref(s));
  threads.emplace_back(Request, std::cref(*client), std::cref(o), std::cref(stop), std::ref(request_stats));

  // Figures "at start" once every thread runs and the first allocations are made.
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const ProcessFigures at_start = Figures();
  const std::string names_at_start = norvik::stress::ThreadNames();
  const uint64_t basic_at_start = witness->basic(), extra_at_start = witness->extra(), gaps_at_start = witness->gaps();
  const double cpu_at_start = norvik::stress::ProcessCpuSeconds();
  const auto start = Clock::now();
  std::printf("soak: serial=%s seconds=%.0f groups=%zu launch %s\n", o.serial.c_str(), o.seconds, groups,
              at_launch.Text().c_str());
  std::printf("soak: start %s\n", at_start.Text().c_str());
  std::fflush(stdout);

  auto report = [&](const char* what) {
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    uint64_t made = 0, failed = 0;
    double longest = 0;
    {
      std::lock_guard<std::mutex> lock(request_stats.mutex);
      for (const auto& k : request_stats.kinds) {
        made += k.made;
        failed += k.failed;
        longest = std::max(longest, k.longest_s);
      }
    }
    uint64_t reads = 0;
    for (const auto& s : reader_stats) reads += s.reads.load();
    const double cpu = norvik::stress::ProcessCpuSeconds() - cpu_at_start;
    std::printf("soak: %s t=%.0fs samples=%llu extra=%llu gaps=%llu requests=%llu failed=%llu longest=%.3fs reads=%llu "
                "cpu=%.1f%% %s\n",
                what, elapsed, static_cast<unsigned long long>(witness->basic()),
                static_cast<unsigned long long>(witness->extra()), static_cast<unsigned long long>(witness->gaps()),
                static_cast<unsigned long long>(made), static_cast<unsigned long long>(failed), longest,
                static_cast<unsigned long long>(reads), elapsed > 0 ? 100.0 * cpu / elapsed : 0.0,
                Figures().Text().c_str());
    std::fflush(stdout);
  };

  auto seconds = [](double s) { return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s)); };
  const Clock::time_point end = start + seconds(o.seconds);
  Clock::time_point next_report = start + seconds(o.report_every);
  while (Clock::now() < end) {
    std::this_thread::sleep_until(std::min(end, next_report));
    if (Clock::now() >= next_report && Clock::now() < end) {
      report("progress");
      next_report += seconds(o.report_every);
    }
  }
  const ProcessFigures at_end = Figures();
  const std::string names_at_end = norvik::stress::ThreadNames();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = norvik::stress::ProcessCpuSeconds() - cpu_at_start;
  report("end");
  // Helper threads of Zenoh's runtime come and go with the load; a leak stays.
  const ProcessFigures settled = norvik::stress::Settled(at_start);
  stop = true;
  for (auto& t : threads) t.join();

  const auto status = norvik::stress::SimControl(*norvik::zenoh_mdw::GetSharedZenohSession(), o.serial, "{}");
  const double published = status ? norvik::stress::JsonNumber(*status, "published") : -1;
  const double skipped = status ? norvik::stress::JsonNumber(*status, "skipped") : -1;

  const auto basic_health = client->stream_health(norvik::tarn::StreamKind::Basic);
  const auto extra_health = client->stream_health(norvik::tarn::StreamKind::Extra);
  const uint64_t received = witness->basic() - basic_at_start;
  const uint64_t gaps = witness->gaps() - gaps_at_start;
  const uint64_t extra = witness->extra() - extra_at_start, malformed = witness->malformed(), reordered = witness->reordered();
  witness.reset();
  const auto destroy_t0 = Clock::now();
  client.reset();
  const double destroy_s = std::chrono::duration<double>(Clock::now() - destroy_t0).count();
  const ProcessFigures after = Figures();

  // Summary.
  bool pass = true;
  auto verdict = [&](bool ok, const std::string& what) {
    if (!ok) {
      pass = false;
      std::printf("soak: FAIL %s\n", what.c_str());
    }
  };
  std::printf("\nsoak summary (%.0f s, %d readers, a request every %d ms, streams at %.0f Hz)\n", elapsed, o.readers,
              o.request_period_ms, o.rate);
  const double drop_ratio = received + gaps > 0 ? static_cast<double>(gaps) / static_cast<double>(received + gaps) : 1.0;
  std::printf("  samples  basic received %llu, dropped %llu (%.4f%%), reordered %llu; extra received %llu; "
              "malformed %llu; the robot published %.0f over its whole run, skipped %.0f ticks\n",
              static_cast<unsigned long long>(received), static_cast<unsigned long long>(gaps), 100.0 * drop_ratio,
              static_cast<unsigned long long>(reordered), static_cast<unsigned long long>(extra),
              static_cast<unsigned long long>(malformed), published, skipped);
  std::printf("  client   took %llu basic and %llu extra samples over its life, dropped %llu and %llu as malformed\n",
              static_cast<unsigned long long>(basic_health.received), static_cast<unsigned long long>(extra_health.received),
              static_cast<unsigned long long>(basic_health.malformed),
              static_cast<unsigned long long>(extra_health.malformed));
  verdict(basic_health.malformed + extra_health.malformed == 0, "the client dropped samples of the robot as malformed");
  verdict(received > 0.5 * o.rate * elapsed, "basic samples received " + std::to_string(received) + " for " +
                                                 std::to_string(o.rate * elapsed) + " expected");
  verdict(drop_ratio <= o.max_drop_ratio, "dropped ratio " + std::to_string(drop_ratio));
  verdict(malformed == 0, "malformed samples from the robot");
  {
    std::lock_guard<std::mutex> lock(request_stats.mutex);
    for (const auto& k : request_stats.kinds) {
      std::printf("  %-20s made %llu, failed %llu, longest %.3f s of %.1f s\n", k.name,
                  static_cast<unsigned long long>(k.made), static_cast<unsigned long long>(k.failed), k.longest_s,
                  k.deadline_s);
      verdict(k.failed == 0, std::string(k.name) + " failed");
      verdict(k.longest_s <= k.deadline_s + o.deadline_slack_ms / 1000.0, std::string(k.name) + " overran its deadline");
    }
    for (const auto& [text, n] : request_stats.errors) {
      std::printf("  error x%llu: %s\n", static_cast<unsigned long long>(n), text.c_str());
    }
  }
  uint64_t reads = 0, fresh = 0, wrong = 0, backwards = 0, mixed = 0;
  int64_t stale = 0;
  for (const auto& s : reader_stats) {
    reads += s.reads;
    fresh += s.fresh;
    wrong += s.wrong_size;
    backwards += s.backwards;
    mixed += s.mixed_stamps;
    stale = std::max(stale, s.longest_stale_us.load());
  }
  std::printf("  readers  reads %llu, new samples seen %llu, wrong group count %llu, stamps backwards %llu, mixed "
              "stamps %llu, longest wait for a new sample %.1f ms\n",
              static_cast<unsigned long long>(reads), static_cast<unsigned long long>(fresh),
              static_cast<unsigned long long>(wrong), static_cast<unsigned long long>(backwards),
              static_cast<unsigned long long>(mixed), stale / 1000.0);
  verdict(wrong == 0 && backwards == 0 && mixed == 0, "readers saw wrong, mixed or older samples");
  std::printf("  process  launch %s; start %s; end %s; after the client went %s (destroyed in %.3f s)\n",
              at_launch.Text().c_str(), at_start.Text().c_str(), at_end.Text().c_str(), after.Text().c_str(),
              destroy_s);
  std::printf("  cpu      %.1f%% of one core over the run\n", elapsed > 0 ? 100.0 * cpu / elapsed : 0.0);
  std::printf("  threads  start [%s]; end [%s]; settled at end %s\n", names_at_start.c_str(), names_at_end.c_str(),
              settled.Text().c_str());
  verdict(settled.threads <= at_start.threads, "thread count grew");
  verdict(settled.fds <= at_start.fds, "descriptor count grew");
  verdict(at_end.rss_kb - at_start.rss_kb <= o.max_rss_growth_mb * 1024, "resident memory grew by " +
                                                                            std::to_string(at_end.rss_kb - at_start.rss_kb) +
                                                                            " kB");
  verdict(destroy_s < 2.0, "destroying the client took " + std::to_string(destroy_s) + " s");
  std::printf("soak: %s\n", pass ? "PASS" : "FAIL");
  return o.check && !pass ? 1 : 0;
}
