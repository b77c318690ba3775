// Declared entities: subscribers, queryables, publishers and kept queries.
#pragma once

#include "zenoh/bytes.hxx"
#include "zenoh/exception.hxx"
#include "zenoh/handle.hxx"

namespace zenoh {

namespace detail {
inline void undeclare_subscriber(NzSubscriber* s) { nz_undeclare_subscriber(s); }
inline void undeclare_queryable(NzQueryable* q) { nz_undeclare_queryable(q); }
inline void undeclare_publisher(NzPublisher* p) { nz_undeclare_publisher(p); }
}  // namespace detail

// Undeclared on destruction; once that returns, none of its callbacks runs.
class Subscriber : public detail::Owned<NzSubscriber, detail::undeclare_subscriber> {
 public:
  explicit Subscriber(NzSubscriber* s) noexcept : Owned(s) {}
  ZResult undeclare() noexcept { return handle() == nullptr ? NZ_OK : nz_undeclare_subscriber(release()); }
};

// Undeclared on destruction; once that returns, none of its callbacks runs.
class Queryable : public detail::Owned<NzQueryable, detail::undeclare_queryable> {
 public:
  explicit Queryable(NzQueryable* q) noexcept : Owned(q) {}
  ZResult undeclare() noexcept { return handle() == nullptr ? NZ_OK : nz_undeclare_queryable(release()); }
};

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
