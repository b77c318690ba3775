// Seconds as the module's waits and arrival times give them.
#pragma once

#include <algorithm>
#include <chrono>

namespace norvik::tarn::python {

// A wait in seconds; nothing or less waits not at all, and a huge one is
// capped before it overflows the nanosecond count.
inline std::chrono::nanoseconds Seconds(double s) {
  if (!(s > 0.0)) return std::chrono::nanoseconds(0);
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(std::min(s, 1e9)));
}

// Steady-clock seconds, comparable with time.monotonic() on Linux.
inline double SteadySeconds(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(t.time_since_epoch()).count();
}

}  // namespace norvik::tarn::python
