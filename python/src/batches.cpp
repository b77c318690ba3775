// Client.take_states and Client.take_actions: runs of queued samples as NumPy
// columns. Each column is the library's own vector, moved into an array that
// owns it; no Python object per value, and the GIL released while waiting
// and filling.
#include <pybind11/numpy.h>

#include <memory>
#include <optional>
#include <vector>

#include "bindings.h"
#include "client_handle.h"
#include "steady_time.h"
#include "without_gil.h"
#include "norvik/tarn/client.h"

namespace py = pybind11;

namespace norvik::tarn::python {

namespace {

using Shape = std::vector<py::ssize_t>;

// A writable array over `values`, which it keeps alive; no copy.
template <typename T>
py::array Adopt(std::vector<T>&& values, Shape shape, const py::dtype& dtype) {
  // an empty vector may have no buffer: numpy makes its own empty one
  if (values.empty()) return py::array(dtype, std::move(shape));
  auto owner = std::make_unique<std::vector<T>>(std::move(values));
  const T* data = owner->data();
  py::capsule keep(owner.get(), [](void* p) { std::unique_ptr<std::vector<T>> drop(static_cast<std::vector<T>*>(p)); });
  owner.release();  // the capsule owns it now
  return py::array(dtype, std::move(shape), Shape{}, data, keep);
}

template <typename T>
py::array Adopt(std::vector<T>&& values, Shape shape) {
  return Adopt(std::move(values), std::move(shape), py::dtype::of<T>());
}

// 0/1 bytes seen as NumPy booleans (same size, same values).
py::array AdoptFlags(std::vector<uint8_t>&& values, Shape shape) {
  return Adopt(std::move(values), std::move(shape), py::dtype("bool"));
}

std::vector<double> SteadySeconds(const std::vector<std::chrono::steady_clock::time_point>& times) {
  std::vector<double> out;
  out.reserve(times.size());
  for (const auto& t : times) out.push_back(python::SteadySeconds(t));
  return out;
}

struct PyGroupStates {
  size_t dof = 0;
  py::array timestamp, q, theta, dq, dtheta, tau, tau_dot, tau_ext, tau_interact, temperature;
  py::array flange_pose, tcp_pose;
  py::array tcp_twist, tcp_wrench, tcp_wrench_local, raw_tcp_wrench, raw_tcp_wrench_local, raw_ft_sensor;
};

struct PyStatesBatch {
  size_t count = 0;
  py::array index, received_at;
  py::dict states;
  py::array system_state, safety_board_state, estop_released, enabling_device_on, digital_inputs, digital_outputs;
};

struct PyGroupActions {
  size_t dof = 0;
  py::array timestamp, q_d, dq_d, tau_d, tcp_pose_d, tcp_twist_d, tcp_wrench_d;
};

struct PyActionsBatch {
  size_t count = 0;
  py::array index, received_at;
  py::dict actions;
};

// What the waiting call hands back to the GIL side: the batch, and its
// arrival times already in seconds.
template <typename Batch>
struct Taken {
  Batch batch;
  std::vector<double> received_at;
};

PyGroupStates ToPython(GroupStatesColumns&& c, py::ssize_t n) {
  const auto d = static_cast<py::ssize_t>(c.dof);
  PyGroupStates g;
  g.dof = c.dof;
  g.timestamp = Adopt(std::move(c.timestamp), {n, 2});
  g.q = Adopt(std::move(c.q), {n, d});
  g.theta = Adopt(std::move(c.theta), {n, d});
  g.dq = Adopt(std::move(c.dq), {n, d});
  g.dtheta = Adopt(std::move(c.dtheta), {n, d});
  g.tau = Adopt(std::move(c.tau), {n, d});
  g.tau_dot = Adopt(std::move(c.tau_dot), {n, d});
  g.tau_ext = Adopt(std::move(c.tau_ext), {n, d});
  g.tau_interact = Adopt(std::move(c.tau_interact), {n, d});
  g.temperature = Adopt(std::move(c.temperature), {n, d});
  g.flange_pose = Adopt(std::move(c.flange_pose), {n, 7});
  g.tcp_pose = Adopt(std::move(c.tcp_pose), {n, 7});
  g.tcp_twist = Adopt(std::move(c.tcp_twist), {n, 6});
  g.tcp_wrench = Adopt(std::move(c.tcp_wrench), {n, 6});
  g.tcp_wrench_local = Adopt(std::move(c.tcp_wrench_local), {n, 6});
  g.raw_tcp_wrench = Adopt(std::move(c.raw_tcp_wrench), {n, 6});
  g.raw_tcp_wrench_local = Adopt(std::move(c.raw_tcp_wrench_local), {n, 6});
  g.raw_ft_sensor = Adopt(std::move(c.raw_ft_sensor), {n, 6});
  return g;
}

PyStatesBatch ToPython(Taken<StatesBatch>&& taken) {
  StatesBatch& b = taken.batch;
  const auto n = static_cast<py::ssize_t>(b.count);
  PyStatesBatch out;
  out.count = b.count;
  out.index = Adopt(std::move(b.index), {n});
  out.received_at = Adopt(std::move(taken.received_at), {n});
  for (auto& [group, columns] : b.states) out.states[py::cast(group)] = ToPython(std::move(columns), n);
  out.system_state = Adopt(std::move(b.system_state), {n});
  out.safety_board_state = Adopt(std::move(b.safety_board_state), {n});
  out.estop_released = AdoptFlags(std::move(b.estop_released), {n});
  out.enabling_device_on = AdoptFlags(std::move(b.enabling_device_on), {n});
  out.digital_inputs = AdoptFlags(std::move(b.digital_inputs), {n, 20});
  out.digital_outputs = AdoptFlags(std::move(b.digital_outputs), {n, 20});
  return out;
}

PyGroupActions ToPython(GroupActionsColumns&& c, py::ssize_t n) {
  const auto d = static_cast<py::ssize_t>(c.dof);
  PyGroupActions g;
  g.dof = c.dof;
  g.timestamp = Adopt(std::move(c.timestamp), {n, 2});
  g.q_d = Adopt(std::move(c.q_d), {n, d});
  g.dq_d = Adopt(std::move(c.dq_d), {n, d});
  g.tau_d = Adopt(std::move(c.tau_d), {n, d});
  g.tcp_pose_d = Adopt(std::move(c.tcp_pose_d), {n, 7});
  g.tcp_twist_d = Adopt(std::move(c.tcp_twist_d), {n, 6});
  g.tcp_wrench_d = Adopt(std::move(c.tcp_wrench_d), {n, 6});
  return g;
}

PyActionsBatch ToPython(Taken<ActionsBatch>&& taken) {
  ActionsBatch& b = taken.batch;
  const auto n = static_cast<py::ssize_t>(b.count);
  PyActionsBatch out;
  out.count = b.count;
  out.index = Adopt(std::move(b.index), {n});
  out.received_at = Adopt(std::move(taken.received_at), {n});
  for (auto& [group, columns] : b.actions) out.actions[py::cast(group)] = ToPython(std::move(columns), n);
  return out;
}

// Checked before samples leave the queue: without NumPy they could not be
// handed over and would be lost.
void RequireNumpy() {
  static bool found = false;  // under the GIL
  if (found) return;
  try {
    py::module_::import("numpy");
  } catch (py::error_already_set&) {
    throw py::import_error("[norvik::tarn::Client] take_states and take_actions need NumPy (pip install numpy)");
  }
  found = true;
}

// Waits and fills without the GIL; None on time-out.
template <auto Method>
auto take() {
  return [](const ClientHandle& self, size_t max_count, double timeout) {
    RequireNumpy();
    auto taken = without_gil([&] {
      auto batch = ((*self.get()).*Method)(max_count, Seconds(timeout));
      auto seconds = SteadySeconds(batch.received_at);
      return Taken<decltype(batch)>{std::move(batch), std::move(seconds)};
    });
    using Result = decltype(ToPython(std::move(taken)));
    if (taken.batch.count == 0) return std::optional<Result>();
    return std::optional<Result>(ToPython(std::move(taken)));
  };
}

}  // namespace

void bind_batches(py::module_& m) {
  py::class_<PyGroupStates>(m, "GroupStatesColumns")
      .def_readonly("dof", &PyGroupStates::dof)
      .def_readonly("timestamp", &PyGroupStates::timestamp)
      .def_readonly("q", &PyGroupStates::q)
      .def_readonly("theta", &PyGroupStates::theta)
      .def_readonly("dq", &PyGroupStates::dq)
      .def_readonly("dtheta", &PyGroupStates::dtheta)
      .def_readonly("tau", &PyGroupStates::tau)
      .def_readonly("tau_dot", &PyGroupStates::tau_dot)
      .def_readonly("tau_ext", &PyGroupStates::tau_ext)
      .def_readonly("tau_interact", &PyGroupStates::tau_interact)
      .def_readonly("temperature", &PyGroupStates::temperature)
      .def_readonly("flange_pose", &PyGroupStates::flange_pose)
      .def_readonly("tcp_pose", &PyGroupStates::tcp_pose)
      .def_readonly("tcp_twist", &PyGroupStates::tcp_twist)
      .def_readonly("tcp_wrench", &PyGroupStates::tcp_wrench)
      .def_readonly("tcp_wrench_local", &PyGroupStates::tcp_wrench_local)
      .def_readonly("raw_tcp_wrench", &PyGroupStates::raw_tcp_wrench)
      .def_readonly("raw_tcp_wrench_local", &PyGroupStates::raw_tcp_wrench_local)
      .def_readonly("raw_ft_sensor", &PyGroupStates::raw_ft_sensor);

  py::class_<PyStatesBatch>(m, "StatesBatch")
      .def_readonly("count", &PyStatesBatch::count)
      .def_readonly("index", &PyStatesBatch::index)
      .def_readonly("received_at", &PyStatesBatch::received_at)
      .def_readonly("states", &PyStatesBatch::states)
      .def_readonly("system_state", &PyStatesBatch::system_state)
      .def_readonly("safety_board_state", &PyStatesBatch::safety_board_state)
      .def_readonly("estop_released", &PyStatesBatch::estop_released)
      .def_readonly("enabling_device_on", &PyStatesBatch::enabling_device_on)
      .def_readonly("digital_inputs", &PyStatesBatch::digital_inputs)
      .def_readonly("digital_outputs", &PyStatesBatch::digital_outputs);

  py::class_<PyGroupActions>(m, "GroupActionsColumns")
      .def_readonly("dof", &PyGroupActions::dof)
      .def_readonly("timestamp", &PyGroupActions::timestamp)
      .def_readonly("q_d", &PyGroupActions::q_d)
      .def_readonly("dq_d", &PyGroupActions::dq_d)
      .def_readonly("tau_d", &PyGroupActions::tau_d)
      .def_readonly("tcp_pose_d", &PyGroupActions::tcp_pose_d)
      .def_readonly("tcp_twist_d", &PyGroupActions::tcp_twist_d)
      .def_readonly("tcp_wrench_d", &PyGroupActions::tcp_wrench_d);

  py::class_<PyActionsBatch>(m, "ActionsBatch")
      .def_readonly("count", &PyActionsBatch::count)
      .def_readonly("index", &PyActionsBatch::index)
      .def_readonly("received_at", &PyActionsBatch::received_at)
      .def_readonly("actions", &PyActionsBatch::actions);

  client_class(m)
      .def("take_states", take<&Client::take_states>(), py::arg("max_count"), py::arg("timeout"))
      .def("take_actions", take<&Client::take_actions>(), py::arg("max_count"), py::arg("timeout"));
}

}  // namespace norvik::tarn::python
