// The Python object behind norviktarn.Client: the library client, shared
// with every call in progress, so close() from one thread never frees it
// under a call that another thread runs with the GIL released.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <mutex>
#include <string>

#include "norvik/tarn/client.h"
#include "without_gil.h"

namespace norvik::tarn::python {

class ClientHandle {
 public:
  // Connects; call without the GIL (it waits on the network).
  ClientHandle(const std::string& robot_sn, bool verbose);

  // The client for one call. Throws std::logic_error once closed.
  std::shared_ptr<const Client> get() const;
  // Drops this object's share; the client goes when the last call using it
  // returns. Closing again does nothing.
  void close();

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const Client> client_;
};

using PyClient = pybind11::class_<ClientHandle, std::unique_ptr<ClientHandle>>;

// The registered Client class, for the files that add methods to it.
inline PyClient client_class(pybind11::module_& m) { return pybind11::reinterpret_borrow<PyClient>(m.attr("Client")); }

// Binds a Client method that only copies the latest sample: the GIL is kept.
template <auto Method>
auto held() {
  return [](const ClientHandle& self) { return ((*self.get()).*Method)(); };
}

// Binds a Client method that waits on the network: other Python threads run
// meanwhile. The result is converted once the GIL is back.
template <auto Method>
auto released() {
  return [](const ClientHandle& self) { return without_gil([&] { return ((*self.get()).*Method)(); }); };
}

}  // namespace norvik::tarn::python
