#include "client/serial_number.h"

#include "norvik/tarn/serial_number.h"

#include <cctype>
#include <cstdint>
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

// Keys are UTF-8 text: bytes that are not could never name a robot.
bool ValidUtf8(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xe ? 3 : (c >> 3) == 0x1e ? 4 : 0;
    if (n == 0 || i + n > text.size()) return false;
    uint32_t cp = n == 1 ? c : c & (0x7f >> n);
    for (size_t k = 1; k < n; ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      if ((b >> 6) != 0x2) return false;
      cp = (cp << 6) | (b & 0x3f);
    }
    // overlong forms, surrogates and code points past U+10FFFF
    static constexpr uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[n] || (cp >= 0xd800 && cp <= 0xdfff) || cp > 0x10ffff) return false;
    i += n;
  }
  return true;
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
  if (!ValidUtf8(suffix)) Invalid();

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
