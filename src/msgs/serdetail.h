// Element readers and writers of the TARN message formats, on top of the
// zenoh-ext serializer. Runs of numbers cross into zenoh-ext once per run.
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

template <typename T>
bool Read(Deserializer& d, T& v) {
  return Des<T>::Read(d, v);
}
template <typename T>
bool Write(Serializer& s, const T& v) {
  return Ser<T>::Write(s, v);
}

template <typename T>
struct Des<T, std::enable_if_t<std::is_arithmetic_v<T>>> {
  static bool Read(Deserializer& d, T& v) { return d.read(v); }
};
template <typename T>
struct Ser<T, std::enable_if_t<std::is_arithmetic_v<T>>> {
  static bool Write(Serializer& s, const T& v) { return s.write(v) == 0; }
};

template <>
struct Des<std::string> {
  static bool Read(Deserializer& d, std::string& v) { return d.read_string(v); }
};
template <>
struct Ser<std::string> {
  static bool Write(Serializer& s, const std::string& v) { return s.write_string(v) == 0; }
};

// A fixed array: the prefix must equal its size.
template <typename T, size_t N>
struct Des<std::array<T, N>> {
  static bool Read(Deserializer& d, std::array<T, N>& v) {
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

// A sequence: the finished sequence replaces the field's content.
template <typename T>
struct Des<std::vector<T>> {
  static bool Read(Deserializer& d, std::vector<T>& v) {
    size_t n = 0;
    if (!d.read_sequence_length(n, WireSize<T>::value)) return false;
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
  static bool Read(Deserializer& d, std::vector<std::vector<float>>& v) {
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
