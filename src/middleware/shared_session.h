// The one Zenoh session of the process, shared by every node.
#pragma once

#include <memory>
#include <optional>

#include "middleware/session_config.h"
#include "zenoh/session.hxx"

namespace norvik::zenoh_mdw {

// Returns a share of the process-wide session, opening it when no share is
// alive: with the configuration chosen by SetSessionConfig, else with the
// file ZENOH_CONFIG names, else with Zenoh's default configuration.
// Thread-safe. Throws zenoh::ZException (with the defaults: "Failed to
// create default configuration", "Failed to open session"; otherwise a text
// naming the configuration with Zenoh's reason) or std::system_error.
std::shared_ptr<zenoh::Session> GetSharedZenohSession();

// Chooses the configuration of the next session; empty goes back to the
// environment's. Throws std::logic_error while a session is open.
void SetSessionConfig(std::optional<SessionConfig> config);

// The configuration the next session opens with.
SessionConfig NextSessionConfig();

// True while a share of the session is alive.
bool SharedSessionOpen();

}  // namespace norvik::zenoh_mdw
