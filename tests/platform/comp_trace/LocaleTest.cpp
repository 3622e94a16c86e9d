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

namespace {

namespace ct = kelm_math::comp_trace;
namespace vm = vela::math;
using ct::TracedDouble;
using ct::TracedInt;

// Texts holding every kind of number the library writes: fractional and
// huge constants, negative ints, counts and scratch offsets above 1000, part
// numbers and work sizes.
std::vector<std::string> texts() {
  TracedDouble x = TracedDouble::input("x");
  TracedInt k = TracedInt::input("k");
  TracedDouble y = x * 0.5 + 1234.5678 - 2.5e-7 * x + 1e300;
  TracedInt j = ct::ternary(k < -5, k * 1600, TracedInt(-7));
  constexpr unsigned kMax = 1600;
  // Two updates of one array: the first must copy it ("memcpy(..., 1600 * ...").
  std::vector<TracedDouble> src(kMax, y), dst(kMax, x), dst2 = dst;
  vm::submatrixAssignDynamicSize(kMax, kMax, k, TracedInt(2), j, TracedInt(40), TracedInt(3),
                                 TracedInt(40), src.data(), dst.data());
  vm::submatrixAssignDynamicSize(kMax, kMax, k, TracedInt(2), j, TracedInt(40), TracedInt(4),
                                 TracedInt(40), src.data(), dst2.data());
  std::vector<TracedDouble> outputs = {y, TracedDouble(j), dst[3], dst[1599], dst2[1500], 0.25};
  return {ct::generateCFunction("model", {"x", "k"}, outputs),
          ct::generateCFunctionCode("model", {"x", "k"}, outputs, 1024, 3).text,
          math3d::stringify(y) + math3d::stringify(TracedDouble(j)) + math3d::stringify(-1234.5),
          vela::decimalText(1600u) + vela::stdStringify(1234567u)};
}

}  // namespace

TEST(Locale, NumbersAreWrittenTheSameUnderEveryLocale) {
  std::setlocale(LC_ALL, "C");
  std::vector<std::string> const baseline = texts();
  EXPECT_NE(baseline[0].find("1600 * sizeof(double)"), std::string::npos);
  EXPECT_NE(baseline[0].find("spd[1"), std::string::npos);
  EXPECT_NE(baseline[1].find("model_part1("), std::string::npos);
  EXPECT_EQ(baseline[3], "16001234567");
  for (char const* name : {"de_DE.UTF-8", "en_US.UTF-8"}) {
    std::string const missing = vela::test::provideLocale(name);
    if (!missing.empty()) GTEST_SKIP() << missing;
    ASSERT_NE(std::setlocale(LC_ALL, name), nullptr) << name;
    EXPECT_EQ(texts(), baseline) << "C locale " << name;
    std::setlocale(LC_ALL, "C");
    {
      // glibc keeps the search list of a locale loaded from a private
      // folder; that is not ours to free.
#if defined(__SANITIZE_ADDRESS__)
      __lsan::ScopedDisabler ignoreGlibc;
#endif
      std::locale::global(std::locale(name));  // also sets the C locale
    }
    EXPECT_EQ(texts(), baseline) << "global C++ locale " << name;
    std::locale::global(std::locale::classic());
    std::setlocale(LC_ALL, "C");
  }
}
