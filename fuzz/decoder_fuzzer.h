// Shared checks of the decoder fuzzers: a payload either decodes, and then
// re-encodes to something that decodes to the same bytes again, or fails
// with one of the decoder's own errors. Nothing else may happen.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "msgs/codec.h"

namespace norvik::fuzz {

template <typename T>
void CheckDecoder(const uint8_t* data, size_t size) {
  const zenoh::Bytes payload(data, size);
  zenoh::ZResult err = 0;
  const T partial = zenoh::ext::deserialize<T>(payload, &err);
  T decoded;
  try {
    decoded = zenoh::ext::deserialize<T>(payload);
  } catch (const zenoh::ZException& e) {
    if (err == 0 || e.code() != err) std::abort();  // both modes must agree
    return;
  }
  if (err != 0) std::abort();
  const auto once = zenoh_msgs::tarn_msg::SerializeMessage(decoded).as_vector();
  const auto twice =
      zenoh_msgs::tarn_msg::SerializeMessage(zenoh::ext::deserialize<T>(zenoh::Bytes(once))).as_vector();
  if (once != twice) std::abort();
  (void)partial;
}

}  // namespace norvik::fuzz
