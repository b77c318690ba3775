// Clocks, statistics, process figures and peer processes for the benchmarks.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/child_process.h"

namespace norvik::bench {

// CLOCK_MONOTONIC in nanoseconds: one clock for every process on the machine,
// so a stamp taken by the robot can be compared with a reader's clock.
int64_t NowNs();

// The q-quantile (0..1) of `v` by nearest rank; sorts `v`.
double Quantile(std::vector<double>& v, double q);

// CPU time (user + system, all threads) of this process in ns.
int64_t ProcessCpuNs();
// Resident set size of this process in KiB.
int64_t ResidentKiB();

// A unique serial number for a benchmark robot, e.g. "BENCH-4711-dual-2".
std::string UniqueSerial(const std::string& tag);

// The directory of the running executable (peers live next to it).
std::string ExecutableDir();

// A peer process spoken to line by line: commands on its stdin, answers on
// its stdout. Ready once it prints a line starting with "ready"; told "quit"
// and killed after a grace period when the handle goes.
class Peer : public test::ChildProcess {
 public:
  explicit Peer(std::vector<std::string> argv, std::chrono::milliseconds ready_timeout = std::chrono::seconds(20))
      : ChildProcess(std::move(argv), Options{ready_timeout, "quit"}) {}
};

// Splits a line at spaces.
std::vector<std::string> Words(const std::string& line);

}  // namespace norvik::bench
