// Callbacks handed to Zenoh as a call plus a drop: Zenoh owns the context and
// runs the drop exactly once, after the last call.
#pragma once

#include <memory>
#include <type_traits>
#include <utility>

#include "zenoh/tsan.hxx"

namespace zenoh::detail {

// Shared by a closure and the entity it serves: every call ends with a
// release on it, and the entity acquires it once undeclaring has waited for
// the running calls.
using CallsDone = std::shared_ptr<const char>;

template <typename Call, typename Drop>
struct Closure {
  Call call;
  Drop drop;
  CallsDone calls_done;

  // Exceptions must never unwind into Zenoh's threads.
  template <typename... Args>
  static void on_call(void* ctx, Args... args) noexcept {
    HappensAfter(ctx);
    auto* self = static_cast<Closure*>(ctx);
    try {
      self->call(args...);
    } catch (...) {
    }
    HappensBefore(self->calls_done.get());
  }

  static void on_drop(void* ctx) noexcept {
    HappensAfter(ctx);
    std::unique_ptr<Closure> self(static_cast<Closure*>(ctx));
    HappensAfter(self->calls_done.get());  // the last call is over
    try {
      self->drop();
    } catch (...) {
    }
  }
};

// Moves the callables to the heap; release() the result to hand it to Zenoh,
// which frees it through on_drop.
template <typename Call, typename Drop>
auto make_closure(Call&& call, Drop&& drop) {
  using C = Closure<std::decay_t<Call>, std::decay_t<Drop>>;
  auto closure = std::make_unique<C>(
      C{std::forward<Call>(call), std::forward<Drop>(drop), std::make_shared<const char>('\0')});
  HappensBefore(closure.get());
  return closure;
}

}  // namespace zenoh::detail
