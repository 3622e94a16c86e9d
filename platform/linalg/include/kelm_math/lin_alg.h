/* Dense linear-algebra kernels, C linkage. Arrays are caller-owned and
   contiguous; matrices are column-major. No function allocates or fails:
   a size of 0 (or below) does nothing. */
#ifndef KELM_MATH_LIN_ALG_H
#define KELM_MATH_LIN_ALG_H

#ifdef __cplusplus
extern "C" {
#endif

/* out[i] = a[i] + b[i] for i < n. out may be a or b itself, but not overlap
   either partially. */
void kelm_math_lin_alg_vectorAdd(int n, const double* a, const double* b, double* out);

/* out[i] = a[i] - b[i] for i < n; the same aliasing rule. */
void kelm_math_lin_alg_vectorSubtract(int n, const double* a, const double* b, double* out);

/* ---- Elementwise and layout kernels ---- */


/* ---- Products ---- */


/* ---- Predicates ---- */


#ifdef __cplusplus
}
#endif

#endif
