// The serial-number check: whatever it accepts is safe in a key expression,
// normalises to itself and builds a valid key.
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "client/serial_number.h"
#include "zenoh/keyexpr.hxx"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string serial(reinterpret_cast<const char*>(data), size);
  std::string normalised;
  try {
    normalised = norvik::tarn::NormaliseSerialNumber(serial);
  } catch (const std::invalid_argument&) {
    return 0;
  }
  if (normalised.find_first_of("/*$#? \t\r\n") != std::string::npos) std::abort();
  if (norvik::tarn::NormaliseSerialNumber(normalised) != normalised) std::abort();
  zenoh::ZResult err = 0;
  const zenoh::KeyExpr key("norvik/robot/" + normalised + "/rpc", true, &err);
  // bytes that are not UTF-8 cannot form a key; everything else must
  bool ascii = true;
  for (unsigned char c : normalised) ascii = ascii && c < 0x80;
  if (ascii && err != 0) std::abort();
  if (err == 0 && key.as_string_view() != "norvik/robot/" + normalised + "/rpc") std::abort();
  return 0;
}
