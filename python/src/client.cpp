#include "norvik/tarn/client.h"

#include <memory>
#include <string>

#include "bindings.h"
#include "client_handle.h"

namespace py = pybind11;

namespace norvik::tarn::python {

// The constructor and the request-backed methods wait on the network without
// the GIL; the stream accessors only copy the latest sample and keep it. The
// client's own threads never call into Python, and results are converted to
// new objects once the call is back under the GIL. Library exceptions go
// through pybind11's standard translation (std::invalid_argument ->
// ValueError, other std::exception -> RuntimeError, ...).
void bind_client(py::module_& m) {
  PyClient cls(m, "Client");
  cls.def(py::init([](const std::string& robot_sn, bool verbose) {
            return without_gil([&] { return std::make_unique<ClientHandle>(robot_sn, verbose); });
          }),
          py::arg("robot_sn"), py::arg("verbose") = true)
      .def("connected", released<&Client::connected>())
      .def("groups", held<&Client::groups>())
      .def("states", held<&Client::states>())
      .def("actions", held<&Client::actions>())
      .def("primitive_states", released<&Client::primitive_states>())
      .def("configuration_score", released<&Client::configuration_score>())
      .def("plan_info", released<&Client::plan_info>())
      .def("estop_released", held<&Client::estop_released>())
      .def("enabling_device_on", held<&Client::enabling_device_on>())
      .def("digital_inputs", held<&Client::digital_inputs>())
      .def("digital_outputs", held<&Client::digital_outputs>())
      .def("__repr__", [](const ClientHandle&) { return std::string("<norviktarn.Client>"); });
  route_old_pickle_protocols(cls);
}

void bind_client_closing(py::module_& m) {
  client_class(m)
      .def("close", [](ClientHandle& self) { self.close(); })
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](ClientHandle& self, const py::args&) { self.close(); });
}

}  // namespace norvik::tarn::python
