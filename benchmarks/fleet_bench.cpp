// One process, several robots: the clients of all of them share the
// process's one Zenoh session. For N robots (bench_robot, real-time, dual
// profile, each its own serial) publishing the stream pair at 1 kHz, two
// listener processes run side by side on the same robots over the same
// window: one holding a norvik::tarn::Client per robot, and one holding a
// raw subscriber pair per robot that only counts samples.
//
// fleet/dual/N  CPU time of each listener process per second of stream, per
//               robot (percent of one core), and their ratio, over the whole
//               window and window by window; samples sent (as the robots
//               count their puts) against received, per robot and stream,
//               for both; and what else had the machine meanwhile: its
//               total CPU busy and steal time, its CPU pressure (share of
//               the time some task waited for a core), how long each
//               process's threads waited for one, the robots' own CPU and
//               their late ticks.
//
// The robots tick in phases spread evenly over the period, as controllers
// that know nothing of each other would, more or less: ticks in step let a
// listener take every robot's sample in one wake-up, which halved both
// processes' cost per robot at 8 robots.
//
// Options: --fleet_seconds=S (window, default 10), --fleet_warmup_seconds=S
// (default 2), --fleet_max_robots=N (default 8; sizes 1, 2, 4, 8 up to it),
// --fleet_phases=spread|aligned (default spread).
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/profiles.h"
#include "common/util.h"

namespace {

using namespace norvik;

double fleet_seconds = 10.0;
double warmup_seconds = 2.0;
int max_robots = 8;
bool spread_phases = true;

constexpr int kWindows = 5;  // CPU is also compared window by window

struct Mark {
  int64_t cpu_ns = 0, rss_kib = 0, basic = 0, extra = 0, stamp = 0;
  std::vector<std::pair<int64_t, int64_t>> per_robot;  // (basic, extra) received
};

Mark Read(bench::Peer& listener, size_t robots) {
  listener.Send("mark");
  const auto w = bench::Words(listener.Expect("mark", std::chrono::seconds(10)));
  if (w.size() != 6 + 2 * robots) throw std::runtime_error("bench_listener: mark without per-robot counts");
  Mark m{std::stoll(w[1]), std::stoll(w[2]), std::stoll(w[3]), std::stoll(w[4]), std::stoll(w[5]), {}};
  for (size_t i = 0; i < robots; ++i) m.per_robot.emplace_back(std::stoll(w[6 + 2 * i]), std::stoll(w[7 + 2 * i]));
  return m;
}

struct Done {
  int64_t sent = 0, elapsed_ns = 0, late = 0, extra_sent = 0, max_late_ns = 0;
};

Done ParseDone(const std::string& line) {
  const auto w = bench::Words(line);
  if (w.size() < 6) throw std::runtime_error("bench_robot: short done line: " + line);
  return {std::stoll(w[1]), std::stoll(w[2]), std::stoll(w[3]), std::stoll(w[4]), std::stoll(w[5])};
}

// The fields of /proc/PID/stat after the command name (which may hold spaces).
std::vector<std::string> StatFields(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return {};
  return bench::Words(text.substr(close + 1));
}

// User and system time of a whole process (all threads), in ns.
int64_t ProcessCpuNsOf(pid_t pid) {
  const auto f = StatFields(pid);  // f[0] is field 3 (state)
  if (f.size() < 13) return 0;
  return (std::stoll(f[11]) + std::stoll(f[12])) * (1000000000 / sysconf(_SC_CLK_TCK));
}

// Time the threads of a process spent runnable but waiting for a core, in
// ns: when it grows with N, the machine is what limits the figures.
int64_t WaitNsOf(pid_t pid) {
  const std::string dir = "/proc/" + std::to_string(pid) + "/task";
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return 0;
  int64_t sum = 0;
  while (const dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream in(dir + "/" + e->d_name + "/schedstat");
    int64_t run = 0, wait = 0;
    if (in >> run >> wait) sum += wait;
  }
  closedir(d);
  return sum;
}

bool RunsFifo(pid_t pid) {
  const auto f = StatFields(pid);
  return f.size() > 38 && f[38] == "1";  // field 41, policy; 1 is SCHED_FIFO
}

// The whole machine. The ticks of /proc/stat are sampled (250 Hz here) and
// on this guest count next to nothing of tasks that wake at 1 kHz and sleep
// again; the root cpuacct group's usage is every task's run time, exact.
// The CPU pressure stall time is the time during which some runnable task
// had no core, also exact.
struct MachineCpu {
  int64_t busy = 0, steal = 0, total = 0;  // /proc/stat ticks, all cores
  int64_t run_ns = -1;                     // -1: no cgroup v1 cpuacct
  int64_t stall_ns = -1;                   // -1: no /proc/pressure/cpu
};

MachineCpu ReadMachineCpu() {
  std::ifstream in("/proc/stat");
  std::string line;
  std::getline(in, line);
  const auto w = bench::Words(line);  // cpu user nice system idle iowait irq softirq steal ...
  MachineCpu m;
  if (w.size() >= 9 && w[0] == "cpu") {
    int64_t v[8];
    for (int i = 0; i < 8; ++i) v[i] = std::stoll(w[1 + i]);
    m.steal = v[7];
    m.busy = v[0] + v[1] + v[2] + v[5] + v[6];
    m.total = m.busy + v[3] + v[4] + m.steal;
  }
  std::ifstream usage("/sys/fs/cgroup/cpuacct/cpuacct.usage");
  int64_t ns = 0;
  if (usage >> ns) m.run_ns = ns;
  std::ifstream psi("/proc/pressure/cpu");
  std::string some;
  if (std::getline(psi, some)) {
    const size_t at = some.find("total=");
    if (at != std::string::npos) m.stall_ns = std::stoll(some.substr(at + 6)) * 1000;
  }
  return m;
}

void Fleet(benchmark::State& state, int n) {
  const bench::Profile profile = bench::Profile::kDual;
  const std::string dir = bench::ExecutableDir();
  std::vector<std::string> serials;
  std::vector<std::unique_ptr<bench::Peer>> robots;
  // Declared after the robots, so they go first and never see a robot vanish.
  std::unique_ptr<bench::Peer> tarn, raw;
  try {
    for (int i = 0; i < n; ++i) {
      serials.push_back(bench::UniqueSerial("fleet"));
      robots.push_back(std::make_unique<bench::Peer>(std::vector<std::string>{
          dir + "/bench_robot", "--serial", serials.back(), "--profile", bench::ProfileName(profile), "--realtime"}));
    }
    int fifo = 0;
    for (const auto& r : robots) fifo += RunsFifo(r->pid());

    // Starts every robot's 1 kHz stream pair at a common time a little ahead,
    // each in its phase; returns that time.
    auto start_streams = [&](int64_t ticks) {
      const int64_t base = bench::NowNs() + 50000000;
      for (size_t i = 0; i < robots.size(); ++i) {
        const int64_t phase = spread_phases ? static_cast<int64_t>(1000000 * i / robots.size()) : 0;
        robots[i]->Send("stream 1000 " + std::to_string(ticks) + " both " + std::to_string(base + phase));
      }
      return base;
    };
    // A client learns its robot's groups from the stream as it connects, so
    // the robots stream from here until the warm-up ends.
    start_streams(0);
    std::vector<std::string> client_argv{dir + "/bench_listener", "--mode", "client"};
    std::vector<std::string> raw_argv{dir + "/bench_listener", "--mode", "raw"};
    for (const auto& s : serials) {
      for (auto* argv : {&client_argv, &raw_argv}) {
        argv->push_back("--serial");
        argv->push_back(s);
      }
    }
    // Each client connects in turn: a probe, two requests, and up to a
    // second's wait for the first sample.
    tarn = std::make_unique<bench::Peer>(client_argv, std::chrono::seconds(10 + 5 * n));
    raw = std::make_unique<bench::Peer>(raw_argv);
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int64_t>(warmup_seconds * 1000)));
    for (const auto& r : robots) r->Send("stop");
    for (const auto& r : robots) r->Expect("done", std::chrono::seconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the last warm-up samples in flight

    const size_t nr = robots.size();
    const Mark tarn0 = Read(*tarn, nr), raw0 = Read(*raw, nr);
    const MachineCpu machine0 = ReadMachineCpu();
    const int64_t read0 = bench::NowNs();
    int64_t robots_cpu0 = 0, robots_wait0 = 0;
    for (const auto& r : robots) {
      robots_cpu0 += ProcessCpuNsOf(r->pid());
      robots_wait0 += WaitNsOf(r->pid());
    }
    const int64_t tarn_wait0 = WaitNsOf(tarn->pid()), raw_wait0 = WaitNsOf(raw->pid());
    const int64_t t0 = start_streams(static_cast<int64_t>(fleet_seconds * 1000));

    std::vector<double> window_ratios;
    Mark tarn_prev = tarn0, raw_prev = raw0;
    auto window = [&](const Mark& a, const Mark& b) {
      if (b.cpu_ns > raw_prev.cpu_ns) {
        window_ratios.push_back(static_cast<double>(a.cpu_ns - tarn_prev.cpu_ns) / (b.cpu_ns - raw_prev.cpu_ns));
      }
      tarn_prev = a;
      raw_prev = b;
    };
    for (int i = 1; i < kWindows; ++i) {
      const int64_t due = t0 + static_cast<int64_t>(fleet_seconds * 1e9 * i / kWindows);
      while (bench::NowNs() < due) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      const Mark a = Read(*tarn, nr);
      const Mark b = Read(*raw, nr);
      window(a, b);
    }
    std::vector<Done> done;
    for (const auto& r : robots) {
      done.push_back(ParseDone(r->Expect("done", std::chrono::seconds(static_cast<int64_t>(fleet_seconds) + 60))));
    }
    int64_t sent_basic = 0, sent_extra = 0;
    for (const auto& d : done) {
      sent_basic += d.sent;
      sent_extra += d.extra_sent;
    }
    // Samples still queued arrive now; read until both have everything or
    // their counts stand still (bounded: 10 reads, 2 s).
    auto got = [](const Mark& m) { return m.basic + m.extra; };
    const int64_t all = sent_basic + sent_extra;
    Mark tarn1, raw1;
    for (int i = 0; i < 10; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      const Mark a = Read(*tarn, nr), b = Read(*raw, nr);
      const bool still = i > 0 && got(a) == got(tarn1) && got(b) == got(raw1);
      tarn1 = a;
      raw1 = b;
      if (still || (got(a) - got(tarn0) >= all && got(b) - got(raw0) >= all)) break;
    }
    window(tarn1, raw1);
    const MachineCpu machine1 = ReadMachineCpu();
    int64_t robots_cpu1 = 0, robots_wait1 = 0;
    for (const auto& r : robots) {
      robots_cpu1 += ProcessCpuNsOf(r->pid());
      robots_wait1 += WaitNsOf(r->pid());
    }
    const int64_t tarn_wait1 = WaitNsOf(tarn->pid()), raw_wait1 = WaitNsOf(raw->pid());
    const int64_t wall_ns = bench::NowNs() - read0;

    double window_s = 0;
    int64_t late = 0, max_late_ns = 0;
    for (const auto& d : done) {
      window_s = std::max(window_s, d.elapsed_ns / 1e9);
      late += d.late;
      max_late_ns = std::max(max_late_ns, d.max_late_ns);
    }
    // Lost per robot and stream: what that robot put and the listener did
    // not receive (a surplus on one robot does not hide a loss on another).
    int64_t lost[2][2] = {{0, 0}, {0, 0}};  // [client, raw][basic, extra]
    int64_t robots_lossy[2] = {0, 0};
    for (size_t i = 0; i < nr; ++i) {
      const Mark* before[2] = {&tarn0, &raw0};
      const Mark* after[2] = {&tarn1, &raw1};
      for (int k = 0; k < 2; ++k) {
        const int64_t b = done[i].sent - (after[k]->per_robot[i].first - before[k]->per_robot[i].first);
        const int64_t e = done[i].extra_sent - (after[k]->per_robot[i].second - before[k]->per_robot[i].second);
        lost[k][0] += std::max<int64_t>(0, b);
        lost[k][1] += std::max<int64_t>(0, e);
        robots_lossy[k] += b > 0 || e > 0;
      }
    }

    const double wall_s = wall_ns / 1e9;
    const double tarn_cpu = 100.0 * (tarn1.cpu_ns - tarn0.cpu_ns) / 1e9 / window_s;
    const double raw_cpu = 100.0 * (raw1.cpu_ns - raw0.cpu_ns) / 1e9 / window_s;
    const double robots_cpu = 100.0 * (robots_cpu1 - robots_cpu0) / 1e9 / wall_s;
    const double ticks = static_cast<double>(machine1.total - machine0.total);
    const double cores = static_cast<double>(std::thread::hardware_concurrency());
    const bool exact = machine0.run_ns >= 0 && machine1.run_ns >= 0;
    const double busy_pct = exact       ? 100.0 * (machine1.run_ns - machine0.run_ns) / (wall_ns * cores)
                            : ticks > 0 ? 100.0 * (machine1.busy - machine0.busy) / ticks
                                        : 0;
    const double steal_pct = ticks > 0 ? 100.0 * (machine1.steal - machine0.steal) / ticks : 0;
    const bool psi = machine0.stall_ns >= 0 && machine1.stall_ns >= 0;
    const double pressure_pct = psi ? 100.0 * (machine1.stall_ns - machine0.stall_ns) / wall_ns : -1;
    // What was busy that is none of ours (other work on the machine), in
    // percent of one core; the listeners over the wall time, as the machine.
    const double listeners_cpu = 100.0 * ((tarn1.cpu_ns - tarn0.cpu_ns) + (raw1.cpu_ns - raw0.cpu_ns)) / 1e9 / wall_s;
    const double others = busy_pct * cores - robots_cpu - listeners_cpu;
    const double ratio_w = bench::Quantile(window_ratios, 0.5);
    const double tarn_wait = (tarn_wait1 - tarn_wait0) / 1e6 / wall_s;  // ms per second
    const double raw_wait = (raw_wait1 - raw_wait0) / 1e6 / wall_s;
    const double robots_wait = (robots_wait1 - robots_wait0) / 1e6 / wall_s;

    fprintf(stderr,
            "fleet/%s/%d (%s phases): client %.2f %%/robot, raw %.2f %%/robot (%.2fx, windows %.2fx); "
            "sent %lld+%lld, lost client %lld+%lld raw %lld+%lld; machine busy %.0f %% of %.0f cores "
            "(steal %.1f %%), CPU pressure %.1f %%, robots %.1f %% of a core (%d of %d SCHED_FIFO), "
            "others %.1f %%, late ticks %lld, max late %.2f ms; waiting for a core, ms/s: client %.1f raw %.1f "
            "robots %.1f\n",
            bench::ProfileName(profile), n, spread_phases ? "spread" : "aligned", tarn_cpu / n, raw_cpu / n,
            tarn_cpu / raw_cpu, ratio_w, static_cast<long long>(sent_basic), static_cast<long long>(sent_extra),
            static_cast<long long>(lost[0][0]), static_cast<long long>(lost[0][1]), static_cast<long long>(lost[1][0]),
            static_cast<long long>(lost[1][1]), busy_pct, cores, steal_pct, pressure_pct, robots_cpu, fifo, n, others,
            static_cast<long long>(late), max_late_ns / 1e6, tarn_wait, raw_wait, robots_wait);

    for (auto _ : state) {
    }
    state.counters["robots"] = n;
    state.counters["phases_spread"] = spread_phases;
    state.counters["robots_fifo"] = fifo;
    state.counters["seconds"] = window_s;
    state.counters["tarn_cpu_pct"] = tarn_cpu;
    state.counters["raw_cpu_pct"] = raw_cpu;
    state.counters["tarn_cpu_pct_per_robot"] = tarn_cpu / n;
    state.counters["raw_cpu_pct_per_robot"] = raw_cpu / n;
    state.counters["ratio_cpu"] = tarn_cpu / raw_cpu;
    state.counters["ratio_cpu_window_median"] = ratio_w;
    state.counters["sent_basic"] = static_cast<double>(sent_basic);
    state.counters["sent_extra"] = static_cast<double>(sent_extra);
    state.counters["tarn_lost_basic"] = static_cast<double>(lost[0][0]);
    state.counters["tarn_lost_extra"] = static_cast<double>(lost[0][1]);
    state.counters["raw_lost_basic"] = static_cast<double>(lost[1][0]);
    state.counters["raw_lost_extra"] = static_cast<double>(lost[1][1]);
    state.counters["tarn_robots_lossy"] = static_cast<double>(robots_lossy[0]);
    state.counters["raw_robots_lossy"] = static_cast<double>(robots_lossy[1]);
    state.counters["tarn_rss_kib"] = static_cast<double>(tarn1.rss_kib);
    state.counters["raw_rss_kib"] = static_cast<double>(raw1.rss_kib);
    state.counters["machine_cores"] = cores;
    state.counters["machine_busy_pct"] = busy_pct;
    state.counters["machine_busy_exact"] = exact;
    state.counters["machine_steal_pct"] = steal_pct;
    state.counters["cpu_pressure_pct"] = pressure_pct;
    state.counters["robots_cpu_pct"] = robots_cpu;
    state.counters["others_cpu_pct"] = others;
    state.counters["robot_late_ticks"] = static_cast<double>(late);
    state.counters["robot_max_late_ms"] = max_late_ns / 1e6;
    state.counters["tarn_wait_ms_per_s"] = tarn_wait;
    state.counters["raw_wait_ms_per_s"] = raw_wait;
    state.counters["robots_wait_ms_per_s"] = robots_wait;
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
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
    if (Flag(argv[i], "--fleet_seconds", v)) {
      fleet_seconds = std::clamp(v, 2.0, 600.0);
    } else if (Flag(argv[i], "--fleet_warmup_seconds", v)) {
      warmup_seconds = std::clamp(v, 0.5, 60.0);
    } else if (std::strncmp(argv[i], "--fleet_phases=", 15) == 0) {
      spread_phases = std::strcmp(argv[i] + 15, "aligned") != 0;
    } else if (Flag(argv[i], "--fleet_max_robots", v)) {
      max_robots = std::clamp(static_cast<int>(v), 1, 8);
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  for (int n : {1, 2, 4, 8}) {
    if (n > max_robots) break;
    benchmark::RegisterBenchmark(("fleet/dual/" + std::to_string(n)).c_str(), Fleet, n)
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
