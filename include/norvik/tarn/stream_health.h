// Health of the robot's two streams, and every sample of them in order.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>

#include "norvik/tarn/joint_group.h"
#include "norvik/tarn/records.h"

namespace norvik::tarn {

// The two periodic streams: measured state (basic) and commanded values (extra).
enum class StreamKind { Basic, Extra };

enum class Freshness {
  NeverReceived,  // no sample has arrived since the client connected
  Live,           // the latest sample is younger than the stale limit
  Stale,          // samples came, but none lately
};

struct StreamHealth {
  uint64_t received = 0;       // samples taken into the client
  uint64_t malformed = 0;      // samples dropped because they did not decode
  uint64_t queue_dropped = 0;  // queued samples lost because the queue was full
  // The robot's time stamp of the latest sample (for the extra stream, the
  // basic stream's stamp when it arrived); (0, 0) before the first.
  std::pair<int32_t, int32_t> robot_stamp{0, 0};
  // Local steady-clock time the latest sample arrived; empty before the first.
  std::optional<std::chrono::steady_clock::time_point> last_received;

  // Time since the latest sample, measured at `now`; empty before the first.
  std::optional<std::chrono::nanoseconds> age(
      std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now()) const {
    if (!last_received) return std::nullopt;
    return now - *last_received;
  }
  Freshness freshness(std::chrono::nanoseconds stale_after = std::chrono::milliseconds(100),
                      std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now()) const {
    if (!last_received) return Freshness::NeverReceived;
    return now - *last_received <= stale_after ? Freshness::Live : Freshness::Stale;
  }
};

// One basic sample, cut per joint group as states() cuts the latest one.
struct StatesSample {
  uint64_t index = 0;  // 1 for the first sample this client took, then +1 each
  std::chrono::steady_clock::time_point received_at{};
  std::map<JointGroup, RobotStates> states;
  uint16_t system_state = 0;
  int16_t safety_board_state = 0;
  bool estop_released = false;
  bool enabling_device_on = false;
  std::array<bool, 20> digital_inputs{};
  std::array<bool, 20> digital_outputs{};
};

// One extra sample, cut per joint group as actions() cuts the latest one.
struct ActionsSample {
  uint64_t index = 0;
  std::chrono::steady_clock::time_point received_at{};
  std::map<JointGroup, RobotActions> actions;
};

}  // namespace norvik::tarn
