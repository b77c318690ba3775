// Payload bytes: an owned payload and a borrowed view of one.
#pragma once

#include <cstdint>
#include <vector>

#include "zenoh/exception.hxx"
#include "zenoh/handle.hxx"

namespace zenoh {

// A payload Zenoh lends for the duration of a callback.
class BytesView {
 public:
  explicit BytesView(const NzBytes* bytes) noexcept : bytes_(bytes) {}

  const NzBytes* raw() const noexcept { return bytes_; }
  size_t size() const noexcept { return bytes_ == nullptr ? 0 : nz_bytes_len(bytes_); }
  std::vector<uint8_t> as_vector() const {
    std::vector<uint8_t> out(size());
    if (!out.empty()) nz_bytes_copy_to(bytes_, out.data(), out.size());
    return out;
  }

 private:
  const NzBytes* bytes_;
};

class Bytes : public detail::Owned<NzBytes, nz_bytes_drop> {
 public:
  Bytes() = default;
  explicit Bytes(NzBytes* bytes) noexcept : Owned(bytes) {}
  explicit Bytes(const std::vector<uint8_t>& data) : Bytes(data.data(), data.size()) {}
  Bytes(const uint8_t* data, size_t len) {
    NzBytes* out = nullptr;
    detail::check(nz_bytes_copy_from(&out, data, len), "Failed to create bytes", nullptr);
    *this = Bytes(out);
  }

  BytesView view() const noexcept { return BytesView(handle()); }
  size_t size() const noexcept { return view().size(); }
  std::vector<uint8_t> as_vector() const { return view().as_vector(); }
};

}  // namespace zenoh
