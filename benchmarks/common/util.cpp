#include "common/util.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace norvik::bench {

int64_t NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double Quantile(std::vector<double>& v, double q) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  const size_t rank = static_cast<size_t>(std::ceil(q * static_cast<double>(v.size())));
  return v[std::min(v.size() - 1, rank == 0 ? 0 : rank - 1)];
}

int64_t ProcessCpuNs() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  auto ns = [](const timeval& t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_usec * 1000; };
  return ns(ru.ru_utime) + ns(ru.ru_stime);
}

int64_t ResidentKiB() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stoll(line.substr(6));
  }
  return -1;
}

std::string UniqueSerial(const std::string& tag) {
  static std::atomic<int> counter{0};
  return "BENCH-" + std::to_string(getpid()) + "-" + tag + "-" + std::to_string(++counter);
}

std::string ExecutableDir() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return ".";
  std::string path(buf, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/'));
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

Peer::Peer(std::vector<std::string> argv, std::chrono::milliseconds ready_timeout) : name_(argv.at(0)) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  const int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  in_fd_ = in[1];
  out_fd_ = out[0];
  if (rc != 0) {
    pid_ = -1;
    throw std::runtime_error("cannot start " + name_);
  }
  Expect("ready", ready_timeout);
}

Peer::~Peer() {
  if (pid_ <= 0) return;
  // A peer that goes quietly on "quit" lets its session close cleanly.
  signal(SIGPIPE, SIG_IGN);
  Send("quit");
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (waitpid(pid_, &status, WNOHANG) != pid_) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  close(in_fd_);
  close(out_fd_);
}

void Peer::Send(const std::string& line) {
  const std::string text = line + "\n";
  if (write(in_fd_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    throw std::runtime_error(name_ + ": cannot send " + line);
  }
}

bool Peer::ReadLine(std::string& line, std::chrono::steady_clock::time_point deadline) {
  while (true) {
    const size_t nl = pending_.find('\n');
    if (nl != std::string::npos) {
      line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      return true;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    pollfd p{out_fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) return false;
    char buf[4096];
    const ssize_t n = read(out_fd_, buf, sizeof(buf));
    if (n <= 0) return false;
    pending_.append(buf, static_cast<size_t>(n));
  }
}

std::string Peer::Expect(const std::string& prefix, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string line;
  while (ReadLine(line, deadline)) {
    if (line.rfind(prefix, 0) == 0) return line;
  }
  throw std::runtime_error(name_ + ": no '" + prefix + "' line");
}

}  // namespace norvik::bench
