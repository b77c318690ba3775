// Whole payloads into messages, through the ADL hook
// `deserialize_with_deserializer(Deserializer&, T&)`, which returns false on
// the first failure and leaves its code and text in the deserializer.
#pragma once

#include "zenoh/bytes.hxx"
#include "zenoh/exception.hxx"
#include "zenoh/ext/contiguous_payload.hxx"
#include "zenoh/ext/deserializer.hxx"

namespace zenoh::detail {

// Reads all of `payload` into `value`: the first failure's code, its text in `text`.
template <typename T>
ZResult decode_all(BytesView payload, T& value, const char*& text) {
  const ext::ContiguousPayload bytes(payload);
  ext::Deserializer d(bytes.data(), bytes.size());
  if (deserialize_with_deserializer(d, value) && !d.is_done()) {
    d.fail(NZ_EDESERIALIZE, "Payload contains more bytes than required for deserialization");
  }
  text = d.error_text();
  return d.status();
}

}  // namespace zenoh::detail

namespace zenoh::ext {

// With no result slot the first failure throws ZException; with a slot its
// code is stored and the partly filled value returned (a sequence that
// failed partway is left empty).
template <typename T>
T deserialize(BytesView payload, ZResult* err = nullptr) {
  T value{};
  const char* text = "";
  const ZResult rc = detail::decode_all(payload, value, text);
  if (err != nullptr) {
    *err = rc;
  } else if (rc != NZ_OK) {
    throw ZException(text, rc);
  }
  return value;
}

template <typename T>
T deserialize(const Bytes& payload, ZResult* err = nullptr) {
  return deserialize<T>(payload.view(), err);
}

// Decodes a whole payload over `value`, reusing the storage it holds, for
// callers that decode one message after another. Returns the first failure's
// code; after a failure `value` holds a mix of old and new and must not be used.
template <typename T>
ZResult deserialize_into(BytesView payload, T& value) {
  const char* text = "";
  return detail::decode_all(payload, value, text);
}

}  // namespace zenoh::ext
