// A payload's bytes in one piece, for the deserializer: its one slice where
// it lies (every stream sample that fits a batch), or a copy of its slices.
#pragma once

#include <cstdint>
#include <vector>

#include "zenoh/bytes.hxx"
#include "zenoh/exception.hxx"

namespace zenoh::ext {

class ContiguousPayload {
 public:
  // The payload must outlive this. Throws ZException for a missing payload.
  explicit ContiguousPayload(BytesView payload) {
    if (payload.raw() == nullptr) throw ZException("Failed to create deserializer", NZ_ENULL);
    if (nz_bytes_contiguous(payload.raw(), &data_, &size_)) return;
    copy_.resize(payload.size());
    size_ = nz_bytes_copy_to(payload.raw(), copy_.data(), copy_.size());
    data_ = copy_.data();
  }
  ContiguousPayload(const ContiguousPayload&) = delete;
  ContiguousPayload& operator=(const ContiguousPayload&) = delete;

  const uint8_t* data() const noexcept { return data_; }
  size_t size() const noexcept { return size_; }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  std::vector<uint8_t> copy_;
};

}  // namespace zenoh::ext
