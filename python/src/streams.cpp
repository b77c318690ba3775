// Stream health and every-sample queues: additions beside the client's
// accessors. Unlike those, the waits release the GIL, so a recording thread
// does not stall the rest of the program.
#include <chrono>
#include <optional>

#include "bindings.h"
#include "client_handle.h"
#include "steady_time.h"
#include "without_gil.h"
#include "norvik/tarn/client.h"

namespace py = pybind11;

namespace norvik::tarn::python {

namespace {

std::optional<double> AgeSeconds(const StreamHealth& h) {
  const auto age = h.age();
  if (!age) return std::nullopt;
  return std::chrono::duration<double>(*age).count();
}

}  // namespace

void bind_streams(py::module_& m) {
  py::enum_<StreamKind>(m, "StreamKind").value("BASIC", StreamKind::Basic).value("EXTRA", StreamKind::Extra);
  py::enum_<Freshness>(m, "Freshness")
      .value("NEVER_RECEIVED", Freshness::NeverReceived)
      .value("LIVE", Freshness::Live)
      .value("STALE", Freshness::Stale);

  py::class_<StreamHealth>(m, "StreamHealth")
      .def_readonly("received", &StreamHealth::received)
      .def_readonly("malformed", &StreamHealth::malformed)
      .def_readonly("queue_dropped", &StreamHealth::queue_dropped)
      .def_readonly("robot_stamp", &StreamHealth::robot_stamp)
      .def_property_readonly("last_received",
                             [](const StreamHealth& h) -> std::optional<double> {
                               if (!h.last_received) return std::nullopt;
                               return SteadySeconds(*h.last_received);
                             })
      .def_property_readonly("age", &AgeSeconds)
      .def(
          "freshness",
          [](const StreamHealth& h, double stale_after) { return h.freshness(Seconds(stale_after)); },
          py::arg("stale_after") = 0.1)
      .def("__repr__", [](const StreamHealth& h) {
        const auto age = AgeSeconds(h);
        return "<StreamHealth received=" + std::to_string(h.received) + " malformed=" + std::to_string(h.malformed) +
               " queue_dropped=" + std::to_string(h.queue_dropped) +
               (age ? " age=" + std::to_string(*age) + "s" : std::string(" never received")) + ">";
      });

  py::class_<StatesSample>(m, "StatesSample")
      .def_readonly("index", &StatesSample::index)
      .def_property_readonly("received_at", [](const StatesSample& s) { return SteadySeconds(s.received_at); })
      .def_readonly("states", &StatesSample::states)
      .def_readonly("system_state", &StatesSample::system_state)
      .def_readonly("safety_board_state", &StatesSample::safety_board_state)
      .def_readonly("estop_released", &StatesSample::estop_released)
      .def_readonly("enabling_device_on", &StatesSample::enabling_device_on)
      .def_readonly("digital_inputs", &StatesSample::digital_inputs)
      .def_readonly("digital_outputs", &StatesSample::digital_outputs);

  py::class_<ActionsSample>(m, "ActionsSample")
      .def_readonly("index", &ActionsSample::index)
      .def_property_readonly("received_at", [](const ActionsSample& s) { return SteadySeconds(s.received_at); })
      .def_readonly("actions", &ActionsSample::actions);

  client_class(m)
      .def(
          "stream_health", [](const ClientHandle& self, StreamKind stream) { return self.get()->stream_health(stream); },
          py::arg("stream"))
      .def(
          "start_sample_queues", [](const ClientHandle& self, size_t capacity) { self.get()->start_sample_queues(capacity); },
          py::arg("capacity") = 10000)
      .def(
          "next_states",
          [](const ClientHandle& self, double timeout) {
            return without_gil([&] { return self.get()->next_states(Seconds(timeout)); });
          },
          py::arg("timeout"))
      .def(
          "next_actions",
          [](const ClientHandle& self, double timeout) {
            return without_gil([&] { return self.get()->next_actions(Seconds(timeout)); });
          },
          py::arg("timeout"));
}

}  // namespace norvik::tarn::python
