// Element readers and writers of the TARN message formats, on top of the
// zenoh-ext serializer. Readers are written once for two kinds of source:
// zenoh::ext::Deserializer, which keeps the first failure's code and text,
// and InPlace, the bare in-place reader that only says whether all was well.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "zenoh/ext/deserializer.hxx"
#include "zenoh/ext/serializer.hxx"
#include "zenoh/ext/wire_reader.hxx"

namespace norvik::zenoh_msgs::serdetail {

using zenoh::ext::Deserializer;
using zenoh::ext::Serializer;

inline constexpr zenoh::ZResult kIncorrectSize = -7;

// The in-place pass is folded into one function per message, so its cursor
// stays in a register rather than being reloaded after every copy.
#define NORVIK_READ_INLINE __attribute__((always_inline)) inline

// Least number of bytes one element takes on the wire; bounds what a length
// prefix may claim before anything is reserved for it.
template <typename T, typename = void>
struct WireSize {
  static constexpr size_t value = 1;
};
template <typename T>
struct WireSize<T, std::enable_if_t<std::is_arithmetic_v<T>>> {
  static constexpr size_t value = sizeof(T);
};
template <typename T, size_t N>
struct WireSize<std::array<T, N>> {
  static constexpr size_t value = 1 + N * WireSize<T>::value;
};

// The bare reader behind the fast pass over a payload in one slice: nothing
// but bounds checks, and no failure details (a failed pass is run again
// through the Deserializer for those). It always reads over the destination.
class InPlace {
 public:
  // Works on its own copy of `wire`'s cursor; `wire` learns where it ended.
  explicit InPlace(zenoh::ext::WireReader& wire) noexcept : wire_(wire), payload_size_(wire.left()) {}
  zenoh::ext::WireReader& reader() noexcept { return wire_; }

  template <typename T>
  bool read(T& v) noexcept {
    return wire_.read(v);
  }
  template <typename T>
  bool read_n(T* out, size_t n) noexcept {
    return wire_.read_n(out, n);
  }
  template <typename T>
  bool try_read_fixed(T* out, size_t n) noexcept {
    return wire_.try_fixed(out, n);
  }
  bool read_sequence_length(size_t& n, size_t min_element_size = 1) noexcept {
    return wire_.read_length(n) && (min_element_size == 0 || n <= payload_size_ / min_element_size);
  }
  bool read_string(std::string& s) {
    const uint8_t* data = nullptr;
    size_t len = 0;
    if (!wire_.read_string(data, len)) return false;
    s.assign(reinterpret_cast<const char*>(data), len);
    return true;
  }
  bool fail(zenoh::ZResult, const char*) noexcept { return false; }
  bool reuses_storage() const noexcept { return true; }

 private:
  zenoh::ext::WireReader wire_;
  size_t payload_size_;
};

template <typename T, typename = void>
struct Des;
template <typename T, typename = void>
struct Ser;

template <typename R, typename T>
NORVIK_READ_INLINE bool Read(R& d, T& v) {
  return Des<T>::Read(d, v);
}
template <typename T>
bool Write(Serializer& s, const T& v) {
  return Ser<T>::Write(s, v);
}

template <typename T>
struct Des<T, std::enable_if_t<std::is_arithmetic_v<T>>> {
  template <typename R>
  NORVIK_READ_INLINE static bool Read(R& d, T& v) { return d.read(v); }
};
template <typename T>
struct Ser<T, std::enable_if_t<std::is_arithmetic_v<T>>> {
  static bool Write(Serializer& s, const T& v) { return s.write(v) == 0; }
};

template <>
struct Des<std::string> {
  template <typename R>
  NORVIK_READ_INLINE static bool Read(R& d, std::string& v) { return d.read_string(v); }
};
template <>
struct Ser<std::string> {
  static bool Write(Serializer& s, const std::string& v) { return s.write_string(v) == 0; }
};

// A fixed array: the prefix must equal its size.
template <typename T, size_t N>
struct Des<std::array<T, N>> {
  template <typename R>
  NORVIK_READ_INLINE static bool Read(R& d, std::array<T, N>& v) {
    if constexpr (std::is_arithmetic_v<T>) {
      if (d.try_read_fixed(v.data(), N)) return true;
    }
    size_t n = 0;
    if (!d.read_sequence_length(n, 0)) return false;
    if (n != N) return d.fail(kIncorrectSize, "Incorrect sequence size");
    if constexpr (std::is_arithmetic_v<T>) {
      return d.read_n(v.data(), N);
    } else {
      for (auto& e : v) {
        if (!serdetail::Read(d, e)) return false;
      }
      return true;
    }
  }
};
template <typename T, size_t N>
struct Ser<std::array<T, N>> {
  static bool Write(Serializer& s, const std::array<T, N>& v) {
    if (s.write_sequence_length(N) != 0) return false;
    if constexpr (std::is_arithmetic_v<T>) {
      return s.write_n(v.data(), N) == 0;
    } else {
      for (const auto& e : v) {
        if (!serdetail::Write(s, e)) return false;
      }
      return true;
    }
  }
};

// A sequence: the finished sequence replaces the field's content, or, when
// the deserializer reuses storage, is read over it.
template <typename T>
struct Des<std::vector<T>> {
  template <typename R>
  NORVIK_READ_INLINE static bool Read(R& d, std::vector<T>& v) {
    size_t n = 0;
    if (!d.read_sequence_length(n, WireSize<T>::value)) return false;
    if (d.reuses_storage()) return ReadOver(d, n, v);
    std::vector<T> out;
    if constexpr (std::is_arithmetic_v<T> && !std::is_same_v<T, bool>) {
      out.resize(n);
      if (!d.read_n(out.data(), n)) return false;
    } else {
      out.reserve(n);
      for (size_t i = 0; i < n; ++i) {
        T e{};
        if (!serdetail::Read(d, e)) return false;
        out.push_back(std::move(e));
      }
    }
    v = std::move(out);
    return true;
  }

  template <typename R>

  NORVIK_READ_INLINE static bool ReadOver(R& d, size_t n, std::vector<T>& v) {
    v.resize(n);
    if constexpr (std::is_arithmetic_v<T> && !std::is_same_v<T, bool>) {
      return d.read_n(v.data(), n);
    } else {
      for (auto& e : v) {
        if (!serdetail::Read(d, e)) return false;
      }
      return true;
    }
  }
};
template <typename T>
struct Ser<std::vector<T>> {
  static bool Write(Serializer& s, const std::vector<T>& v) {
    if (s.write_sequence_length(v.size()) != 0) return false;
    if constexpr (std::is_arithmetic_v<T> && !std::is_same_v<T, bool>) {
      return s.write_n(v.data(), v.size()) == 0;
    } else {
      for (const auto& e : v) {
        if (!serdetail::Write(s, e)) return false;
      }
      return true;
    }
  }
};

// Nested float vectors keep the inner sequences read before a failure.
template <>
struct Des<std::vector<std::vector<float>>> {
  template <typename R>
  NORVIK_READ_INLINE static bool Read(R& d, std::vector<std::vector<float>>& v) {
    size_t n = 0;
    if (!d.read_sequence_length(n)) return false;
    v.clear();
    v.reserve(n);
    for (size_t i = 0; i < n; ++i) {
      std::vector<float> inner;
      if (!serdetail::Read(d, inner)) return false;
      v.push_back(std::move(inner));
    }
    return true;
  }
};

}  // namespace norvik::zenoh_msgs::serdetail
