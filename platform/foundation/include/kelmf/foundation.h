/** \file
   Foundation: floating-point classification and limits, C linkage. */
#ifndef KELMF_FOUNDATION_H
#define KELMF_FOUNDATION_H

/* Declarations here are the shared libraries' API; all else is hidden. */
#pragma GCC visibility push(default)

#ifdef __cplusplus
extern "C" {
#endif

/** Nonzero when x is a NaN (quiet or signalling, either sign). */
int kelmf_is_nan(double x);

/** Nonzero when x is +infinity or -infinity; 0 for NaN and finite values. */
int kelmf_is_inf(double x);

/** The largest finite double (DBL_MAX). */
double kelmf_get_real_max(void);

#ifdef __cplusplus
}
#endif

#pragma GCC visibility pop

#endif
