#include "client/serial_number.h"

#include "norvik/tarn/serial_number.h"

#include <cctype>
#include <stdexcept>
#include <vector>

namespace norvik::tarn {

namespace {

[[noreturn]] void Invalid() {
  throw std::invalid_argument("[norvik::tarn::Client] Format of the provided robot serial number is invalid");
}

// The suffix goes straight into key expressions: wildcards, separators and
// the characters keys forbid would address other robots or break the key.
bool SafeInKey(unsigned char c) {
  if (c < 0x20 || c == 0x7f || std::isspace(c)) return false;
  switch (c) {
    case '/':
    case '*':
    case '$':
    case '#':
    case '?':
      return false;
    default:
      return true;
  }
}

}  // namespace

std::string NormaliseSerialNumber(const std::string& serial) {
  if (serial.empty() || serial.find('_') != std::string::npos) Invalid();
  const size_t dash = serial.rfind('-');
  if (dash == std::string::npos || dash == 0 || dash == serial.size() - 1) Invalid();
  const std::string prefix = serial.substr(0, dash);
  const std::string suffix = serial.substr(dash + 1);
  for (unsigned char c : suffix) {
    if (!SafeInKey(c)) Invalid();
  }

  std::vector<std::string> tokens(1);
  for (unsigned char c : prefix) {
    if (std::isalnum(c)) {
      tokens.back() += static_cast<char>(c);
    } else if (c == ' ' || c == '-') {
      if (tokens.back().empty()) Invalid();
      tokens.emplace_back();
    } else {
      Invalid();
    }
  }
  if (tokens.back().empty()) Invalid();

  std::string normalised;
  for (const auto& t : tokens) normalised += t + "-";
  return normalised + suffix;
}

std::string normalize_serial(const std::string& text) { return NormaliseSerialNumber(text); }

}  // namespace norvik::tarn
