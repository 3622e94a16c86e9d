#include <math.h>

#include "zeph_core/ckernels.h"

/* The golden-section fraction, as the search has always used it. */
#define GOLDEN_STEP 0.381966

static double withSign(double magnitude, double sign) {
  return sign >= 0.0 ? magnitude : -magnitude;
}

zeph_core_MinSearchResult zeph_core_FuncMinSearch1D(double (*f)(double), double a, double b) {
  zeph_core_MinSearchResult result;
  double x = b, w = b, v = b;
  double fx = f(b), fw = fx, fv = fx;
  double d = 0.0, e = 0.0;
  int iteration;
  for (iteration = 0; iteration < 100; ++iteration) {
    double xm = (a + b) / 2.0;
    double tol1 = 1e-10 * fabs(x) + 2.5e-11;
    double tol2 = 2.0 * tol1;
    double u, fu;
    int parabolic = 0;
    if (fabs(x - xm) <= tol2 - (b - a) / 2.0) break;
    if (fabs(e) > tol1) {
      double r = (x - w) * (fx - fv);
      double q = (x - v) * (fx - fw);
      double p = (x - v) * q - (x - w) * r;
      double old;
      q = 2.0 * (q - r);
      if (q > 0.0) p = -p;
      q = fabs(q);
      old = e;
      e = d;
      if (fabs(p) < fabs(q * old / 2.0) && p > q * (a - x) && p < q * (b - x)) {
        parabolic = 1;
        d = p / q;
        u = x + d;
        if (u - a < tol2 || b - u < tol2) d = withSign(tol1, xm - x);
      }
    }
    if (!parabolic) {
      e = x >= xm ? a - x : b - x;
      d = GOLDEN_STEP * e;
    }
    u = fabs(d) >= tol1 ? x + d : x + withSign(tol1, d);
    fu = f(u);
    if (fu <= fx) {
      if (u >= x)
        a = x;
      else
        b = x;
      v = w, fv = fw;
      w = x, fw = fx;
      x = u, fx = fu;
    } else {
      if (u < x)
        a = u;
      else
        b = u;
      if (fu <= fw || w == x) {
        v = w, fv = fw;
        w = u, fw = fu;
      } else if (fu <= fv || v == x || v == w) {
        v = u, fv = fu;
      }
    }
  }
  result.x = x;
  result.fx = fx;
  return result;
}
