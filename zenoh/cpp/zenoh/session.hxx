// Configuration and session; the session declares everything else.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "zenoh/bytes.hxx"
#include "zenoh/closures.hxx"
#include "zenoh/entities.hxx"
#include "zenoh/exception.hxx"
#include "zenoh/handle.hxx"
#include "zenoh/keyexpr.hxx"

namespace zenoh {

// Zenoh's reason for the calling thread's last failed configuration or open call.
inline std::string last_error() {
  const char* text = nz_last_error();
  return text == nullptr ? std::string() : std::string(text);
}

class Config : public detail::Owned<NzConfig, nz_config_drop> {
 public:
  static Config create_default(ZResult* err = nullptr) {
    NzConfig* out = nullptr;
    detail::check(nz_config_default(&out), "Failed to create default configuration", err);
    return Config(out);
  }

  // A JSON5, JSON or YAML file, by its extension; the exception carries Zenoh's reason.
  static Config from_file(const std::string& path, ZResult* err = nullptr) {
    NzConfig* out = nullptr;
    const ZResult rc = nz_config_from_file(&out, path.c_str());
    detail::check(rc, rc == NZ_OK ? "" : last_error().c_str(), err);
    return Config(out);
  }

  static Config from_json5(const std::string& text, ZResult* err = nullptr) {
    NzConfig* out = nullptr;
    const ZResult rc = nz_config_from_json5(&out, text.c_str());
    detail::check(rc, rc == NZ_OK ? "" : last_error().c_str(), err);
    return Config(out);
  }

  // Sets `key` (such as "connect/endpoints") to a JSON5 value.
  void insert_json5(const std::string& key, const std::string& value, ZResult* err = nullptr) {
    const ZResult rc = nz_config_insert_json5(handle(), key.c_str(), value.c_str());
    detail::check(rc, rc == NZ_OK ? "" : last_error().c_str(), err);
  }

  // The value at `key` as JSON text.
  std::string get_json(const std::string& key) const {
    const intptr_t n = nz_config_get_json(handle(), key.c_str(), nullptr, 0);
    if (n < 0) throw ZException(last_error(), static_cast<ZResult>(n));
    std::string text(static_cast<size_t>(n) + 1, '\0');
    nz_config_get_json(handle(), key.c_str(), text.data(), text.size());
    text.resize(static_cast<size_t>(n));
    return text;
  }

 private:
  explicit Config(NzConfig* c) noexcept : Owned(c) {}
};

enum class Priority : uint8_t { RealTime = 1, InteractiveHigh = 2, InteractiveLow = 3, DataHigh = 4, Data = 5, DataLow = 6, Background = 7 };
enum class CongestionControl : uint8_t { Drop = 0, Block = 1 };

struct GetOptions {
  std::optional<Bytes> payload;
  bool zenoh_serialized_encoding = false;
  uint64_t timeout_ms = 10000;
  Priority priority = Priority::Data;
  CongestionControl congestion_control = CongestionControl::Block;
  // Every matching queryable, every reply as it comes (no consolidation).
  bool all_replies = false;
};

namespace detail {
inline void close_session(NzSession* s) { nz_close(s); }
}  // namespace detail

// Thread-safe: every method may be called from any thread.
class Session : public detail::Owned<NzSession, detail::close_session> {
 public:
  // The exception's text is "Failed to open session"; Zenoh's reason is in last_error().
  static Session open(Config&& config, ZResult* err = nullptr) {
    NzSession* out = nullptr;
    const ZResult rc = nz_open(&out, config.release());
    detail::check(rc, "Failed to open session", err);
    return Session(out);
  }

  // on_sample(BytesView) per sample on a Zenoh thread; on_drop() once when released.
  template <typename OnSample, typename OnDrop>
  [[nodiscard]] Subscriber declare_subscriber(const KeyExpr& ke, OnSample&& on_sample, OnDrop&& on_drop,
                                              ZResult* err = nullptr) const {
    auto closure = detail::make_closure(
        [f = std::forward<OnSample>(on_sample)](const NzBytes* p) mutable { f(BytesView(p)); },
        std::forward<OnDrop>(on_drop));
    using C = typename decltype(closure)::element_type;
    NzSubscriber* out = nullptr;
    auto calls_done = closure->calls_done;
    const ZResult rc = nz_declare_subscriber(&out, handle(), ke.handle(), &C::template on_call<const NzBytes*>,
                                             &C::on_drop, closure.release());
    detail::check(rc, "Failed to declare Subscriber", err);
    return Subscriber(out, std::move(calls_done));
  }

  // Queries the selector `ke`?`parameters`. on_reply(bool ok, BytesView) or
  // on_reply(bool ok, BytesView, std::string_view key) per reply; on_drop()
  // once when the query ends.
  template <typename OnReply, typename OnDrop>
  void get(const KeyExpr& ke, const std::string& parameters, OnReply&& on_reply, OnDrop&& on_drop,
           GetOptions&& options, ZResult* err = nullptr) const {
    auto closure = detail::make_closure(
        [f = std::forward<OnReply>(on_reply)](bool ok, const NzBytes* p, const char* key, size_t key_len) mutable {
          if constexpr (std::is_invocable_v<OnReply&, bool, BytesView, std::string_view>) {
            f(ok, BytesView(p), std::string_view(key == nullptr ? "" : key, key == nullptr ? 0 : key_len));
          } else {
            f(ok, BytesView(p));
          }
        },
        std::forward<OnDrop>(on_drop));
    using C = typename decltype(closure)::element_type;
    NzGetOptions raw{options.payload ? options.payload->release() : nullptr, options.zenoh_serialized_encoding,
                     options.timeout_ms, static_cast<uint8_t>(options.priority),
                     options.congestion_control == CongestionControl::Block, options.all_replies,
                     parameters.data(), parameters.size()};
    const ZResult rc = nz_get(handle(), ke.handle(), &raw, &C::template on_call<bool, const NzBytes*, const char*, size_t>,
                              &C::on_drop, closure.release());
    detail::check(rc, "Failed to perform get operation", err);
  }

  // on_query(QueryView) per query on a Zenoh thread; on_drop() once when released.
  template <typename OnQuery, typename OnDrop>
  [[nodiscard]] Queryable declare_queryable(const KeyExpr& ke, OnQuery&& on_query, OnDrop&& on_drop,
                                            ZResult* err = nullptr) const {
    auto closure = detail::make_closure(
        [f = std::forward<OnQuery>(on_query)](const NzQuery* q) mutable { f(QueryView(q)); },
        std::forward<OnDrop>(on_drop));
    using C = typename decltype(closure)::element_type;
    NzQueryable* out = nullptr;
    auto calls_done = closure->calls_done;
    const ZResult rc = nz_declare_queryable(&out, handle(), ke.handle(), &C::template on_call<const NzQuery*>,
                                            &C::on_drop, closure.release());
    detail::check(rc, "Failed to declare Queryable", err);
    return Queryable(out, std::move(calls_done));
  }

  [[nodiscard]] Publisher declare_publisher(const KeyExpr& ke, ZResult* err = nullptr) const {
    NzPublisher* out = nullptr;
    detail::check(nz_declare_publisher(&out, handle(), ke.handle()), "Failed to declare Publisher", err);
    return Publisher(out);
  }

  // Closes now and reports the error; the destructor closes silently otherwise.
  ZResult close() noexcept { return handle() == nullptr ? NZ_OK : nz_close(release()); }

 private:
  explicit Session(NzSession* s) noexcept : Owned(s) {}
};

}  // namespace zenoh
