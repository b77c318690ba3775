// The simulated robot (sim/tarn-sim) in its own process, with its run-time
// control channel.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "zenoh/session.hxx"

namespace norvik::test {

class SimRobot {
 public:
  // Starts tarn-sim for `serial` with extra options; waits until it serves
  // and this process's session has discovered it.
  explicit SimRobot(std::string serial, std::vector<std::string> options = {});

  // Sends a JSON change of fault switches (see sim/README.md); returns the
  // reply text, or throws std::runtime_error when the robot refuses it.
  std::string Control(const std::string& json);
  // Requests answered so far, from the robot's own count.
  int Requests();

  const std::string& serial() const { return serial_; }
  // Stops the robot at once, as if it crashed or lost power.
  void Kill() {
    if (process_) process_->Kill();
  }

 private:
  std::string serial_;
  std::shared_ptr<zenoh::Session> session_;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace norvik::test
