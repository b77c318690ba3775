// The zenoh-ext deserializer. It remembers the first failure (code and text),
// and after it every read fails at once, so decoders can read straight on and
// check once.
//
// A payload in one slice (every stream sample that fits a batch) is read in
// place by WireReader, without crossing into Rust per read; a split payload
// goes through zenoh-ext's own deserializer. Both accept the same bytes and
// fail with the same codes and texts.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "zenoh/bytes.hxx"
#include "zenoh/exception.hxx"
#include "zenoh/ext/wire_reader.hxx"
#include "zenoh/handle.hxx"

namespace zenoh::ext {

class Deserializer : public detail::Owned<NzDeserializer, nz_deserializer_drop> {
 public:
  enum class Reader { Fastest, Zenoh };

  // The payload must outlive the deserializer. Reader::Zenoh always reads
  // through zenoh-ext (to compare the two readers).
  explicit Deserializer(BytesView payload, Reader reader = Reader::Fastest) {
    const uint8_t* data = nullptr;
    size_t len = 0;
    if (reader == Reader::Fastest && payload.raw() != nullptr && nz_bytes_contiguous(payload.raw(), &data, &len)) {
      direct_ = true;
      wire_ = WireReader(data, len);
      payload_size_ = len;
      return;
    }
    payload_size_ = payload.size();
    NzDeserializer* out = nullptr;
    detail::check(nz_deserializer_new(&out, payload.raw()), "Failed to create deserializer", nullptr);
    *static_cast<Owned*>(this) = Owned(out);
  }
  explicit Deserializer(const Bytes& payload, Reader reader = Reader::Fastest)
      : Deserializer(payload.view(), reader) {}

  bool ok() const noexcept { return status_ == NZ_OK; }
  ZResult status() const noexcept { return status_; }
  const char* error_text() const noexcept { return text_; }
  bool is_done() const noexcept { return direct_ ? wire_.done() : nz_de_done(handle()); }
  size_t payload_size() const noexcept { return payload_size_; }
  // True when the payload is read in place rather than through zenoh-ext.
  bool reads_in_place() const noexcept { return direct_; }
  // The in-place reader at the start of the payload (when reads_in_place()).
  WireReader in_place_reader() const noexcept { return wire_; }

  // Decoders may then read sequences straight into their destination,
  // reusing its storage; after a failure the destination holds a mix.
  void reuse_storage(bool on) noexcept { reuse_storage_ = on; }
  bool reuses_storage() const noexcept { return reuse_storage_; }

  // Records a failure unless one is already recorded; returns false.
  bool fail(ZResult code, const char* text) noexcept {
    if (status_ == NZ_OK) {
      status_ = code;
      text_ = text;
    }
    return false;
  }

  bool read(uint8_t& v) noexcept { return direct_ ? put(wire_.read(v)) : take(nz_de_u8(handle(), &v)); }
  bool read(uint16_t& v) noexcept { return direct_ ? put(wire_.read(v)) : take(nz_de_u16(handle(), &v)); }
  bool read(int16_t& v) noexcept { return direct_ ? put(wire_.read(v)) : take(nz_de_i16(handle(), &v)); }
  bool read(uint32_t& v) noexcept { return direct_ ? put(wire_.read(v)) : take(nz_de_u32(handle(), &v)); }
  bool read(int32_t& v) noexcept { return direct_ ? put(wire_.read(v)) : take(nz_de_i32(handle(), &v)); }
  bool read(float& v) noexcept { return direct_ ? put(wire_.read(v)) : take(nz_de_f32(handle(), &v)); }
  bool read(double& v) noexcept { return direct_ ? put(wire_.read(v)) : take(nz_de_f64(handle(), &v)); }
  bool read(bool& v) noexcept { return direct_ ? put(wire_.read(v)) : take(nz_de_bool(handle(), &v)); }
  bool read_n(uint8_t* d, size_t n) noexcept { return direct_ ? put(wire_.read_n(d, n)) : take(nz_de_u8_n(handle(), d, n)); }
  bool read_n(uint16_t* d, size_t n) noexcept {
    return direct_ ? put(wire_.read_n(d, n)) : take(nz_de_u16_n(handle(), d, n));
  }
  bool read_n(int16_t* d, size_t n) noexcept { return direct_ ? put(wire_.read_n(d, n)) : take(nz_de_i16_n(handle(), d, n)); }
  bool read_n(uint32_t* d, size_t n) noexcept {
    return direct_ ? put(wire_.read_n(d, n)) : take(nz_de_u32_n(handle(), d, n));
  }
  bool read_n(int32_t* d, size_t n) noexcept { return direct_ ? put(wire_.read_n(d, n)) : take(nz_de_i32_n(handle(), d, n)); }
  bool read_n(float* d, size_t n) noexcept { return direct_ ? put(wire_.read_n(d, n)) : take(nz_de_f32_n(handle(), d, n)); }
  bool read_n(double* d, size_t n) noexcept { return direct_ ? put(wire_.read_n(d, n)) : take(nz_de_f64_n(handle(), d, n)); }
  bool read_n(bool* d, size_t n) noexcept { return direct_ ? put(wire_.read_n(d, n)) : take(nz_de_bool_n(handle(), d, n)); }

  // The fast way through a fixed-size array (length prefix `n`, then `n`
  // values) when the payload is read in place and the bytes are right;
  // false, having read nothing, when the caller must take the general path.
  template <typename T>
  bool try_read_fixed(T* out, size_t n) noexcept {
    return direct_ && ok() && wire_.try_fixed(out, n);
  }

  // A sequence-length prefix; lengths that could not fit in the payload are
  // rejected here, so no caller ever reserves for a forged length.
  bool read_sequence_length(size_t& n, size_t min_element_size = 1) noexcept {
    if (!ok()) return false;
    const ZResult rc = direct_ ? (wire_.read_length(n) ? NZ_OK : NZ_EDESERIALIZE) : nz_de_seq_len(handle(), &n);
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
    if (direct_ ? !put(wire_.read_string(data, len)) : !take(nz_de_string(handle(), &data, &len))) return false;
    s.assign(reinterpret_cast<const char*>(data), len);
    return true;
  }

 private:
  bool take(ZResult rc) noexcept {
    if (!ok()) return false;
    return rc == NZ_OK || fail(rc, "Deserialization failure");
  }
  bool put(bool read) noexcept {
    if (!ok()) return false;
    return read || fail(NZ_EDESERIALIZE, "Deserialization failure");
  }

  bool direct_ = false;
  bool reuse_storage_ = false;
  WireReader wire_;
  size_t payload_size_ = 0;
  ZResult status_ = NZ_OK;
  const char* text_ = "";
};

}  // namespace zenoh::ext

namespace zenoh::detail {

// The fast pass through the ADL hook `deserialize_in_place(WireReader&, T&)`:
// true when the payload lies in one slice and all of it decoded. A failed
// pass is run again through the Deserializer, for the failure's code, text
// and partly filled value.
template <typename T>
bool decode_in_place(const ext::Deserializer& d, T& value) {
  if (!d.reads_in_place()) return false;
  ext::WireReader wire = d.in_place_reader();
  return deserialize_in_place(wire, value) && wire.done();
}

template <typename T>
ZResult decode_all(ext::Deserializer& d, T& value) {
  if (deserialize_with_deserializer(d, value) && !d.is_done()) {
    d.fail(NZ_EDESERIALIZE, "Payload contains more bytes than required for deserialization");
  }
  return d.status();
}

}  // namespace zenoh::detail

namespace zenoh::ext {

// Decodes a whole payload into T through the ADL hook
// `deserialize_with_deserializer(Deserializer&, T&)`, which returns false on
// failure. With no result slot the first failure throws ZException; with a
// slot its code is stored and the partly filled value returned.
template <typename T>
T deserialize(BytesView payload, ZResult* err = nullptr, Deserializer::Reader reader = Deserializer::Reader::Fastest) {
  T value{};
  Deserializer d(payload, reader);
  if (detail::decode_in_place(d, value)) {
    if (err != nullptr) *err = NZ_OK;
    return value;
  }
  if (d.reads_in_place()) value = T{};
  const ZResult rc = detail::decode_all(d, value);
  if (err != nullptr) {
    *err = rc;
  } else if (rc != NZ_OK) {
    throw ZException(d.error_text(), rc);
  }
  return value;
}

template <typename T>
T deserialize(const Bytes& payload, ZResult* err = nullptr, Deserializer::Reader reader = Deserializer::Reader::Fastest) {
  return deserialize<T>(payload.view(), err, reader);
}

// Decodes a whole payload over `value`, reusing the storage it holds, for
// callers that decode one message after another. Returns the first failure's
// code; after a failure `value` holds a mix of old and new and must not be used.
template <typename T>
ZResult deserialize_into(BytesView payload, T& value) {
  Deserializer d(payload);
  if (detail::decode_in_place(d, value)) return NZ_OK;
  // Both readers accept the same bytes and every decoding failure is
  // NZ_EDESERIALIZE, so a failed fast pass needs no second, slower one.
  if (d.reads_in_place()) return NZ_EDESERIALIZE;
  d.reuse_storage(true);
  return detail::decode_all(d, value);
}

}  // namespace zenoh::ext
