// Links the installed package and checks that its kernels and runtime header work.
#include <vela/codegen_runtime.h>

#include <cstdio>
#include <vela/math.hpp>

int main() {
  int failures = 0;

  double const a[3] = {1.0, -2.5, 4.0};
  double const b[3] = {0.5, 2.5, -8.0};
  double const expected[3] = {1.5, 0.0, -4.0};
  double out[3] = {-1.0, -1.0, -1.0};
  vela::math::vectorAdd(3u, a, b, out);
  for (int i = 0; i < 3; ++i) {
    if (out[i] != expected[i]) {
      std::fprintf(stderr, "vectorAdd: out[%d] = %g, expected %g\n", i, out[i], expected[i]);
      ++failures;
    }
  }

  double const by_zero = vela_rt_guarded_divide(1.0, 0.0);
  double const by_four = vela_rt_guarded_divide(1.0, 4.0);
  if (by_zero != 0.0 || by_four != 0.25) {
    std::fprintf(stderr, "vela_rt_guarded_divide: 1/0 -> %g, 1/4 -> %g\n", by_zero, by_four);
    ++failures;
  }

  if (failures == 0) std::printf("installed vela_math works\n");
  return failures == 0 ? 0 : 1;
}
