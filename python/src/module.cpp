// The norviktarn extension module.
//
// PYBIND11_MODULE checks the interpreter's version before it touches
// pybind11's internals, so a build loaded into another CPython fails with a
// plain ImportError instead of crashing on an incompatible ABI.
#include "bindings.h"

PYBIND11_MODULE(norviktarn, m) {
  m.doc() = "Norvik Telemetry Access Relay Node (TARN)";
  norvik::tarn::python::bind_joint_group(m);
  norvik::tarn::python::bind_records(m);
  norvik::tarn::python::bind_client(m);
  norvik::tarn::python::bind_streams(m);
  norvik::tarn::python::bind_network(m);
  norvik::tarn::python::bind_names(m);
  norvik::tarn::python::bind_client_closing(m);
  norvik::tarn::python::bind_logging(m);
  norvik::tarn::python::bind_batches(m);
  m.attr("__version__") = NORVIKTARN_VERSION;  // the package's version, from CMake
}
