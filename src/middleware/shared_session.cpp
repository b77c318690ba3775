#include "middleware/shared_session.h"

#include <mutex>
#include <stdexcept>

namespace norvik::zenoh_mdw {

namespace {

struct SharedState {
  std::mutex mutex;
  std::weak_ptr<zenoh::Session> current;
  std::optional<SessionConfig> chosen;  // empty: the environment's
};

SharedState& State() {
  static SharedState state;
  return state;
}

}  // namespace

std::shared_ptr<zenoh::Session> GetSharedZenohSession() {
  auto& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (auto session = state.current.lock()) return session;
  const SessionConfig config = state.chosen ? *state.chosen : SessionConfig::FromEnvironment();
  zenoh::Config built = MakeZenohConfig(config);
  if (config.IsDefaults()) {
    auto session = std::make_shared<zenoh::Session>(zenoh::Session::open(std::move(built)));
    state.current = session;
    return session;
  }
  zenoh::ZResult rc = NZ_OK;
  zenoh::Session opened = zenoh::Session::open(std::move(built), &rc);
  if (rc != NZ_OK) {
    throw zenoh::ZException("Failed to open session with " + config.description + ": " + zenoh::last_error(), rc);
  }
  auto session = std::make_shared<zenoh::Session>(std::move(opened));
  state.current = session;
  return session;
}

void SetSessionConfig(std::optional<SessionConfig> config) {
  auto& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (!state.current.expired()) {
    throw std::logic_error(
        "The Zenoh session is already open: choose its configuration before the first client connects, or once "
        "every client is gone");
  }
  state.chosen = std::move(config);
}

SessionConfig NextSessionConfig() {
  auto& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.chosen ? *state.chosen : SessionConfig::FromEnvironment();
}

bool SharedSessionOpen() {
  auto& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return !state.current.expired();
}

}  // namespace norvik::zenoh_mdw
