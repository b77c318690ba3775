// The zenoh-ext deserializer. It remembers the first failure (code and text),
// and after it every read fails at once, so decoders can read straight on and
// check once.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "zenoh/bytes.hxx"
#include "zenoh/exception.hxx"
#include "zenoh/handle.hxx"

namespace zenoh::ext {

class Deserializer : public detail::Owned<NzDeserializer, nz_deserializer_drop> {
 public:
  // The payload must outlive the deserializer.
  explicit Deserializer(BytesView payload) : payload_size_(payload.size()) {
    NzDeserializer* out = nullptr;
    detail::check(nz_deserializer_new(&out, payload.raw()), "Failed to create deserializer", nullptr);
    *static_cast<Owned*>(this) = Owned(out);
  }
  explicit Deserializer(const Bytes& payload) : Deserializer(payload.view()) {}

  bool ok() const noexcept { return status_ == NZ_OK; }
  ZResult status() const noexcept { return status_; }
  const char* error_text() const noexcept { return text_; }
  bool is_done() const noexcept { return nz_de_done(handle()); }
  size_t payload_size() const noexcept { return payload_size_; }

  // Records a failure unless one is already recorded; returns false.
  bool fail(ZResult code, const char* text) noexcept {
    if (status_ == NZ_OK) {
      status_ = code;
      text_ = text;
    }
    return false;
  }

  bool read(uint8_t& v) noexcept { return take(nz_de_u8(handle(), &v)); }
  bool read(uint16_t& v) noexcept { return take(nz_de_u16(handle(), &v)); }
  bool read(int16_t& v) noexcept { return take(nz_de_i16(handle(), &v)); }
  bool read(uint32_t& v) noexcept { return take(nz_de_u32(handle(), &v)); }
  bool read(int32_t& v) noexcept { return take(nz_de_i32(handle(), &v)); }
  bool read(float& v) noexcept { return take(nz_de_f32(handle(), &v)); }
  bool read(double& v) noexcept { return take(nz_de_f64(handle(), &v)); }
  bool read(bool& v) noexcept { return take(nz_de_bool(handle(), &v)); }
  bool read_n(uint8_t* d, size_t n) noexcept { return take(nz_de_u8_n(handle(), d, n)); }
  bool read_n(uint16_t* d, size_t n) noexcept { return take(nz_de_u16_n(handle(), d, n)); }
  bool read_n(int16_t* d, size_t n) noexcept { return take(nz_de_i16_n(handle(), d, n)); }
  bool read_n(uint32_t* d, size_t n) noexcept { return take(nz_de_u32_n(handle(), d, n)); }
  bool read_n(int32_t* d, size_t n) noexcept { return take(nz_de_i32_n(handle(), d, n)); }
  bool read_n(float* d, size_t n) noexcept { return take(nz_de_f32_n(handle(), d, n)); }
  bool read_n(double* d, size_t n) noexcept { return take(nz_de_f64_n(handle(), d, n)); }
  bool read_n(bool* d, size_t n) noexcept { return take(nz_de_bool_n(handle(), d, n)); }

  // A sequence-length prefix; lengths that could not fit in the payload are
  // rejected here, so no caller ever reserves for a forged length.
  bool read_sequence_length(size_t& n, size_t min_element_size = 1) noexcept {
    if (!ok()) return false;
    const ZResult rc = nz_de_seq_len(handle(), &n);
    if (rc != NZ_OK) return fail(rc, "Deserialization failure:: Failed to read sequence length");
    if (min_element_size > 0 && n > payload_size_ / min_element_size) {
      return fail(NZ_EDESERIALIZE, "Deserialization failure:: Failed to read sequence length");
    }
    return true;
  }

  bool read_string(std::string& s) {
    if (!ok()) return false;
    const uint8_t* data = nullptr;
    size_t len = 0;
    if (!take(nz_de_string(handle(), &data, &len))) return false;
    s.assign(reinterpret_cast<const char*>(data), len);
    return true;
  }

 private:
  bool take(ZResult rc) noexcept {
    if (!ok()) return false;
    return rc == NZ_OK || fail(rc, "Deserialization failure");
  }

  size_t payload_size_;
  ZResult status_ = NZ_OK;
  const char* text_ = "";
};

// Decodes a whole payload into T through the ADL hook
// `deserialize_with_deserializer(Deserializer&, T&)`, which returns false on
// failure. With no result slot the first failure throws ZException; with a
// slot its code is stored and the partly filled value returned.
template <typename T>
T deserialize(BytesView payload, ZResult* err = nullptr) {
  T value{};
  Deserializer d(payload);
  if (deserialize_with_deserializer(d, value) && !d.is_done()) {
    d.fail(NZ_EDESERIALIZE, "Payload contains more bytes than required for deserialization");
  }
  if (err != nullptr) {
    *err = d.status();
  } else if (!d.ok()) {
    throw ZException(d.error_text(), d.status());
  }
  return value;
}

template <typename T>
T deserialize(const Bytes& payload, ZResult* err = nullptr) {
  return deserialize<T>(payload.view(), err);
}

}  // namespace zenoh::ext
