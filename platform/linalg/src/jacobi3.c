#include <math.h>

#include "kelm_math/lin_alg.h"

/* The matrix lives in a[6]: the diagonal a[0..2] and the off-diagonal
   a[3 + r], which couples the two axes other than r. V is kept column by
   column; column k is the current estimate of the eigenvector of a[k]. */

enum { JACOBI3_MAX_SWEEPS = 32 };

/* Below this fraction of both diagonal entries an off-diagonal entry is
   dropped: its effect on the eigenvalues and the residual is under an ulp. */
static const double kNegligible = 0x1p-54;

/* Annihilates a[3 + r], the term coupling axes p < q. Returns 1 when a
   rotation was applied. */
static int rotate(double* a, double* V, int p, int q, int r) {
  double apq = a[3 + r];
  if (apq == 0.0) return 0;
  double app = a[p], aqq = a[q];
  double g = fabs(apq);
  if (g <= kNegligible * fabs(app) && g <= kNegligible * fabs(aqq)) {
    a[3 + r] = 0.0;
    return 0;
  }
  double h = aqq - app;
  double t, c;
  if (g < 0x1p-28 * fabs(h)) {
    /* Small angle (the last sweeps): t = apq / h and c = 1 - t^2 / 2 are
       exact to an ulp, and cost one division instead of two roots. */
    t = apq / h;
    c = 1.0 - 0.5 * (t * t);
  } else if (g > 0x1p-500 && g < 0x1p+500) {
    /* With r = sqrt(h^2 + 4 apq^2): t = 2 apq / (|h| + r) and
       1 + t^2 = 2 r / (|h| + r); the range keeps the squares finite. */
    double r = sqrt(h * h + 4.0 * (apq * apq));
    double u = fabs(h) + r;
    t = (h < 0.0 ? -2.0 : 2.0) * apq / u;
    c = sqrt(u / (2.0 * r));
  } else {
    double theta = 0.5 * h / apq;
    t = 1.0 / (fabs(theta) + sqrt(1.0 + theta * theta));
    if (theta < 0.0) t = -t;
    c = 1.0 / sqrt(1.0 + t * t);
  }
  double s = t * c;
  double tapq = t * apq;
  a[p] = app - tapq;
  a[q] = aqq + tapq;
  a[3 + r] = 0.0;
  /* The two other off-diagonal terms: a_rp (coupling r and p, stored at
     3 + q) and a_rq (stored at 3 + p). */
  double arp = a[3 + q], arq = a[3 + p];
  a[3 + q] = c * arp - s * arq;
  a[3 + p] = s * arp + c * arq;
  double* vp = V + 3 * p;
  double* vq = V + 3 * q;
  for (int i = 0; i < 3; ++i) {
    double x = vp[i], y = vq[i];
    vp[i] = c * x - s * y;
    vq[i] = s * x + c * y;
  }
  return 1;
}

void kelm_math_lin_alg_jacobi3(const double* d, const double* o, double* w, double* V) {
  double a[6] = {d[0], d[1], d[2], o[0], o[1], o[2]};
  for (int k = 0; k < 9; ++k) V[k] = (k % 4 == 0) ? 1.0 : 0.0;
  for (int sweep = 0; sweep < JACOBI3_MAX_SWEEPS; ++sweep) {
    /* One sweep spreads a NaN or infinity to every entry it touches;
       rotating further would only burn the sweep bound. */
    if (sweep > 0 && !(isfinite(a[3]) && isfinite(a[4]) && isfinite(a[5]))) break;
    int rotated = rotate(a, V, 0, 1, 2);
    rotated += rotate(a, V, 0, 2, 1);
    rotated += rotate(a, V, 1, 2, 0);
    if (!rotated) break;
  }
  w[0] = a[0];
  w[1] = a[1];
  w[2] = a[2];
}
