// Running library code without the GIL, from any Python thread.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>
#include <utility>

namespace norvik::tarn::python {

// Calls `call()` with the GIL released and returns what it returns (or
// rethrows) with the GIL held again. Not pybind11::gil_scoped_release: a
// daemon thread that takes the GIL back while the interpreter exits is ended
// by the interpreter on the spot (pthread_exit), and that unwinding through a
// destructor, which is noexcept, aborts the whole process.
template <typename F>
auto without_gil(F&& call) {
  PyThreadState* state = PyEval_SaveThread();
  std::optional<decltype(call())> result;
  try {
    result.emplace(std::forward<F>(call)());
  } catch (...) {
    PyEval_RestoreThread(state);
    throw;
  }
  // Outside the try: the interpreter's ending of this thread must pass
  // through, not be caught above.
  PyEval_RestoreThread(state);
  return std::move(*result);
}

}  // namespace norvik::tarn::python
