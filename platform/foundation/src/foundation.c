#include "kelmf/foundation.h"

#include <float.h>
#include <math.h>

int kelmf_is_nan(double x) { return isnan(x) ? 1 : 0; }

int kelmf_is_inf(double x) { return isinf(x) ? 1 : 0; }

double kelmf_get_real_max(void) { return DBL_MAX; }
