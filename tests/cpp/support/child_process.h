// A peer process for tests, stress runs and benchmarks: started with its own
// arguments, ready once it prints a line starting with "ready". With a quit
// line it also reads commands on its stdin and is asked to go with that
// line; without one it keeps this process's stdin and is sent SIGTERM.
// Whatever happens it is killed if need be and reaped: when the handle goes,
// and when the constructor throws.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/test_env.h"  // what peers are started with: the interpreter, paths, unique names

namespace norvik::test {

class ChildProcess {
 public:
  struct Options {
    std::chrono::milliseconds ready_timeout = std::chrono::seconds(20);
    // The line that asks it to exit; empty when it takes no commands.
    std::string quit;
  };

  // Starts argv[0] with argv and waits for its ready line; throws
  // std::runtime_error if it cannot start, exits or stays silent.
  explicit ChildProcess(std::vector<std::string> argv,
                        std::chrono::milliseconds ready_timeout = std::chrono::seconds(20));
  ChildProcess(std::vector<std::string> argv, Options options);
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // Asks it to exit (its quit line, else SIGTERM), kills it after `grace`;
  // returns the exit status (as from waitpid), 0 when it was already reaped.
  int Stop(std::chrono::milliseconds grace = std::chrono::seconds(5)) noexcept;
  // Kills at once, as a crashed robot would vanish.
  void Kill() noexcept;

  // One line to its stdin; throws std::runtime_error when it takes no
  // commands or is gone.
  void Send(const std::string& line);
  // The next line on its stdout starting with `prefix` (others are skipped);
  // throws std::runtime_error on time-out or when it exits.
  std::string Expect(const std::string& prefix, std::chrono::milliseconds timeout = std::chrono::seconds(60));

  pid_t pid() const { return pid_; }
  const std::string& ready_line() const { return ready_line_; }

 private:
  class Fd {
   public:
    Fd() = default;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { Reset(); }
    int get() const { return fd_; }
    // Closes the one held, then holds `fd`.
    void Reset(int fd = -1);

   private:
    int fd_ = -1;
  };

  bool ReadLine(std::string& line, std::chrono::steady_clock::time_point deadline);

  std::string name_;
  std::string quit_;
  pid_t pid_ = -1;
  Fd in_;   // its stdin, when it takes commands
  Fd out_;  // its stdout
  std::string pending_;
  std::string ready_line_;
};

}  // namespace norvik::test
