#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace norvik::test {

namespace {

bool WaitExit(pid_t pid, std::chrono::milliseconds within, int& status) {
  const auto deadline = std::chrono::steady_clock::now() + within;
  while (std::chrono::steady_clock::now() < deadline) {
    if (waitpid(pid, &status, WNOHANG) == pid) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv, std::chrono::milliseconds ready_timeout) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  const int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  out_fd_ = fds[0];
  if (rc != 0) {
    close(out_fd_);
    throw std::runtime_error("cannot start " + argv[0]);
  }

  const auto deadline = std::chrono::steady_clock::now() + ready_timeout;
  std::string line;
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{out_fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char c;
    if (read(out_fd_, &c, 1) != 1) break;
    if (c != '\n') {
      line += c;
      continue;
    }
    if (line.rfind("ready", 0) == 0) {
      ready_line_ = line;
      return;
    }
    line.clear();
  }
  Kill();
  throw std::runtime_error(argv[0] + " " + (argv.size() > 1 ? argv[1] : "") + " did not become ready");
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) Stop();
  if (out_fd_ >= 0) close(out_fd_);
}

int ChildProcess::Stop(std::chrono::milliseconds grace) {
  if (pid_ <= 0) return 0;
  int status = 0;
  kill(pid_, SIGTERM);
  if (!WaitExit(pid_, grace, status)) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
  pid_ = -1;
  return status;
}

void ChildProcess::Kill() {
  if (pid_ <= 0) return;
  int status = 0;
  kill(pid_, SIGKILL);
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

std::string PythonExecutable() { return NORVIK_TEST_PYTHON; }

std::string SourcePath(const std::string& relative) { return std::string(NORVIK_SOURCE_DIR) + "/" + relative; }

std::string UniquePrefix(const std::string& name) {
  static std::atomic<int> counter{0};
  return "norvik/test/" + std::to_string(getpid()) + "-" + std::to_string(counter++) + "/" + name;
}

std::string UniqueSerial() {
  static std::atomic<int> counter{0};
  return "T" + std::to_string(getpid()) + "x" + std::to_string(counter++) + "-7";
}

}  // namespace norvik::test
