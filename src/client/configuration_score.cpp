#include "client/client_impl.h"

#include <algorithm>

namespace norvik::tarn {

namespace {

// Piecewise linear: 0 at 0, 20 at 0.08, 40 at `knee`, 100 from `knee` + `span`.
// Negative and NaN measures score 0 (every comparison below is false for NaN).
double Score(double m, double knee, double span) {
  if (m >= knee) return std::min(100.0, (m - knee) / span * 60.0 + 40.0);
  if (m >= 0.08) return (m - 0.08) / (knee - 0.08) * 20.0 + 20.0;
  if (m >= 0.0) return m / 0.08 * 20.0;
  return 0.0;
}

}  // namespace

std::pair<double, double> ConfigurationScore(double a, double b) {
  return {Score(a, 0.15, 0.07), Score(b, 0.3, 0.45)};
}

}  // namespace norvik::tarn
