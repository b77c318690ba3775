// The library's log lines into Python's logging. The lines are queued by
// whatever thread logs (log_route.h); one Python daemon thread takes them
// with the GIL released and passes them to the logger "norviktarn". It is
// stopped and drained at interpreter exit (atexit), before the interpreter
// stops threads, so it is never caught waiting for the GIL at shutdown.
#include <atomic>
#include <chrono>
#include <vector>

#include <pybind11/gil_safe_call_once.h>

#include "bindings.h"
#include "log_route.h"
#include "without_gil.h"

namespace py = pybind11;

namespace norvik::tarn::python {

namespace {

int PythonLevel(spdlog::level::level_enum level) {
  switch (level) {
    case spdlog::level::trace:
    case spdlog::level::debug:
      return 10;  // logging.DEBUG
    case spdlog::level::info:
      return 20;
    case spdlog::level::warn:
      return 30;
    case spdlog::level::err:
      return 40;
    default:
      return 50;  // critical
  }
}

// Set to end the pump; it reads this between waits, without the GIL.
std::atomic<bool> g_stop{false};
bool g_atexit_registered = false;  // with the GIL held

// The pump's threading.Thread, or None. pybind11 keeps the holder past the
// interpreter's end without releasing it, which a plain static py::object
// would do after the interpreter is gone.
py::dict& PumpState() {
  PYBIND11_CONSTINIT static py::gil_safe_call_once_and_store<py::dict> storage;
  return storage
      .call_once_and_store_result([] {
        py::dict state;
        state["thread"] = py::none();
        return state;
      })
      .get_stored();
}

void Forward(const py::object& logger, const std::vector<LineQueue::Line>& lines) {
  for (const auto& [level, text] : lines) {
    try {
      // Lines may quote what the robot sent: bad UTF-8 shows as U+FFFD
      // rather than costing the line.
      const auto message =
          py::reinterpret_steal<py::str>(PyUnicode_DecodeUTF8(text.data(), py::ssize_t(text.size()), "replace"));
      if (!message) throw py::error_already_set();
      logger.attr("log")(PythonLevel(level), message);
    } catch (py::error_already_set&) {
      // a failing handler loses its line, not the pump
    }
  }
}

void RunPump() {
  const py::object logger = py::module_::import("logging").attr("getLogger")("norviktarn");
  while (!g_stop) {
    without_gil([] {
      PythonLines().Wait(std::chrono::milliseconds(250));
      return true;
    });
    Forward(logger, PythonLines().Take());
  }
  Forward(logger, PythonLines().Take());
}

void StopPump() {
  py::object thread = PumpState()["thread"];
  if (thread.is_none()) return;
  PumpState()["thread"] = py::none();
  g_stop = true;
  PythonLines().Wake();
  // A logging handler may change the route from the pump itself.
  if (!thread.is(py::module_::import("threading").attr("current_thread")())) thread.attr("join")(2.0);
}

void StartPump() {
  if (!PumpState()["thread"].is_none()) return;
  if (!g_atexit_registered) {
    py::module_::import("atexit").attr("register")(py::cpp_function([] {
      SetLogRoute(LogRoute::Default);  // what comes after exit goes to standard output again
      StopPump();
    }));
    g_atexit_registered = true;
  }
  g_stop = false;
  py::object thread = py::module_::import("threading")
                          .attr("Thread")(py::arg("target") = py::cpp_function(&RunPump),
                                          py::arg("name") = "norviktarn-log", py::arg("daemon") = true);
  thread.attr("start")();
  PumpState()["thread"] = thread;
}

}  // namespace

void bind_logging(py::module_& m) {
  m.def("log_to_python", [] {
    StartPump();
    SetLogRoute(LogRoute::Python);
  });
  m.def("silence_log", [] {
    SetLogRoute(LogRoute::Silent);
    StopPump();
  });
  m.def("log_to_stdout", [] {
    SetLogRoute(LogRoute::Default);
    StopPump();
  });
  m.def("log_backlog", [] { return PythonLines().backlog(); });
  m.def("log_lines_dropped", [] { return PythonLines().dropped(); });
}

}  // namespace norvik::tarn::python
