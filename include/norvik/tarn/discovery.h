// Which robots answer on the network.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "norvik/tarn/export.h"

namespace norvik::tarn {

struct RobotInfo {
  std::string serial;          // normalised, as in the robot's keys ("Rizon-4s-062068")
  std::string server_version;  // as the robot reports it ("v2.1"); empty when it reported none
};

// Every robot that answers within `timeout`, by serial number. Uses the
// process's Zenoh session (see zenoh_config.h), opening it for the call when
// no Client holds it. Blocks for the whole `timeout`, since robots on the
// network are not counted in advance. Throws what opening the session throws.
NORVIK_TARN_API std::vector<RobotInfo> list_robots(std::chrono::milliseconds timeout = std::chrono::seconds(2));

}  // namespace norvik::tarn
