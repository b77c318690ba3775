#include "norvik/tarn/client.h"

#include <memory>
#include <string>

#include "bindings.h"

namespace py = pybind11;

namespace norvik::tarn::python {

// Each method binds the library call directly and keeps the GIL: the client's
// own threads never call into Python, and results are converted to new
// objects before the call returns. Library exceptions go through pybind11's
// standard translation (std::invalid_argument -> ValueError, other
// std::exception -> RuntimeError, ...).
void bind_client(py::module_& m) {
  py::class_<Client, std::unique_ptr<Client>> cls(m, "Client");
  cls.def(py::init<const std::string&, bool>(), py::arg("robot_sn"), py::arg("verbose") = true)
      .def("connected", &Client::connected)
      .def("groups", &Client::groups)
      .def("states", &Client::states)
      .def("actions", &Client::actions)
      .def("primitive_states", &Client::primitive_states)
      .def("configuration_score", &Client::configuration_score)
      .def("plan_info", &Client::plan_info)
      .def("estop_released", &Client::estop_released)
      .def("enabling_device_on", &Client::enabling_device_on)
      .def("digital_inputs", &Client::digital_inputs)
      .def("digital_outputs", &Client::digital_outputs)
      .def("__repr__", [](const Client&) { return std::string("<norviktarn.Client>"); });
  route_old_pickle_protocols(cls);
}

}  // namespace norvik::tarn::python
