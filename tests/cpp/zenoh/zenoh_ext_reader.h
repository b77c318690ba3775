// zenoh-ext's own reader (the test-only norvik_zenoh_ext_check library) with
// zenoh::ext::Deserializer's interface, so that the message readers run over
// it too and the library's reader can be checked against it on the same
// bytes: values, codes, texts and partly filled records.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <type_traits>
#include <vector>

#include "msgs/fields.h"
#include "zenoh/exception.hxx"
#include "zenoh_ext_check.h"

namespace norvik::test {

class ZenohExtReader {
 public:
  ZenohExtReader(ExtCheckReader* reader, size_t payload_size) noexcept : r_(reader), payload_size_(payload_size) {}

  bool ok() const noexcept { return status_ == NZ_OK; }
  zenoh::ZResult status() const noexcept { return status_; }
  const char* error_text() const noexcept { return text_; }
  bool is_done() const noexcept { return ext_check_done(r_); }

  // Keeps the first failure; after it every read fails.
  bool fail(zenoh::ZResult code, const char* text) noexcept {
    if (ok()) {
      status_ = code;
      text_ = text;
    }
    return false;
  }

  template <typename T>
  bool read(T& v) noexcept {
    return ok() && take(ext_check_value(r_, Kind<T>(), &v));
  }
  template <typename T>
  bool read_n(T* out, size_t n) noexcept {
    return ok() && take(ext_check_values(r_, Kind<T>(), out, n));
  }
  // zenoh-ext has no short cut for fixed arrays: always the general path.
  template <typename T>
  bool try_read_fixed(T*, size_t) noexcept {
    return false;
  }
  // The library's bound on lengths applies to both readers alike.
  bool read_sequence_length(size_t& n, size_t min_element_size = 1) noexcept {
    if (!ok()) return false;
    const zenoh::ZResult rc = ext_check_sequence_length(r_, &n);
    if (rc != NZ_OK || (min_element_size > 0 && n > payload_size_ / min_element_size)) {
      return fail(rc != NZ_OK ? rc : NZ_EDESERIALIZE, "Deserialization failure:: Failed to read sequence length");
    }
    return true;
  }
  bool read_string(std::string& s) {
    const uint8_t* data = nullptr;
    size_t len = 0;
    if (!ok() || !take(ext_check_string(r_, &data, &len))) return false;
    s.assign(reinterpret_cast<const char*>(data), len);
    return true;
  }

 private:
  template <typename T>
  static constexpr uint8_t Kind() {
    if constexpr (std::is_same_v<T, uint8_t>) {
      return EXT_CHECK_U8;
    } else if constexpr (std::is_same_v<T, uint16_t>) {
      return EXT_CHECK_U16;
    } else if constexpr (std::is_same_v<T, int16_t>) {
      return EXT_CHECK_I16;
    } else if constexpr (std::is_same_v<T, uint32_t>) {
      return EXT_CHECK_U32;
    } else if constexpr (std::is_same_v<T, int32_t>) {
      return EXT_CHECK_I32;
    } else if constexpr (std::is_same_v<T, float>) {
      return EXT_CHECK_F32;
    } else if constexpr (std::is_same_v<T, double>) {
      return EXT_CHECK_F64;
    } else {
      static_assert(std::is_same_v<T, bool>, "a value zenoh-ext reads");
      return EXT_CHECK_BOOL;
    }
  }
  bool take(zenoh::ZResult rc) noexcept { return rc == NZ_OK || fail(rc, "Deserialization failure"); }

  ExtCheckReader* r_;
  size_t payload_size_;
  zenoh::ZResult status_ = NZ_OK;
  const char* text_ = "";
};

// Runs `read(ZenohExtReader&)` over a copy of `size` bytes at `data`. What
// `read` throws is thrown here, once zenoh-ext's frames are left.
template <typename F>
void WithZenohExt(const uint8_t* data, size_t size, F&& read) {
  struct Call {
    F& read;
    size_t size;
    std::exception_ptr error;
  } call{read, size, nullptr};
  ext_check_read_payload(
      data, size,
      [](void* ctx, ExtCheckReader* r) {
        auto& c = *static_cast<Call*>(ctx);
        try {
          ZenohExtReader reader(r, c.size);
          c.read(reader);
        } catch (...) {
          c.error = std::current_exception();
        }
      },
      &call);
  if (call.error) std::rethrow_exception(call.error);
}

// What zenoh::ext::deserialize<T>(payload, &err) gives, read by zenoh-ext.
template <typename T>
struct ZenohExtDecoded {
  T value{};
  zenoh::ZResult code = NZ_OK;
  std::string text;
};

template <typename T>
ZenohExtDecoded<T> DecodeWithZenohExt(const uint8_t* data, size_t size) {
  ZenohExtDecoded<T> out;
  WithZenohExt(data, size, [&out](ZenohExtReader& d) {
    if (zenoh_msgs::serdetail::Read(d, out.value) && !d.is_done()) {
      d.fail(NZ_EDESERIALIZE, "Payload contains more bytes than required for deserialization");
    }
    out.code = d.status();
    out.text = d.error_text();
  });
  return out;
}

template <typename T>
ZenohExtDecoded<T> DecodeWithZenohExt(const std::vector<uint8_t>& bytes) {
  return DecodeWithZenohExt<T>(bytes.data(), bytes.size());
}

}  // namespace norvik::test
