// The one Zenoh session of the process, shared by every node.
#pragma once

#include <memory>

#include "zenoh/session.hxx"

namespace norvik::zenoh_mdw {

// Returns a share of the process-wide session, opening it with Zenoh's
// default configuration when no share is alive. Thread-safe. Throws
// zenoh::ZException ("Failed to create default configuration",
// "Failed to open session") or std::system_error.
std::shared_ptr<zenoh::Session> GetSharedZenohSession();

}  // namespace norvik::zenoh_mdw
