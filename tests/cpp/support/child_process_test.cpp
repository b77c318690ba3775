// The peer-process handle the tests, stress runs and benchmarks share: it
// talks line by line, stops its process however it behaves, and never
// leaves one behind, running or unreaped, nor ends this one.
#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "support/child_process.h"
#include "support/wait.h"

namespace norvik::test {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> Sh(const std::string& script) { return {"/bin/sh", "-c", script}; }

// True once `pid` has exited, without reaping it.
bool Exited(pid_t pid) {
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

// A file a child writes its pid to, removed when the test ends.
struct PidFile {
  std::string path = "/tmp/norvik_child_" + std::to_string(getpid()) + ".pid";
  ~PidFile() { std::remove(path.c_str()); }
  pid_t Read() const {
    pid_t pid = -1;
    std::ifstream(path) >> pid;
    return pid;
  }
};

TEST(ChildProcessTest, TalksLineByLineAndGoesOnItsQuitLine) {
  ChildProcess child(Sh("echo ready to talk; while read l; do [ \"$l\" = bye ] && exit 3; echo noise; echo \"got $l\"; done"),
                     {5s, "bye"});
  EXPECT_EQ(child.ready_line(), "ready to talk");
  child.Send("one");
  EXPECT_EQ(child.Expect("got", 5s), "got one");
  child.Send("two");
  EXPECT_EQ(child.Expect("got", 5s), "got two");
  const int status = child.Stop();
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_EQ(child.Stop(), 0);  // reaped once
}

TEST(ChildProcessTest, StopsWithSigtermThenSigkillAfterTheGrace) {
  ChildProcess polite(Sh("echo ready; exec sleep 30"));
  EXPECT_THROW(polite.Send("x"), std::runtime_error);  // takes no commands
  int status = polite.Stop();
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGTERM);

  ChildProcess stubborn(Sh("trap '' TERM; echo ready; while :; do sleep 0.05; done"));
  status = stubborn.Stop(200ms);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
}

TEST(ChildProcessTest, AFailedStartLeavesNoProcessRunningOrUnreaped) {
  for (const std::string& then : {"exec sleep 30", "echo not ready; exit 1"}) {
    for (const std::string& quit : {"", "quit"}) {
      PidFile file;
      const auto start = [&] { ChildProcess child(Sh("echo $$ > " + file.path + "; " + then), {300ms, quit}); };
      EXPECT_THROW(start(), std::runtime_error) << then;
      const pid_t pid = file.Read();
      ASSERT_GT(pid, 0);
      EXPECT_EQ(kill(pid, 0), -1) << then << ": pid " << pid << " is still there";
      EXPECT_EQ(errno, ESRCH);
    }
  }
  EXPECT_THROW(ChildProcess(std::vector<std::string>{"/nonexistent/peer"}), std::runtime_error);
}

TEST(ChildProcessTest, APeerThatHasGoneFailsCallsButNotThisProcess) {
  ChildProcess child(Sh("echo ready; exit 0"), {5s, "quit"});
  ASSERT_TRUE(WaitFor([&] { return Exited(child.pid()); }, 5s));
  EXPECT_THROW(child.Send("x"), std::runtime_error);  // not SIGPIPE
  EXPECT_THROW(child.Expect("x", 5s), std::runtime_error);
  sigset_t pending;
  sigpending(&pending);
  EXPECT_FALSE(sigismember(&pending, SIGPIPE));
  {
    ChildProcess gone(Sh("echo ready; exit 0"), {5s, "quit"});
    ASSERT_TRUE(WaitFor([&] { return Exited(gone.pid()); }, 5s));
  }  // its destructor tells it "quit" and reaps it, without a throw
  const int status = child.Stop();
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace norvik::test
