// Shared checks of the decoder fuzzers: a payload either decodes, and then
// re-encodes to something that decodes to the same bytes again, or fails
// with one of the decoder's own errors. Nothing else may happen. The
// in-place reader and zenoh-ext's own must agree on every payload, and a
// decode over the previous input's storage must give what a fresh one gives.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "msgs/codec.h"

namespace norvik::fuzz {

template <typename T>
std::vector<uint8_t> Encoded(const T& value) {
  return zenoh_msgs::tarn_msg::SerializeMessage(value).as_vector();
}

template <typename T>
void CheckDecoder(const uint8_t* data, size_t size) {
  using Reader = zenoh::ext::Deserializer::Reader;
  const zenoh::Bytes payload(data, size);
  zenoh::ZResult err = 0, zenoh_err = 0;
  const T partial = zenoh::ext::deserialize<T>(payload, &err);
  const T partial_zenoh = zenoh::ext::deserialize<T>(payload, &zenoh_err, Reader::Zenoh);
  if (err != zenoh_err || Encoded(partial) != Encoded(partial_zenoh)) std::abort();

  static T reused{};  // holds whatever the previous input left
  const zenoh::ZResult into_err = zenoh::ext::deserialize_into(payload.view(), reused);
  if (into_err != err) std::abort();

  T decoded;
  try {
    decoded = zenoh::ext::deserialize<T>(payload);
  } catch (const zenoh::ZException& e) {
    if (err == 0 || e.code() != err) std::abort();  // both modes must agree
    try {
      (void)zenoh::ext::deserialize<T>(payload, nullptr, Reader::Zenoh);
    } catch (const zenoh::ZException& z) {
      if (z.code() != e.code() || std::strcmp(z.what(), e.what()) != 0) std::abort();
      return;
    }
    std::abort();
  }
  if (err != 0) std::abort();
  const auto once = Encoded(decoded);
  if (Encoded(reused) != once) std::abort();
  const auto twice = Encoded(zenoh::ext::deserialize<T>(zenoh::Bytes(once)));
  if (once != twice) std::abort();
}

}  // namespace norvik::fuzz
