// The two score curves, at and around every breakpoint.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "client/client_impl.h"

namespace norvik::tarn {
namespace {

double A(double a) { return ConfigurationScore(a, 0).first; }
double B(double b) { return ConfigurationScore(0, b).second; }

TEST(ConfigurationScore, FirstCurveBreakpoints) {
  EXPECT_DOUBLE_EQ(A(0.0), 0.0);
  EXPECT_DOUBLE_EQ(A(0.04), 10.0);
  EXPECT_DOUBLE_EQ(A(0.08), 20.0);
  EXPECT_DOUBLE_EQ(A(0.15), 40.0);
  EXPECT_DOUBLE_EQ(A(0.22), 100.0);
  EXPECT_DOUBLE_EQ(A(0.3), 100.0);
  EXPECT_DOUBLE_EQ(A(5.0), 100.0);
  // the middle piece divides by the double 0.15 - 0.08, not by 0.07
  EXPECT_EQ(A(0.1), (0.1 - 0.08) / (0.15 - 0.08) * 20 + 20);
  EXPECT_EQ(A(0.18), (0.18 - 0.15) / 0.07 * 60 + 40);
}

TEST(ConfigurationScore, FirstCurveIsContinuousAtItsKnees) {
  for (double knee : {0.08, 0.15}) {
    EXPECT_NEAR(A(knee - 1e-12), A(knee), 1e-8) << knee;
    EXPECT_NEAR(A(knee + 1e-12), A(knee), 1e-8) << knee;
  }
  EXPECT_LT(A(0.2199), 100.0);
}

TEST(ConfigurationScore, SecondCurveBreakpoints) {
  EXPECT_DOUBLE_EQ(B(0.0), 0.0);
  EXPECT_DOUBLE_EQ(B(0.08), 20.0);
  EXPECT_DOUBLE_EQ(B(0.3), 40.0);
  EXPECT_DOUBLE_EQ(B(0.75), 100.0);
  EXPECT_DOUBLE_EQ(B(2.0), 100.0);
  EXPECT_EQ(B(0.2), (0.2 - 0.08) / (0.3 - 0.08) * 20 + 20);
  EXPECT_EQ(B(0.5), (0.5 - 0.3) / 0.45 * 60 + 40);
  EXPECT_NEAR(B(0.3 - 1e-12), 40.0, 1e-8);
  EXPECT_LT(B(0.7499), 100.0);
}

TEST(ConfigurationScore, NegativeAndNaNScoreZero) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(ConfigurationScore(-1, -1), (std::pair<double, double>{0, 0}));
  EXPECT_EQ(ConfigurationScore(nan, nan), (std::pair<double, double>{0, 0}));
  EXPECT_EQ(A(-1e-300), 0.0);
  EXPECT_EQ(A(std::numeric_limits<double>::infinity()), 100.0);
}

}  // namespace
}  // namespace norvik::tarn
