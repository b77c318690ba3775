// Reaching robots: the Zenoh configuration of the process's session, and the
// robots that answer on the network. Additions beside the client.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "bindings.h"
#include "client_handle.h"
#include "without_gil.h"
#include "norvik/tarn/client.h"
#include "norvik/tarn/discovery.h"
#include "norvik/tarn/zenoh_config.h"

namespace py = pybind11;

namespace norvik::tarn::python {

namespace {

ZenohConfig Chosen(const std::optional<std::string>& file, const std::optional<std::string>& json5,
                   const std::optional<std::vector<std::string>>& connect, const std::string& mode) {
  const int given = int(file.has_value()) + int(json5.has_value()) + int(connect.has_value());
  if (given > 1) throw py::type_error("use_zenoh_config() takes one of file, json5 or connect");
  if (mode != "client" && mode != "peer") throw py::value_error("mode must be 'client' or 'peer'");
  if (file) return ZenohConfig::from_file(*file);
  if (json5) return ZenohConfig::from_json5(*json5);
  if (connect) return ZenohConfig::connect_to(*connect, mode == "client" ? ZenohMode::Client : ZenohMode::Peer);
  return ZenohConfig::from_env();  // nothing named: ZENOH_CONFIG's file, else Zenoh's defaults
}

}  // namespace

void bind_network(py::module_& m) {
  m.def(
      "use_zenoh_config",
      [](const std::optional<std::string>& file, const std::optional<std::string>& json5,
         const std::optional<std::vector<std::string>>& connect, const std::string& mode) {
        use_zenoh_config(Chosen(file, json5, connect, mode));
      },
      py::arg("file") = py::none(), py::kw_only(), py::arg("json5") = py::none(), py::arg("connect") = py::none(),
      py::arg("mode") = "client");
  m.def("zenoh_config", [] { return zenoh_config().description(); });

  // What the client learned at connection; additions beside its accessors.
  client_class(m).def("server_version", held<&Client::server_version>()).def("layout", held<&Client::layout>());
  m.def("zenoh_session_open", &zenoh_session_open);

  py::class_<RobotInfo>(m, "RobotInfo")
      .def_readonly("serial", &RobotInfo::serial)
      .def_readonly("server_version", &RobotInfo::server_version)
      .def("__repr__", [](const RobotInfo& r) {
        return "<RobotInfo " + std::string(py::repr(py::str(r.serial))) + " server " +
               std::string(py::repr(py::str(r.server_version))) + ">";
      });
  m.def(
      "list_robots",
      [](double timeout) {
        if (!(timeout >= 0.0) || timeout > 3600.0) throw py::value_error("timeout must be within 0..3600 s");
        const auto ms = std::chrono::milliseconds(static_cast<int64_t>(timeout * 1000.0));
        return without_gil([&] { return list_robots(ms); });
      },
      py::arg("timeout") = 2.0);
}

}  // namespace norvik::tarn::python
