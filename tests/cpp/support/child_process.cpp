#include "support/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

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

// Writing to a pipe whose reader has gone raises SIGPIPE, which would end
// this process: it is held back for the call, and one raised by the call is
// taken back.
bool WriteAll(int fd, const std::string& text) {
  sigset_t pipe_only, saved, pending;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_only, &saved);
  sigpending(&pending);
  const bool was_pending = sigismember(&pending, SIGPIPE) == 1;
  size_t done = 0;
  bool ok = true;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (!ok && errno == EPIPE && !was_pending) {
    const timespec now{};
    sigtimedwait(&pipe_only, nullptr, &now);
  }
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  return ok;
}

}  // namespace

void ChildProcess::Fd::Reset(int fd) {
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
}

ChildProcess::ChildProcess(std::vector<std::string> argv, std::chrono::milliseconds ready_timeout)
    : ChildProcess(std::move(argv), Options{ready_timeout, {}}) {}

ChildProcess::ChildProcess(std::vector<std::string> argv, Options options)
    : name_(argv.at(0)), quit_(std::move(options.quit)) {
  const bool commands = !quit_.empty();
  Fd child_in, child_out;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  out_.Reset(fds[0]);
  child_out.Reset(fds[1]);
  if (commands) {
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    child_in.Reset(fds[0]);
    in_.Reset(fds[1]);
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, child_out.get(), STDOUT_FILENO);
  if (commands) posix_spawn_file_actions_adddup2(&actions, child_in.get(), STDIN_FILENO);
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  const int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    pid_ = -1;
    throw std::runtime_error("cannot start " + name_);
  }
  child_in.Reset();
  child_out.Reset();

  try {
    ready_line_ = Expect("ready", options.ready_timeout);
  } catch (const std::exception&) {
    Kill();
    throw std::runtime_error(argv[0] + " " + (argv.size() > 1 ? argv[1] : "") + " did not become ready");
  }
}

ChildProcess::~ChildProcess() { Stop(); }

int ChildProcess::Stop(std::chrono::milliseconds grace) noexcept {
  if (pid_ <= 0) return 0;
  int status = 0;
  if (in_.get() >= 0) {
    WriteAll(in_.get(), quit_ + "\n");  // one that has gone already is reaped below
    in_.Reset();
  } else {
    kill(pid_, SIGTERM);
  }
  if (!WaitExit(pid_, grace, status)) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
  pid_ = -1;
  return status;
}

void ChildProcess::Kill() noexcept {
  if (pid_ <= 0) return;
  int status = 0;
  kill(pid_, SIGKILL);
  waitpid(pid_, &status, 0);
  pid_ = -1;
  in_.Reset();
}

void ChildProcess::Send(const std::string& line) {
  if (in_.get() < 0 || !WriteAll(in_.get(), line + "\n")) {
    throw std::runtime_error(name_ + ": cannot send " + line);
  }
}

bool ChildProcess::ReadLine(std::string& line, std::chrono::steady_clock::time_point deadline) {
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
    pollfd p{out_.get(), POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) return false;
    char buf[4096];
    const ssize_t n = read(out_.get(), buf, sizeof(buf));
    if (n <= 0) return false;
    pending_.append(buf, static_cast<size_t>(n));
  }
}

std::string ChildProcess::Expect(const std::string& prefix, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string line;
  while (ReadLine(line, deadline)) {
    if (line.rfind(prefix, 0) == 0) return line;
  }
  throw std::runtime_error(name_ + ": no '" + prefix + "' line");
}

}  // namespace norvik::test
