// The handles through which the data access layer reaches the shared session.
#pragma once

#include <memory>

#include "zenoh/session.hxx"

namespace norvik::zenoh_mdw {

// The stream side's handle.
struct RealtimeNode {
  std::shared_ptr<zenoh::Session> session;
};

// The request side's handle.
struct ReliableNode {
  std::shared_ptr<zenoh::Session> session;
};

}  // namespace norvik::zenoh_mdw
