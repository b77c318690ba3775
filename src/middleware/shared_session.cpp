#include "middleware/shared_session.h"

#include <mutex>

namespace norvik::zenoh_mdw {

std::shared_ptr<zenoh::Session> GetSharedZenohSession() {
  static std::mutex mutex;
  static std::weak_ptr<zenoh::Session> current;

  std::lock_guard<std::mutex> lock(mutex);
  if (auto session = current.lock()) return session;
  auto config = zenoh::Config::create_default();
  auto session = std::make_shared<zenoh::Session>(zenoh::Session::open(std::move(config)));
  current = session;
  return session;
}

}  // namespace norvik::zenoh_mdw
