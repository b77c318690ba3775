#include "norvik/tarn/state_names.h"

#include "vocab/ozr_states.h"

namespace norvik::tarn {

std::optional<std::string> system_state_name(uint16_t code) { return ozr::NameOf(ozr::SystemState(code)); }

std::optional<std::string> safety_board_state_name(int16_t code) {
  return ozr::NameOf(ozr::SafetyBoardState(code));
}

std::map<uint16_t, std::string> system_state_names() {
  // The vocabulary keeps this table unordered; callers list it in code order.
  return {ozr::SystemStateName.begin(), ozr::SystemStateName.end()};
}

std::map<int16_t, std::string> safety_board_state_names() { return ozr::SafetyBoardStateName; }

}  // namespace norvik::tarn
