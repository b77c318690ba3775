// Shared checks of the decoder fuzzers: a payload either decodes, and then
// re-encodes to something that decodes to the same bytes again, or fails
// with one of the decoder's own errors. Nothing else may happen. The
// library's reader and zenoh-ext's own must agree on every payload (code,
// text, partly filled record), and a decode over the previous input's
// storage must give what a fresh one gives.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "msgs/codec.h"
#include "zenoh/zenoh_ext_reader.h"

namespace norvik::fuzz {

template <typename T>
std::vector<uint8_t> Encoded(const T& value) {
  return zenoh_msgs::tarn_msg::SerializeMessage(value).as_vector();
}

template <typename T>
void CheckDecoder(const uint8_t* data, size_t size) {
  const zenoh::Bytes payload(data, size);
  zenoh::ZResult err = 0;
  const T partial = zenoh::ext::deserialize<T>(payload, &err);
  const auto zenoh_ext = test::DecodeWithZenohExt<T>(data, size);
  if (err != zenoh_ext.code || Encoded(partial) != Encoded(zenoh_ext.value)) std::abort();

  static T reused{};  // holds whatever the previous input left
  const zenoh::ZResult into_err = zenoh::ext::deserialize_into(payload.view(), reused);
  if (into_err != err) std::abort();

  T decoded;
  try {
    decoded = zenoh::ext::deserialize<T>(payload);
  } catch (const zenoh::ZException& e) {
    // both modes must agree, on zenoh-ext's text
    if (err == 0 || e.code() != err || zenoh_ext.text != e.what()) std::abort();
    return;
  }
  if (err != 0) std::abort();
  const auto once = Encoded(decoded);
  if (Encoded(reused) != once) std::abort();
  const auto twice = Encoded(zenoh::ext::deserialize<T>(zenoh::Bytes(once)));
  if (once != twice) std::abort();
}

}  // namespace norvik::fuzz
