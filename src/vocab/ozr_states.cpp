#include "vocab/ozr_states.h"

namespace ozr {

const std::unordered_map<uint16_t, std::string> SystemStateName = {
    {0, "UNKNOWN"},
    {1, "INIT"},
    {2, "STOPPED_MANUAL"},
    {3, "STOPPED_AUTO"},
    {4, "STOPPED_EXTERNAL_AUTO"},
    {5, "WORKING_EXTERNAL_AUTO"},
    {6, "WORKING_MANUAL_EXECUTE"},
    {7, "WORKING_AUTO_EXECUTE"},
    {8, "REWIND_EXTERNAL_AUTO"},
    {9, "REWIND_MANUAL"},
    {10, "REWIND_AUTO"},
    {11, "FREEDRIVE_MANUAL"},
    {12, "FREEDRIVE_AUTO"},
    {13, "FAULT_MANUAL"},
    {14, "FAULT_AUTO"},
    {15, "FAULT_EXTERNAL_AUTO"},
    {16, "RECOVERY_MANUAL"},
    {17, "RECOVERY_AUTO"},
    {18, "RECOVERY_EXTERNAL_AUTO"},
};

const std::map<int16_t, std::string> SafetyBoardStateName = {
    {-1, "UNKNOWN"},      {0, "STARTUP"},        {8, "SYNC"},         {9, "RECOVERY"},
    {10, "REDUCED"},      {12, "NORMAL"},        {14, "TRANSITION"},  {24, "RELEASE_BRAKE"},
    {40, "CAT_0_STOP"},   {72, "CAT_1_STOP"},    {136, "CAT_2_STOP"},
};

std::optional<std::string> NameOf(SystemState state) {
  const auto it = SystemStateName.find(static_cast<uint16_t>(state));
  if (it == SystemStateName.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> NameOf(SafetyBoardState state) {
  const auto it = SafetyBoardStateName.find(static_cast<int16_t>(state));
  if (it == SafetyBoardStateName.end()) return std::nullopt;
  return it->second;
}

namespace {

class OzrGeneralStateCategoryImpl final : public OzrStateCategory {
 public:
  const char* name() const noexcept override { return "General"; }
  const char* message(int32_t code) const noexcept override {
    switch (code) {
      case OZR_GENERAL_OK:
        return "OK";
      case OZR_GENERAL_WARNING:
        return "Warning";
      case OZR_GENERAL_FAULT:
        return "Fault";
      case OZR_GENERAL_CRITICAL_FAULT:
        return "Critical fault";
      default:
        return "(unrecognized)";
    }
  }
};

}  // namespace

const OzrStateCategory& OzrGeneralStateCategory() {
  static const OzrGeneralStateCategoryImpl category;
  return category;
}

OzrState MakeOzrState(int32_t code) noexcept { return OzrState(code, OzrGeneralStateCategory()); }

}  // namespace ozr
