// A typed subscriber: decodes every sample on its key into a T, stores it in
// the owner's receive buffer and then tells the owner through a callback.
//
// Zenoh may run the handler on several threads at once (two publishers on one
// key, two links). Each sample is decoded on its own thread into storage of
// its own; storing it and notifying the owner happen under one lock, so the
// buffer is only ever written by one handler at a time and the owner always
// reads a whole sample from inside its callback. Malformed samples are
// dropped without a word: no callback, the buffer keeps the last good sample.
//
// A handler thread decodes into storage of its own and swaps it with the
// buffer, so it decodes the next sample over an earlier one's storage: at a
// steady rate decoding allocates nothing.
#pragma once

#include <spdlog/spdlog.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "msgs/codec.h"
#include "zenoh/session.hxx"

namespace norvik::zenoh_mdw {

template <typename T>
class Subscriber {
 public:
  // Throws zenoh::ZException "Failed to construct KeyExpr from: <key>" or
  // "Failed to declare Subscriber".
  Subscriber(std::shared_ptr<zenoh::Session> session, std::function<void()> callback, T& buffer,
             const std::string& key)
      : session_(std::move(session)), sink_(std::make_shared<Sink>(buffer, std::move(callback))) {
    spdlog::debug("[norvik::tarn::Client] Creating subscriber on topic: {}", key);
    const zenoh::KeyExpr ke(key, true);
    subscriber_.emplace(session_->declare_subscriber(
        ke, [sink = sink_](zenoh::BytesView payload) { sink->Handle(payload); }, [] {}));
  }

  Subscriber(const Subscriber&) = delete;
  Subscriber& operator=(const Subscriber&) = delete;
  // Undeclares first: once that returns no handler runs, so the owner's
  // buffer and callback may go.
  ~Subscriber() { subscriber_.reset(); }

  // Samples stored, and samples dropped because they did not decode.
  uint64_t received() const noexcept { return sink_->received.load(std::memory_order_relaxed); }
  uint64_t malformed() const noexcept { return sink_->malformed.load(std::memory_order_relaxed); }

 private:
  struct Sink {
    Sink(T& b, std::function<void()> cb) : buffer(b), callback(std::move(cb)) {}

    void Handle(zenoh::BytesView payload) noexcept {
      try {
        // This thread's storage of an earlier sample; after a failed decode
        // it holds a mix, which the next good one overwrites whole.
        static thread_local T scratch{};
        if (zenoh::ext::deserialize_into(payload, scratch) != NZ_OK) {
          malformed.fetch_add(1, std::memory_order_relaxed);
          return;
        }
        std::lock_guard<std::mutex> lock(mutex);
        std::swap(buffer, scratch);
        received.fetch_add(1, std::memory_order_relaxed);
        callback();
      } catch (...) {
      }
    }

    T& buffer;
    std::function<void()> callback;
    std::mutex mutex;
    std::atomic<uint64_t> received{0};
    std::atomic<uint64_t> malformed{0};
  };

  std::shared_ptr<zenoh::Session> session_;
  std::shared_ptr<Sink> sink_;
  std::optional<zenoh::Subscriber> subscriber_;
};

}  // namespace norvik::zenoh_mdw
