/* C kernels of vela::math, C linkage. They work in fixed stack storage,
   never allocate and never fail. Generated code calls them by name. */
#ifndef ZEPH_CORE_CKERNELS_H
#define ZEPH_CORE_CKERNELS_H

#ifdef __cplusplus
extern "C" {
#endif

/* 1 when v[i] is +-infinity for some i < n (scanning from 0, stopping at the
   first hit), else 0; 0 for n = 0. */
int zeph_core_math_anyIsInf(unsigned int n, const double* v);

/* 1 when v[i] is a NaN for some i < n, else 0; 0 for n = 0. */
int zeph_core_math_anyIsNaN(unsigned int n, const double* v);

/* Writes, in increasing order, the positions i < n with flags[i] != 0 to
   indices[0], indices[1], ...; entries after the last one written are left
   as they are. */
void zeph_core_math_computeIndicesNonzeroElements(unsigned int n, const int* flags, int* indices);

/* ---- Plane fitting and normals ---- */

#ifdef __cplusplus
}
#endif

#endif
