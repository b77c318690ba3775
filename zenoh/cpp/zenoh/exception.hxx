// Errors of the Zenoh layer: a text and Zenoh's signed 8-bit result code.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "norvik_zenoh.h"

namespace zenoh {

using ZResult = int8_t;

class ZException : public std::runtime_error {
 public:
  ZException(const std::string& message, ZResult code) : std::runtime_error(message), code_(code) {}

  ZResult code() const noexcept { return code_; }

 private:
  ZResult code_;
};

namespace detail {

// Throws when no result slot is given, else stores the code; true on success.
inline bool check(ZResult rc, const char* message, ZResult* err) {
  if (err != nullptr) {
    *err = rc;
  } else if (rc != NZ_OK) {
    throw ZException(message, rc);
  }
  return rc == NZ_OK;
}

}  // namespace detail
}  // namespace zenoh
