// Callbacks handed to Zenoh as a call plus a drop: Zenoh owns the context and
// runs the drop exactly once, after the last call.
#pragma once

#include <memory>
#include <type_traits>
#include <utility>

namespace zenoh::detail {

template <typename Call, typename Drop>
struct Closure {
  Call call;
  Drop drop;

  // Exceptions must never unwind into Zenoh's threads.
  template <typename... Args>
  static void on_call(void* ctx, Args... args) noexcept {
    try {
      static_cast<Closure*>(ctx)->call(args...);
    } catch (...) {
    }
  }

  static void on_drop(void* ctx) noexcept {
    std::unique_ptr<Closure> self(static_cast<Closure*>(ctx));
    try {
      self->drop();
    } catch (...) {
    }
  }
};

// Moves the callables to the heap; the pointer is given to Zenoh, which frees it through on_drop.
template <typename Call, typename Drop>
auto make_closure(Call&& call, Drop&& drop) {
  using C = Closure<std::decay_t<Call>, std::decay_t<Drop>>;
  return std::make_unique<C>(C{std::forward<Call>(call), std::forward<Drop>(drop)});
}

}  // namespace zenoh::detail
