// Clocks, statistics, process figures and child processes for the benchmarks.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

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
// its stdout. Ready once it prints a line starting with "ready"; killed (after
// a "quit" and a grace period) when the handle goes.
class Peer {
 public:
  explicit Peer(std::vector<std::string> argv, std::chrono::milliseconds ready_timeout = std::chrono::seconds(20));
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;
  ~Peer();

  void Send(const std::string& line);
  // The next line starting with `prefix` (others are skipped); throws
  // std::runtime_error on time-out or when the peer exits.
  std::string Expect(const std::string& prefix, std::chrono::milliseconds timeout = std::chrono::seconds(60));
  pid_t pid() const { return pid_; }

 private:
  bool ReadLine(std::string& line, std::chrono::steady_clock::time_point deadline);

  pid_t pid_ = -1;
  int in_fd_ = -1;
  int out_fd_ = -1;
  std::string pending_;
  std::string name_;
};

// Splits a line at spaces.
std::vector<std::string> Words(const std::string& line);

}  // namespace norvik::bench
