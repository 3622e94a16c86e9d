// Generated C and display text must not depend on the process locale: a
// decimal comma turns "0.5" into the comma operator, digit grouping turns a
// count of 1600 into "1,600" or "1.600".
#include <gtest/gtest.h>

#include <clocale>
#include <locale>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "math3d/math3d.hpp"
#include "support/Locales.hpp"
#include "vela/NumberText.hpp"
#include "vela/math.hpp"

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using ct::TracedDouble;
using ct::TracedInt;

namespace {

// glibc's newlocale keeps the LOCPATH search list it builds for a locale
// loaded from a private folder; that is not ours to free.
std::locale namedLocale(char const* name) {
#if defined(__SANITIZE_ADDRESS__)
  __lsan::ScopedDisabler ignoreGlibc;
#endif
  return std::locale(name);
}

// Code and display texts that contain every kind of number the library
// writes: fractional and huge constants, negative ints, counts and scratch
// offsets above 1000.
std::vector<std::string> texts() {
  TracedDouble x = TracedDouble::input("x");
  TracedInt k = TracedInt::input("k");
  TracedDouble y = x * 0.5 + 1234.5678 - 2.5e-7 * x + 1e300;
  TracedInt j = ct::ternary(k < -5, k * 1600, TracedInt(-7));

  constexpr unsigned kMax = 1600;
  // Two updates of the same array: the first must copy it ("memcpy(..., 1600 * ...").
  std::vector<TracedDouble> src(kMax, y), dst(kMax, x), dst2 = dst;
  vm::submatrixAssignDynamicSize(kMax, kMax, k, TracedInt(2), j, TracedInt(40), TracedInt(3),
                                 TracedInt(40), src.data(), dst.data());
  vm::submatrixAssignDynamicSize(kMax, kMax, k, TracedInt(2), j, TracedInt(40), TracedInt(4),
                                 TracedInt(40), src.data(), dst2.data());
  std::vector<TracedInt> indices(1200, k);
  std::vector<TracedDouble> v(1200, y);
  vm::expandVector(1200, k, indices.data(), v.data());
  std::vector<TracedDouble> outputs = {y,          TracedDouble(j), dst[3], dst[1599],
                                       dst2[1500], v[1100],         0.25};
  return {ct::generateCFunction("model", {"x", "k"}, outputs),
          math3d::stringify(y),
          math3d::stringify(TracedDouble(j)),
          math3d::stringify(-1234.5),
          vela::decimalText(1600u),
          vela::stdStringify(1234567u),
          // Split into numbered parts, with a work array: those numbers too.
          ct::generateCFunctionCode("model", {"x", "k"}, outputs, 1024, 3).text};
}

class LocaleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::setlocale(LC_ALL, "C");
    baseline_ = texts();
  }
  void TearDown() override {
    std::locale::global(std::locale::classic());
    std::setlocale(LC_ALL, "C");
  }
  void expectSameTexts(char const* how) {
    std::vector<std::string> now = texts();
    ASSERT_EQ(now.size(), baseline_.size());
    for (std::size_t i = 0; i < now.size(); ++i)
      EXPECT_EQ(now[i], baseline_[i]) << how << ", text " << i;
  }

  std::vector<std::string> baseline_;
};

TEST_F(LocaleTest, NumbersAreWrittenTheSameUnderEveryLocale) {
  // Sanity of the baseline: the texts hold the numbers as C reads them.
  EXPECT_NE(baseline_[0].find("0.5"), std::string::npos);
  EXPECT_NE(baseline_[0].find("1600 * sizeof(double)"), std::string::npos);
  EXPECT_NE(baseline_[0].find("spd[1"), std::string::npos);
  EXPECT_EQ(baseline_[4], "1600");
  EXPECT_NE(baseline_.back().find("model_part1("), std::string::npos);
  EXPECT_NE(baseline_.back().find("_work_size"), std::string::npos);

  for (char const* name : {"de_DE.UTF-8", "en_US.UTF-8"}) {
    std::string const missing = vela::test::provideLocale(name);
    if (!missing.empty()) GTEST_SKIP() << missing;

    ASSERT_NE(std::setlocale(LC_ALL, name), nullptr) << name;
    expectSameTexts((std::string("C locale ") + name).c_str());
    std::setlocale(LC_ALL, "C");

    std::locale::global(namedLocale(name));  // also sets the C locale
    expectSameTexts((std::string("global C++ locale ") + name).c_str());
    std::locale::global(std::locale::classic());
  }
}

}  // namespace
