/* A user's own functions that happen to share short names with routines of
   the generated code's runtime. The model must neither clash with them at
   link time nor call them. */
#include <stdio.h>
#include <stdlib.h>

void svd(void);
double dotProduct(double x);

void svd(void) {
  fprintf(stderr, "the model called the user's svd\n");
  abort();
}

double dotProduct(double x) {
  fprintf(stderr, "the model called the user's dotProduct\n");
  abort();
  return x;
}
