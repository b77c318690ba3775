// One get, waited for: the calling thread blocks until the query ends, enough
// replies have come, or its deadline passes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zenoh/session.hxx"

namespace zenoh {

// `decode(bool ok, BytesView payload, std::string_view key)` runs on Zenoh's
// thread for every reply (ok is false for an error reply) and returns
// std::optional<T>: what to keep of it, or nothing. The kept values come back
// in arrival order once the query has ended, `enough` of them are kept, or
// `deadline` has passed, whichever is first. Replies that come after the call
// returned are decoded into state the call no longer reads, freed when Zenoh
// drops the query. When the get cannot be issued the result is empty and the
// code goes to `err` (or ZException is thrown without one).
template <typename T, typename Decode>
std::vector<T> get_blocking(const Session& session, const KeyExpr& ke, const std::string& parameters,
                            GetOptions&& options, std::chrono::steady_clock::time_point deadline, Decode decode,
                            size_t enough = std::numeric_limits<size_t>::max(), ZResult* err = nullptr) {
  struct State {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<T> kept;  // guarded by mutex
    bool ended = false;   // guarded by mutex
  };
  auto state = std::make_shared<State>();
  ZResult rc = NZ_OK;
  session.get(
      ke, parameters,
      [state, decode = std::move(decode)](bool ok, BytesView payload, std::string_view key) mutable {
        std::optional<T> value = decode(ok, payload, key);
        if (!value) return;
        std::lock_guard<std::mutex> lock(state->mutex);
        state->kept.push_back(std::move(*value));
        state->cv.notify_all();
      },
      [state] {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->ended = true;
        state->cv.notify_all();
      },
      std::move(options), err != nullptr ? err : &rc);
  if (rc != NZ_OK) throw ZException("Failed to perform get operation", rc);
  if (err != nullptr && *err != NZ_OK) return {};
  std::unique_lock<std::mutex> lock(state->mutex);
  state->cv.wait_until(lock, deadline, [&] { return state->ended || state->kept.size() >= enough; });
  return std::move(state->kept);
}

}  // namespace zenoh
