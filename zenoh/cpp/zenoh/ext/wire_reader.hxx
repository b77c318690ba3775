// The zenoh-ext wire format read straight from one contiguous byte span:
// little-endian numbers, bools as a byte 0 or 1, LEB128 sequence lengths and
// UTF-8 strings, accepting exactly what zenoh-ext's own deserializer accepts.
// A failed run leaves in its output what zenoh-ext's would have: the bytes
// there were of a cut run, the bools before a bad one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace zenoh::ext {

static_assert(sizeof(float) == 4 && sizeof(double) == 8, "IEEE 754 floats expected");

class WireReader {
 public:
  WireReader() = default;
  WireReader(const uint8_t* data, size_t size) noexcept : cur_(data), end_(data + size) {}

  bool done() const noexcept { return cur_ == end_; }
  size_t left() const noexcept { return static_cast<size_t>(end_ - cur_); }

  template <typename T>
  bool read(T& v) noexcept {
    static_assert(std::is_arithmetic_v<T> && !std::is_same_v<T, bool>);
    if (left() < sizeof(T)) return false;
    v = load<T>(cur_);
    cur_ += sizeof(T);
    return true;
  }
  bool read(bool& v) noexcept {
    if (left() < 1 || *cur_ > 1) return false;
    v = *cur_++ == 1;
    return true;
  }

  template <typename T>
  bool read_n(T* out, size_t n) noexcept {
    static_assert(std::is_arithmetic_v<T> && !std::is_same_v<T, bool>);
    if (n > left() / sizeof(T)) {
      // zenoh-ext's read_exact copies what there is before it fails
      if (left() > 0) std::memcpy(static_cast<void*>(out), cur_, left());
      cur_ = end_;
      return false;
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
  // fixed-size array is written. Takes it only when all is well and returns
  // false without consuming anything otherwise, so the caller's general path
  // sees every fault.
  template <typename T>
  bool try_fixed(T* out, size_t n) noexcept {
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

  // Unsigned LEB128 into 64 bits. Like zenoh-ext's reader it accepts
  // redundant continuation bytes and rejects a tenth byte above 1.
  bool read_length(size_t& n) noexcept {
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

  // A length-prefixed UTF-8 string; the view lies in the span.
  bool read_string(const uint8_t*& data, size_t& len) noexcept {
    const uint8_t* const start = cur_;
    size_t n = 0;
    if (!read_length(n) || n > left() || !valid_utf8(cur_, n)) {
      cur_ = start;
      return false;
    }
    data = cur_;
    len = n;
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
};

}  // namespace zenoh::ext
