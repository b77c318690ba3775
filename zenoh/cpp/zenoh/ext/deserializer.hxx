// The reader of the zenoh-ext wire format, in place over contiguous bytes:
// little-endian numbers, bools as a byte 0 or 1, LEB128 sequence lengths and
// UTF-8 strings. It accepts exactly what zenoh-ext's own deserializer
// accepts, fails with its codes and texts, and leaves in a failed run what
// it leaves: the bytes there were of a cut run, the bools before a bad one.
//
// The first failure is kept and the cursor goes to the end, so every later
// read that needs a byte fails: decoders read straight on and check once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include "zenoh/exception.hxx"

namespace zenoh::ext {

static_assert(sizeof(float) == 4 && sizeof(double) == 8, "IEEE 754 floats expected");

class Deserializer {
 public:
  Deserializer() = default;
  // The bytes must outlive the deserializer.
  Deserializer(const uint8_t* data, size_t size) noexcept : cur_(data), end_(data + size), size_(size) {}

  bool ok() const noexcept { return status_ == NZ_OK; }
  ZResult status() const noexcept { return status_; }
  const char* error_text() const noexcept { return text_; }
  // True when every byte has been read and nothing failed.
  bool is_done() const noexcept { return ok() && cur_ == end_; }
  size_t payload_size() const noexcept { return size_; }

  // Records a failure unless one is already recorded; returns false.
  [[gnu::always_inline]] bool fail(ZResult code, const char* text) noexcept {
    if (ok()) {
      status_ = code;
      text_ = text;
    }
    cur_ = end_;
    return false;
  }

  template <typename T>
  [[gnu::always_inline]] bool read(T& v) noexcept {
    static_assert(std::is_arithmetic_v<T> && !std::is_same_v<T, bool>);
    if (__builtin_expect(left() < sizeof(T), 0)) return fail_read();
    v = load<T>(cur_);
    cur_ += sizeof(T);
    return true;
  }
  [[gnu::always_inline]] bool read(bool& v) noexcept {
    if (__builtin_expect(left() < 1 || *cur_ > 1, 0)) return fail_read();
    v = *cur_++ == 1;
    return true;
  }

  // `n` values without a length prefix.
  template <typename T>
  [[gnu::always_inline]] bool read_n(T* out, size_t n) noexcept {
    static_assert(std::is_arithmetic_v<T> && !std::is_same_v<T, bool>);
    if (__builtin_expect(n > left() / sizeof(T), 0)) {
      // zenoh-ext's read_exact copies what there is before it fails
      if (left() > 0) std::memcpy(static_cast<void*>(out), cur_, left());
      return fail_read();
    }
    if constexpr (kLittleEndian) {
      if (n > 0) std::memcpy(out, cur_, n * sizeof(T));
    } else {
      for (size_t i = 0; i < n; ++i) out[i] = load<T>(cur_ + i * sizeof(T));
    }
    cur_ += n * sizeof(T);
    return true;
  }
  // Bools one by one, each 0 or 1; those before a bad one are kept.
  bool read_n(bool* out, size_t n) noexcept {
    for (size_t i = 0; i < n; ++i) {
      if (!read(out[i])) return false;
    }
    return true;
  }

  // A run of exactly `n` values behind its one-byte length prefix, as a
  // fixed-size array is written, taken in one copy when all is well; false,
  // having read nothing, when the caller must take the general path, which
  // sees every fault.
  template <typename T>
  [[gnu::always_inline]] bool try_read_fixed(T* out, size_t n) noexcept {
    if (n >= 0x80 || left() < 1 + n * sizeof(T) || *cur_ != n) return false;
    const uint8_t* body = cur_ + 1;
    if constexpr (std::is_same_v<T, bool>) {
      uint8_t all = 0;
      for (size_t i = 0; i < n; ++i) all |= body[i];
      if (all > 1) return false;
      std::memcpy(out, body, n);  // every byte is 0 or 1, a bool's own representation
    } else if constexpr (kLittleEndian) {
      std::memcpy(out, body, n * sizeof(T));
    } else {
      for (size_t i = 0; i < n; ++i) out[i] = load<T>(body + i * sizeof(T));
    }
    cur_ = body + n * sizeof(T);
    return true;
  }

  // A sequence-length prefix: unsigned LEB128 into 64 bits which, like
  // zenoh-ext's reader, accepts redundant continuation bytes and rejects a
  // tenth byte above 1. Lengths that could not fit in the payload at
  // `min_element_size` bytes an element are rejected here, so no caller ever
  // reserves for a forged length.
  [[gnu::always_inline]] bool read_sequence_length(size_t& n, size_t min_element_size = 1) noexcept {
    if (__builtin_expect(!read_length(n) || (min_element_size > 0 && n > size_ / min_element_size), 0)) {
      return fail(NZ_EDESERIALIZE, "Deserialization failure:: Failed to read sequence length");
    }
    return true;
  }

  // A length-prefixed UTF-8 string.
  bool read_string(std::string& s) {
    size_t n = 0;
    if (!read_length(n) || n > left() || !valid_utf8(cur_, n)) return fail_read();
    s.assign(reinterpret_cast<const char*>(cur_), n);
    cur_ += n;
    return true;
  }

  // Rust's str::from_utf8: shortest forms only, no surrogates, nothing above U+10FFFF.
  static bool valid_utf8(const uint8_t* s, size_t n) noexcept {
    size_t i = 0;
    while (i < n) {
      const uint8_t b = s[i];
      if (b < 0x80) {
        ++i;
        continue;
      }
      size_t extra = 0;
      uint8_t lo = 0x80, hi = 0xBF;  // bounds of the second byte
      if (b >= 0xC2 && b <= 0xDF) {
        extra = 1;
      } else if (b >= 0xE0 && b <= 0xEF) {
        extra = 2;
        if (b == 0xE0) lo = 0xA0;
        if (b == 0xED) hi = 0x9F;
      } else if (b >= 0xF0 && b <= 0xF4) {
        extra = 3;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;
      } else {
        return false;
      }
      if (n - i <= extra) return false;
      if (s[i + 1] < lo || s[i + 1] > hi) return false;
      for (size_t k = 2; k <= extra; ++k) {
        if ((s[i + k] & 0xC0) != 0x80) return false;
      }
      i += extra + 1;
    }
    return true;
  }

 private:
  static constexpr bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

  size_t left() const noexcept { return static_cast<size_t>(end_ - cur_); }
  [[gnu::always_inline]] bool fail_read() noexcept { return fail(NZ_EDESERIALIZE, "Deserialization failure"); }

  // Moves the cursor past the length only when it is whole.
  [[gnu::always_inline]] bool read_length(size_t& n) noexcept {
    static_assert(sizeof(size_t) == 8, "64-bit lengths expected");
    uint64_t result = 0;
    unsigned shift = 0;
    for (const uint8_t* p = cur_; p != end_; ++p) {
      const uint8_t byte = *p;
      if (shift == 63 && byte > 1) return false;
      result |= static_cast<uint64_t>(byte & 0x7F) << shift;
      if ((byte & 0x80) == 0) {
        cur_ = p + 1;
        n = static_cast<size_t>(result);
        return true;
      }
      shift += 7;
    }
    return false;
  }

  template <typename T>
  static T load(const uint8_t* p) noexcept {
    T v;
    if constexpr (kLittleEndian || sizeof(T) == 1) {
      std::memcpy(&v, p, sizeof(T));
    } else {
      uint8_t b[sizeof(T)];
      for (size_t i = 0; i < sizeof(T); ++i) b[i] = p[sizeof(T) - 1 - i];
      std::memcpy(&v, b, sizeof(T));
    }
    return v;
  }

  const uint8_t* cur_ = nullptr;
  const uint8_t* end_ = nullptr;
  size_t size_ = 0;
  ZResult status_ = NZ_OK;
  const char* text_ = "";
};

}  // namespace zenoh::ext
