#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

#include "math3d/math3d.hpp"
#include "support/ThreePaths.hpp"

namespace {

namespace ct = kelm_math::comp_trace;
using math3d::Numeric;
using math3d::stringify;
using math3d::Traced;

double fromBits(std::uint64_t bits) {
  double x;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

void expectRoundTrip(double x) {
  std::string text = stringify(x);
  char* end = nullptr;
  double back = std::strtod(text.c_str(), &end);
  EXPECT_EQ(*end, '\0') << text;
  EXPECT_TRUE(vela::test::sameBits(x, back)) << text;
  EXPECT_EQ(stringify(ct::TracedDouble(x)), text);
}

TEST(Math3dStringify, DoublesRoundTripInShortestForm) {
  std::mt19937_64 gen(11);
  for (int n = 0; n < 20000; ++n) expectRoundTrip(fromBits(gen()));
  // Subnormals (exponent field zero) and values around the smallest normal.
  for (int n = 0; n < 2000; ++n) expectRoundTrip(fromBits(gen() & 0x800FFFFFFFFFFFFFull));
  double const limits[] = {0.0,
                           std::numeric_limits<double>::denorm_min(),
                           std::numeric_limits<double>::min(),
                           std::numeric_limits<double>::max(),
                           std::numeric_limits<double>::epsilon(),
                           std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN()};
  for (double x : limits) {
    expectRoundTrip(x);
    expectRoundTrip(-x);
  }
  EXPECT_EQ(stringify(-0.0), "-0");
  EXPECT_EQ(stringify(0.0), "0");
  EXPECT_EQ(stringify(0.1), "0.1");
  EXPECT_EQ(stringify(-2.5), "-2.5");
  EXPECT_EQ(stringify(1e300), "1e+300");
  EXPECT_EQ(stringify(std::numeric_limits<double>::denorm_min()), "5e-324");
  EXPECT_EQ(stringify(-std::numeric_limits<double>::infinity()), "-Inf");
  EXPECT_EQ(stringify(std::numeric_limits<double>::infinity()), "Inf");
  EXPECT_EQ(stringify(-std::numeric_limits<double>::quiet_NaN()), "NaN");
}

TEST(Math3dStringify, TracedExpressionsAndTypesWriteScriptText) {
  ct::TracedDouble x = ct::TracedDouble::input("x"), y = ct::TracedDouble::input("y");
  EXPECT_EQ(stringify(x), "x");
  EXPECT_EQ(stringify(x + 0.5 * y), "(x + (0.5 * y))");
  EXPECT_EQ(stringify(-ct::sqrt(x / y)), "-sqrt((x / y))");
  EXPECT_EQ(stringify(ct::ternary(x < y, x, y)), "ternary((x < y), x, y)");
  // Deep graphs are cut short.
  ct::TracedDouble deep = x;
  for (int i = 0; i < 50; ++i) deep = deep * y + 1.0;
  std::string text = stringify(deep);
  EXPECT_LT(text.size(), 200u);
  EXPECT_NE(text.find("..."), std::string::npos);

  math3d::Vector3_T<Numeric> v(1.0, -0.0, 0.25);
  EXPECT_EQ(v.stringify(), "[1, -0, 0.25]");
  EXPECT_EQ(math3d::traceable(v).stringify(), v.stringify());
  EXPECT_EQ(math3d::Vector2_T<Traced>(x, 3.0).stringify(), "[x, 3]");
  EXPECT_EQ(math3d::Matrix3x3_T<Numeric>(1, 2, 3, 4, 5, 6, 7, 8, 9).stringify(),
            "[1, 2, 3; 4, 5, 6; 7, 8, 9]");
  EXPECT_EQ(math3d::Quaternion_T<Numeric>().stringify(), "[1, 0, 0, 0]");
  double six[6] = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(math3d::SpatialVector_T<Numeric>(six).stringify(), "[1; 2; 3; 4; 5; 6]");
  double packed[21];
  for (int k = 0; k < 21; ++k) packed[k] = k;
  EXPECT_EQ(math3d::SymmetricSpatialMatrix_T<Numeric>(packed).stringify(),
            "[0, 1, 2, 3, 4, 5; 1, 6, 7, 8, 9, 10; 2, 7, 11, 12, 13, 14; "
            "3, 8, 12, 15, 16, 17; 4, 9, 13, 16, 18, 19; 5, 10, 14, 17, 19, 20]");
}

}  // namespace
