// What tarn and other tools build on rather than copy: the serial number as
// the keys use it, and the names of the controller's state codes.
#include "norvik/tarn/serial_number.h"
#include "norvik/tarn/state_names.h"

#include "bindings.h"
#include "client_handle.h"

namespace py = pybind11;

namespace norvik::tarn::python {

void bind_names(py::module_& m) {
  m.def("normalize_serial", &normalize_serial, py::arg("text"));
  m.def("system_state_name", &system_state_name, py::arg("code"));
  m.def("safety_board_state_name", &safety_board_state_name, py::arg("code"));
  m.def("system_state_names", &system_state_names);
  m.def("safety_board_state_names", &safety_board_state_names);

  client_class(m)
      .def("system_state", held<&Client::system_state>())
      .def("safety_board_state", held<&Client::safety_board_state>());
}

}  // namespace norvik::tarn::python
