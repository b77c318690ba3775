// A peer process for end-to-end tests: started with its own arguments, ready
// once it prints a line starting with "ready", stopped with SIGTERM when the
// handle goes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace norvik::test {

class ChildProcess {
 public:
  // Starts argv[0] with argv and waits up to `ready_timeout` for its ready
  // line; throws std::runtime_error if it exits or stays silent.
  explicit ChildProcess(std::vector<std::string> argv,
                        std::chrono::milliseconds ready_timeout = std::chrono::seconds(20));
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // SIGTERM, then SIGKILL after `grace`; returns the exit status (as from waitpid).
  int Stop(std::chrono::milliseconds grace = std::chrono::seconds(5));
  // Kills at once, as a crashed robot would vanish.
  void Kill();
  pid_t pid() const { return pid_; }
  const std::string& ready_line() const { return ready_line_; }

 private:
  pid_t pid_ = -1;
  int out_fd_ = -1;
  std::string ready_line_;
};

// The Python interpreter the build was configured with.
std::string PythonExecutable();
// Absolute path of a file in the source tree.
std::string SourcePath(const std::string& relative);
// A key prefix unique to this process and call, so test runs never meet.
std::string UniquePrefix(const std::string& name);
// A valid serial number unique to this process and call, such as "T123x4-7".
std::string UniqueSerial();

}  // namespace norvik::test
