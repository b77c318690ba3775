// Figures of the running process, read from /proc: resident memory, threads,
// open descriptors and CPU time. Used by the stress programs and the fault
// tests to show growth and load as numbers.
#pragma once

#include <dirent.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

namespace norvik::stress {

struct ProcessFigures {
  long rss_kb = 0;
  long threads = 0;
  long fds = 0;

  std::string Text() const {
    std::ostringstream out;
    out << "rss=" << rss_kb << "kB threads=" << threads << " fds=" << fds;
    return out.str();
  }
};

inline long StatusField(const std::string& name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(name + ":", 0) == 0) return std::stol(line.substr(name.size() + 1));
  }
  return -1;
}

inline long OpenDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  long n = 0;
  while (const dirent* e = readdir(dir)) {
    if (e->d_name[0] != '.') ++n;
  }
  closedir(dir);
  return n - 1;  // the directory being read
}

inline ProcessFigures Figures() { return {StatusField("VmRSS"), StatusField("Threads"), OpenDescriptors()}; }

// The process's threads by name, such as "app-0 net-0 rx-0x2 tarn_soakx6".
inline std::string ThreadNames() {
  std::map<std::string, int> names;
  DIR* dir = opendir("/proc/self/task");
  if (dir == nullptr) return "?";
  while (const dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
    std::string name;
    if (std::getline(comm, name)) ++names[name];
  }
  closedir(dir);
  std::string out;
  for (const auto& [name, n] : names) {
    out += (out.empty() ? "" : " ") + name + (n > 1 ? "x" + std::to_string(n) : "");
  }
  return out;
}

// Zenoh's runtime keeps idle helper threads for a while (about 10 s) before
// they exit, and closes sockets in the background: waits up to `within` for
// the thread and descriptor counts to come back to `reference`, and returns
// the figures then.
inline ProcessFigures Settled(const ProcessFigures& reference,
                              std::chrono::milliseconds within = std::chrono::seconds(15)) {
  const auto deadline = std::chrono::steady_clock::now() + within;
  ProcessFigures now = Figures();
  while ((now.threads > reference.threads || now.fds > reference.fds) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    now = Figures();
  }
  return now;
}

inline double CpuSeconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}
// CPU time of the whole process, and of the calling thread.
inline double ProcessCpuSeconds() { return CpuSeconds(CLOCK_PROCESS_CPUTIME_ID); }
inline double ThreadCpuSeconds() { return CpuSeconds(CLOCK_THREAD_CPUTIME_ID); }

}  // namespace norvik::stress
