/* A user's own functions with the short names of routines of the generated
   code's runtime: the model must neither clash with them nor call them. */
#include <stdlib.h>

void svd(void);
double dotProduct(double x);

void svd(void) { abort(); }

double dotProduct(double x) {
  abort();
  return x;
}
