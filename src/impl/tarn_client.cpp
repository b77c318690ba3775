#include "impl/tarn_client.h"

#include <spdlog/spdlog.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "middleware/shared_session.h"

namespace norvik::tarn_impl {

namespace {
constexpr int kProbes = 3;
constexpr auto kProbeWindow = std::chrono::milliseconds(static_cast<int>(kProbeTimeoutS * 1000));
}  // namespace

TARNClient::TARNClient(bool verbose)
    : reliable_node_{zenoh_mdw::GetSharedZenohSession()},
      realtime_node_{zenoh_mdw::GetSharedZenohSession()},
      verbose_(verbose) {}

TARNClient::~TARNClient() {
  spdlog::info(">>>>> Norvik TARN exited <<<<<");
  // Members go in reverse order: the request client, then the subscribers,
  // then the realtime node's share and the reliable node's.
}

ozr::OzrState TARNClient::InitMiddleware(const std::string& serial) {
  spdlog::debug("[norvik::tarn::Client] Starting communication services ...");
  const ozr::OzrState stream = data_stream_.Init(realtime_node_, serial);
  if (stream.code() >= ozr::OZR_GENERAL_FAULT) return stream;
  const ozr::OzrState rpc = data_rpc_.Init(reliable_node_, serial);
  if (rpc.code() >= ozr::OZR_GENERAL_FAULT) return rpc;
  spdlog::debug("[norvik::tarn::Client] Communication services started");
  return ozr::MakeOzrState(ozr::OZR_GENERAL_OK);
}

void TARNClient::Init(const std::string& serial) {
  if (InitMiddleware(serial).code() != ozr::OZR_GENERAL_OK) {
    throw std::runtime_error("[norvik::tarn::Client] Failed to start communication services");
  }
  if (verbose_) spdlog::info("[norvik::tarn::Client] Searching for [{}] ...", serial);
  // A probe can end at once, unanswered, while this session has not yet
  // learnt the robot's queryable (the robot just came up, or the session was
  // already open). Each probe therefore keeps its full second before the next.
  bool connected = false;
  for (int attempt = 0; attempt < kProbes && !connected; ++attempt) {
    const auto window_end = std::chrono::steady_clock::now() + kProbeWindow;
    connected = IsConnected();
    if (!connected && attempt + 1 < kProbes) std::this_thread::sleep_until(window_end);
  }
  if (!connected) {
    throw std::runtime_error(
        "[norvik::tarn::Client] Failed to connect to [" + serial +
        "]. Please check that: a) Ethernet connection with the target robot is established; b) The specified serial "
        "number of the target robot is correct; c) No firewall is active or this TARN program is whitelisted; d) TARN "
        "version is compatible with the target robot's software version");
  }
  spdlog::info("[norvik::tarn::Client] Connected to the robot");
}

bool TARNClient::IsConnected() { return data_rpc_.IsConnected(); }

}  // namespace norvik::tarn_impl
