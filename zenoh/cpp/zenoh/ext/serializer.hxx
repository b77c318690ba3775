// The zenoh-ext serializer. Every byte it writes comes from zenoh-ext.
#pragma once

#include <cstdint>
#include <string_view>

#include "zenoh/bytes.hxx"
#include "zenoh/exception.hxx"
#include "zenoh/handle.hxx"

namespace zenoh::ext {

class Serializer : public detail::Owned<NzSerializer, nz_serializer_drop> {
 public:
  Serializer() {
    NzSerializer* out = nullptr;
    detail::check(nz_serializer_new(&out), "Failed to create serializer", nullptr);
    *static_cast<Owned*>(this) = Owned(out);
  }

  // Each write returns Zenoh's result code; 0 is success.
  ZResult write(uint8_t v) noexcept { return nz_ser_u8(handle(), v); }
  ZResult write(uint16_t v) noexcept { return nz_ser_u16(handle(), v); }
  ZResult write(int16_t v) noexcept { return nz_ser_i16(handle(), v); }
  ZResult write(uint32_t v) noexcept { return nz_ser_u32(handle(), v); }
  ZResult write(int32_t v) noexcept { return nz_ser_i32(handle(), v); }
  ZResult write(float v) noexcept { return nz_ser_f32(handle(), v); }
  ZResult write(double v) noexcept { return nz_ser_f64(handle(), v); }
  ZResult write(bool v) noexcept { return nz_ser_bool(handle(), v); }
  ZResult write_n(const uint8_t* d, size_t n) noexcept { return nz_ser_u8_n(handle(), d, n); }
  ZResult write_n(const uint16_t* d, size_t n) noexcept { return nz_ser_u16_n(handle(), d, n); }
  ZResult write_n(const int16_t* d, size_t n) noexcept { return nz_ser_i16_n(handle(), d, n); }
  ZResult write_n(const uint32_t* d, size_t n) noexcept { return nz_ser_u32_n(handle(), d, n); }
  ZResult write_n(const int32_t* d, size_t n) noexcept { return nz_ser_i32_n(handle(), d, n); }
  ZResult write_n(const float* d, size_t n) noexcept { return nz_ser_f32_n(handle(), d, n); }
  ZResult write_n(const double* d, size_t n) noexcept { return nz_ser_f64_n(handle(), d, n); }
  ZResult write_n(const bool* d, size_t n) noexcept { return nz_ser_bool_n(handle(), d, n); }
  ZResult write_sequence_length(size_t n) noexcept { return nz_ser_seq_len(handle(), n); }
  ZResult write_string(std::string_view s) noexcept {
    return nz_ser_string(handle(), reinterpret_cast<const uint8_t*>(s.data()), s.size());
  }

  // Ends serialization; the serializer is empty afterwards.
  Bytes finish() && {
    NzBytes* out = nullptr;
    detail::check(nz_serializer_finish(release(), &out), "Failed to finish serialization", nullptr);
    return Bytes(out);
  }
};

}  // namespace zenoh::ext
