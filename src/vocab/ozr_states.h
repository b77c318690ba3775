// The robot vocabulary shared with the controller software: system and
// safety-board state names, and the general status codes every operation of
// the data access layer returns.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

namespace ozr {

enum class SystemState : uint16_t {
  UNKNOWN = 0,
  INIT = 1,
  STOPPED_MANUAL = 2,
  STOPPED_AUTO = 3,
  STOPPED_EXTERNAL_AUTO = 4,
  WORKING_EXTERNAL_AUTO = 5,
  WORKING_MANUAL_EXECUTE = 6,
  WORKING_AUTO_EXECUTE = 7,
  REWIND_EXTERNAL_AUTO = 8,
  REWIND_MANUAL = 9,
  REWIND_AUTO = 10,
  FREEDRIVE_MANUAL = 11,
  FREEDRIVE_AUTO = 12,
  FAULT_MANUAL = 13,
  FAULT_AUTO = 14,
  FAULT_EXTERNAL_AUTO = 15,
  RECOVERY_MANUAL = 16,
  RECOVERY_AUTO = 17,
  RECOVERY_EXTERNAL_AUTO = 18,
};

enum class SafetyBoardState : int16_t {
  UNKNOWN = -1,
  STARTUP = 0,
  SYNC = 8,
  RECOVERY = 9,
  REDUCED = 10,
  NORMAL = 12,
  TRANSITION = 14,
  RELEASE_BRAKE = 24,
  CAT_0_STOP = 40,
  CAT_1_STOP = 72,
  CAT_2_STOP = 136,
};

extern const std::unordered_map<uint16_t, std::string> SystemStateName;
extern const std::map<int16_t, std::string> SafetyBoardStateName;

// The name of a code, or nothing when the code has none.
std::optional<std::string> NameOf(SystemState state);
std::optional<std::string> NameOf(SafetyBoardState state);

enum OzrGeneralState : int32_t {
  OZR_GENERAL_OK = 100000,
  OZR_GENERAL_WARNING = 200000,
  OZR_GENERAL_FAULT = 300000,
  OZR_GENERAL_CRITICAL_FAULT = 400000,
};

// Interprets the codes of one family of status values.
class OzrStateCategory {
 public:
  virtual ~OzrStateCategory() = default;
  virtual const char* name() const noexcept = 0;
  virtual const char* message(int32_t code) const noexcept = 0;
};

// The one process-wide category of the general codes ("General").
const OzrStateCategory& OzrGeneralStateCategory();

// A status value: the code and the category that interprets it; compared by code.
class OzrState {
 public:
  OzrState(int32_t code, const OzrStateCategory& category) noexcept : code_(code), category_(&category) {}

  int32_t code() const noexcept { return code_; }
  const OzrStateCategory& category() const noexcept { return *category_; }
  const char* message() const noexcept { return category_->message(code_); }
  // Below 300000 is not a failure; exactly 100000 is full success.
  bool ok() const noexcept { return code_ < OZR_GENERAL_FAULT; }

  friend bool operator==(const OzrState& a, const OzrState& b) noexcept { return a.code_ == b.code_; }
  friend bool operator!=(const OzrState& a, const OzrState& b) noexcept { return a.code_ != b.code_; }

 private:
  int32_t code_;
  const OzrStateCategory* category_;
};

OzrState MakeOzrState(int32_t code) noexcept;

}  // namespace ozr
