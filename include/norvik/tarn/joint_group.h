// The joint groups of a robot: every per-group result is keyed by them.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "norvik/tarn/export.h"

namespace norvik::tarn {

// A robot's joint groups. The value 1 is not used.
enum class JointGroup : int32_t {
  UNKNOWN = -1,
  ALL = 0,
  ARMS = 2,
  ARM_1 = 3,
  ARM_2 = 4,
  EXT_AXIS = 5,
};

// Every joint group with its name ("UNKNOWN", "ALL", "ARMS", ...).
extern NORVIK_TARN_API const std::map<JointGroup, std::string> kJointGroupNames;

}  // namespace norvik::tarn
