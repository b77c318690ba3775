#include "middleware/shared_session.h"

#include <mutex>
#include <stdexcept>
#include <string>

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

// Zenoh tells the connecting side only that no endpoint answered: a refused
// TLS handshake reads like an unreachable router, and its reason is in the
// router's log alone.
std::string WithTlsHint(std::string reason) {
  for (const char* link : {"(tls/", "[tls/", "(quic/", "[quic/"}) {
    if (reason.find(link) != std::string::npos) {
      return reason +
             " If the router is up, the TLS handshake failed: the router's certificate must be signed by "
             "root_ca_certificate and name the address dialled, and with mutual TLS this program must show a "
             "certificate of the router's authority that has not expired (connect_certificate, "
             "connect_private_key, enable_mtls). The router's log gives the reason.";
    }
  }
  return reason;
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
    throw zenoh::ZException("Failed to open session with " + config.description + ": " +
                                WithTlsHint(zenoh::last_error()), rc);
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
