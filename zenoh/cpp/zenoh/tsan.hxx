// Tells ThreadSanitizer about synchronisation that happens inside the Rust
// layer, which it cannot see: handing a callback's context to Zenoh's
// threads, and undeclare waiting for running callbacks. Nothing otherwise.
#pragma once

#if defined(__SANITIZE_THREAD__)
#define NZ_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define NZ_TSAN 1
#endif
#endif

#ifdef NZ_TSAN
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace zenoh::detail {

inline void HappensBefore(const void* addr) noexcept {
#ifdef NZ_TSAN
  __tsan_release(const_cast<void*>(addr));
#else
  (void)addr;
#endif
}

inline void HappensAfter(const void* addr) noexcept {
#ifdef NZ_TSAN
  __tsan_acquire(const_cast<void*>(addr));
#else
  (void)addr;
#endif
}

}  // namespace zenoh::detail
