// Checking and normalising a robot serial number.
#pragma once

#include <string>

namespace norvik::tarn {

// "Abc 4s-123" becomes "Abc-4s-123": the words before the last '-' (letters
// and digits, separated by single blanks or '-') joined by '-', then the
// suffix. The suffix must not change or break a key expression. Throws
// std::invalid_argument "[norvik::tarn::Client] Format of the provided robot
// serial number is invalid".
std::string NormaliseSerialNumber(const std::string& serial);

}  // namespace norvik::tarn
