// Lifecycle: creates and destroys a Client again and again while the robot
// streams, and shows that nothing grows. Each cycle connects, checks that
// the streams arrive, and destroys the client; with nothing else holding the
// session, every cycle also opens and closes the Zenoh session.
//
//   tarn_lifecycle --serial SN [--cycles N] [--hold-session] [--check] ...
//
// Figures are taken after --warmup cycles (the allocator and Zenoh's
// runtime settle) and at the end; --check exits 1 on a failed cycle, on any
// thread or descriptor growth, or on memory growth above --max-rss-growth-mb.
#include <spdlog/spdlog.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "middleware/shared_session.h"
#include "norvik/tarn.h"
#include "stress/command_line.h"
#include "stress/process_figures.h"

namespace {

using Clock = std::chrono::steady_clock;
using norvik::stress::Figures;
using norvik::stress::ProcessFigures;

struct Options {
  std::string serial;
  int cycles = 1000;
  int warmup = 20;
  int report_every = 100;
  bool hold_session = false;
  bool check = false;
  double max_rss_growth_mb = 8;
};

Options Parse(int argc, char** argv) {
  norvik::stress::CommandLine args(argc, argv, "tarn_lifecycle",
                                   "tarn_lifecycle --serial SN [--cycles N] [--warmup N] [--report-every N] [--hold-session]\n"
                                   "                      [--check] [--max-rss-growth-mb MB]");
  Options o;
  while (args.Next()) {
    if (args.Is("--serial")) o.serial = args.Value();
    else if (args.Is("--cycles")) o.cycles = std::stoi(args.Value());
    else if (args.Is("--warmup")) o.warmup = std::stoi(args.Value());
    else if (args.Is("--report-every")) o.report_every = std::stoi(args.Value());
    else if (args.Is("--hold-session")) o.hold_session = true;
    else if (args.Is("--check")) o.check = true;
    else if (args.Is("--max-rss-growth-mb")) o.max_rss_growth_mb = std::stod(args.Value());
    else args.Unknown();
  }
  if (o.serial.empty()) args.Fail("--serial is required");
  if (o.cycles < 1 || o.warmup < 0 || o.report_every < 1) args.Fail("bad value");
  o.warmup = std::min(o.warmup, o.cycles - 1);
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  spdlog::set_level(spdlog::level::warn);
  // With a share held here the session stays open across cycles.
  std::shared_ptr<zenoh::Session> held;
  if (o.hold_session) held = norvik::zenoh_mdw::GetSharedZenohSession();

  const ProcessFigures at_launch = Figures();
  ProcessFigures at_warmup = at_launch;
  int failed = 0;
  double longest_s = 0, total_s = 0, longest_destroy_s = 0;
  for (int cycle = 1; cycle <= o.cycles; ++cycle) {
    const auto t0 = Clock::now();
    try {
      auto client = std::make_unique<norvik::tarn::Client>(o.serial, false);
      // The streams must have reached this client, not an earlier one.
      if (client->states().empty() || client->actions().empty() || client->groups().empty()) {
        ++failed;
        std::fprintf(stderr, "tarn_lifecycle: cycle %d: no stream data\n", cycle);
      }
      const auto d0 = Clock::now();
      client.reset();
      longest_destroy_s = std::max(longest_destroy_s, std::chrono::duration<double>(Clock::now() - d0).count());
    } catch (const std::exception& e) {
      ++failed;
      std::fprintf(stderr, "tarn_lifecycle: cycle %d: %s\n", cycle, e.what());
    }
    const double took = std::chrono::duration<double>(Clock::now() - t0).count();
    longest_s = std::max(longest_s, took);
    total_s += took;
    if (cycle == o.warmup) at_warmup = Figures();
    if (cycle % o.report_every == 0 || cycle == o.cycles) {
      std::printf("lifecycle: cycle %d failed=%d %s\n", cycle, failed, Figures().Text().c_str());
      std::fflush(stdout);
    }
  }
  if (o.warmup == 0) at_warmup = at_launch;
  const ProcessFigures at_end = Figures();
  // Helper threads of Zenoh's runtime linger a while after a session closes.
  const ProcessFigures settled = norvik::stress::Settled(at_warmup);

  bool pass = true;
  auto verdict = [&](bool ok, const std::string& what) {
    if (!ok) {
      pass = false;
      std::printf("lifecycle: FAIL %s\n", what.c_str());
    }
  };
  std::printf("\nlifecycle summary (C++, %d cycles, session %s)\n", o.cycles,
              o.hold_session ? "held open" : "opened and closed every cycle");
  std::printf("  cycles   failed %d; a cycle took %.3f s on average, %.3f s at most; destroying took %.3f s at most\n",
              failed, total_s / o.cycles, longest_s, longest_destroy_s);
  std::printf("  process  launch %s; after %d cycles %s; end %s\n", at_launch.Text().c_str(), o.warmup,
              at_warmup.Text().c_str(), at_end.Text().c_str());
  const long growth_kb = at_end.rss_kb - at_warmup.rss_kb;
  std::printf("  settled  %s [%s]\n", settled.Text().c_str(), norvik::stress::ThreadNames().c_str());
  std::printf("  growth   rss %+ld kB (%.2f kB per cycle), threads %+ld, fds %+ld (settled)\n", growth_kb,
              o.cycles > o.warmup ? static_cast<double>(growth_kb) / (o.cycles - o.warmup) : 0.0,
              settled.threads - at_warmup.threads, settled.fds - at_warmup.fds);
  verdict(failed == 0, std::to_string(failed) + " cycles failed");
  verdict(settled.threads <= at_warmup.threads, "thread count grew");
  verdict(settled.fds <= at_warmup.fds, "descriptor count grew");
  verdict(growth_kb <= o.max_rss_growth_mb * 1024, "resident memory grew by " + std::to_string(growth_kb) + " kB");
  std::printf("lifecycle: %s\n", pass ? "PASS" : "FAIL");
  return o.check && !pass ? 1 : 0;
}
