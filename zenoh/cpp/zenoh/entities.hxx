// Declared entities: subscribers, queryables, publishers and kept queries.
#pragma once

#include <string_view>
#include <utility>

#include "zenoh/bytes.hxx"
#include "zenoh/closures.hxx"
#include "zenoh/exception.hxx"
#include "zenoh/handle.hxx"

namespace zenoh {

// An entity with callbacks: undeclared on destruction, and once that returns
// none of its callbacks runs or will run.
template <typename T, ZResult (*Undeclare)(T*)>
class CallbackEntity {
 public:
  CallbackEntity(T* handle, detail::CallsDone calls_done) noexcept
      : handle_(handle), calls_done_(std::move(calls_done)) {}
  CallbackEntity(const CallbackEntity&) = delete;
  CallbackEntity& operator=(const CallbackEntity&) = delete;
  CallbackEntity(CallbackEntity&& other) noexcept
      : handle_(std::exchange(other.handle_, nullptr)), calls_done_(std::move(other.calls_done_)) {}
  CallbackEntity& operator=(CallbackEntity&& other) noexcept {
    if (this != &other) {
      undeclare();
      handle_ = std::exchange(other.handle_, nullptr);
      calls_done_ = std::move(other.calls_done_);
    }
    return *this;
  }
  ~CallbackEntity() { undeclare(); }

  explicit operator bool() const noexcept { return handle_ != nullptr; }

  ZResult undeclare() noexcept {
    if (handle_ == nullptr) return NZ_OK;
    const ZResult rc = Undeclare(std::exchange(handle_, nullptr));
    detail::HappensAfter(calls_done_.get());
    return rc;
  }

 private:
  T* handle_;
  detail::CallsDone calls_done_;
};

using Subscriber = CallbackEntity<NzSubscriber, nz_undeclare_subscriber>;
using Queryable = CallbackEntity<NzQueryable, nz_undeclare_queryable>;

namespace detail {
inline void undeclare_publisher(NzPublisher* p) { nz_undeclare_publisher(p); }
}  // namespace detail

class Publisher : public detail::Owned<NzPublisher, detail::undeclare_publisher> {
 public:
  explicit Publisher(NzPublisher* p) noexcept : Owned(p) {}
  ZResult put(Bytes&& payload) const noexcept { return nz_publisher_put(handle(), payload.release()); }
};

// A query borrowed inside a queryable's callback.
class QueryView {
 public:
  explicit QueryView(const NzQuery* q) noexcept : q_(q) {}
  const NzQuery* raw() const noexcept { return q_; }
  BytesView payload() const noexcept { return BytesView(nz_query_payload(q_)); }
  std::string_view parameters() const noexcept {
    size_t len = 0;
    const char* text = nz_query_parameters(q_, &len);
    return {text, len};
  }
  ZResult reply(Bytes&& payload, bool zenoh_serialized = true) const noexcept {
    return nz_query_reply(q_, payload.release(), zenoh_serialized);
  }
  ZResult reply_err(Bytes&& payload) const noexcept { return nz_query_reply_err(q_, payload.release()); }

 private:
  const NzQuery* q_;
};

// A query kept past its callback; the query ends when the last one goes.
class Query : public detail::Owned<NzQuery, nz_query_drop> {
 public:
  explicit Query(const QueryView& view) {
    NzQuery* out = nullptr;
    detail::check(nz_query_clone(&out, view.raw()), "Failed to keep query", nullptr);
    *this = Query(out);
  }
  QueryView view() const noexcept { return QueryView(handle()); }

 private:
  explicit Query(NzQuery* q) noexcept : Owned(q) {}
};

}  // namespace zenoh
