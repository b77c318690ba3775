#include "client_handle.h"

#include <stdexcept>

namespace norvik::tarn::python {

ClientHandle::ClientHandle(const std::string& robot_sn, bool verbose)
    : client_(std::make_shared<const Client>(robot_sn, verbose)) {}

std::shared_ptr<const Client> ClientHandle::get() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!client_) throw std::logic_error("[norvik::tarn::Client] The client is closed");
  return client_;
}

void ClientHandle::close() {
  std::shared_ptr<const Client> last;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    last.swap(client_);
  }
  // Shutting the client down waits for Zenoh's threads; let Python run meanwhile.
  without_gil([&] {
    last.reset();
    return true;
  });
}

}  // namespace norvik::tarn::python
