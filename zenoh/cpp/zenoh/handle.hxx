// One owning base for every foreign handle: moves, never copies, drops once.
#pragma once

#include <utility>

namespace zenoh::detail {

template <typename T, void (*Drop)(T*)>
class Owned {
 public:
  Owned() = default;
  explicit Owned(T* ptr) noexcept : ptr_(ptr) {}
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) {
      reset();
      ptr_ = std::exchange(other.ptr_, nullptr);
    }
    return *this;
  }
  ~Owned() { reset(); }

  T* handle() const noexcept { return ptr_; }
  T* release() noexcept { return std::exchange(ptr_, nullptr); }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }

 protected:
  void reset() noexcept {
    if (ptr_ != nullptr) Drop(std::exchange(ptr_, nullptr));
  }

 private:
  T* ptr_ = nullptr;
};

}  // namespace zenoh::detail
