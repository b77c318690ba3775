// The robot serial number as the keys use it.
#pragma once

#include <string>

#include "norvik/tarn/export.h"

namespace norvik::tarn {

// The form of `text` that Client uses in every key: the words before the last
// '-' (letters and digits, separated by single blanks or '-') joined by '-',
// then the suffix. "Abc 4s-123" becomes "Abc-4s-123"; "AB-CD-77" stays.
// Throws std::invalid_argument "[norvik::tarn::Client] Format of the provided
// robot serial number is invalid", as the Client constructor does.
NORVIK_TARN_API std::string normalize_serial(const std::string& text);

}  // namespace norvik::tarn
