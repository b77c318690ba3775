// Element readers and writers of the TARN message formats, on top of the
// zenoh-ext serializer and zenoh::ext::Deserializer. Readers are templates on
// the reader, so that the tests can run them over zenoh-ext's own as well.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "zenoh/ext/deserializer.hxx"
#include "zenoh/ext/serializer.hxx"

namespace norvik::zenoh_msgs::serdetail {

using zenoh::ext::Deserializer;
using zenoh::ext::Serializer;

inline constexpr zenoh::ZResult kIncorrectSize = -7;

// A message is read in one function, so the reader's cursor stays in a
// register rather than being reloaded after every copy.
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

// A sequence is read over the field, reusing its storage; one that fails
// partway is left empty, as it was in a fresh record.
template <typename T>
struct Des<std::vector<T>> {
  template <typename R>
  NORVIK_READ_INLINE static bool Read(R& d, std::vector<T>& v) {
    size_t n = 0;
    if (!d.read_sequence_length(n, WireSize<T>::value)) return false;
    v.resize(n);
    if (ReadOver(d, v)) return true;
    v.clear();
    return false;
  }

  template <typename R>
  NORVIK_READ_INLINE static bool ReadOver(R& d, std::vector<T>& v) {
    if constexpr (std::is_arithmetic_v<T> && !std::is_same_v<T, bool>) {
      return d.read_n(v.data(), v.size());
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
