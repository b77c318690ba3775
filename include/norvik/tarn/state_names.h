// Names of the controller's state codes, which every basic sample carries as
// numbers (Client::system_state, Client::safety_board_state).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "norvik/tarn/export.h"

namespace norvik::tarn {

// "WORKING_AUTO_EXECUTE" for 7; empty for a code without a name.
NORVIK_TARN_API std::optional<std::string> system_state_name(uint16_t code);
// "NORMAL" for 12; empty for a code without a name (the codes are sparse).
NORVIK_TARN_API std::optional<std::string> safety_board_state_name(int16_t code);

// Every named code, in ascending order.
NORVIK_TARN_API std::map<uint16_t, std::string> system_state_names();
NORVIK_TARN_API std::map<int16_t, std::string> safety_board_state_names();

}  // namespace norvik::tarn
