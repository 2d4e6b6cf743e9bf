/* Compiled as C: the public header must stand alone in a C program, and the
 * library's exports must answer through it. */
#include <stdio.h>

#include "zolv/zolvexformat.h"

int main(void) {
  int failures = 0;
  if (ZolvPreWrite(NULL, 0, 0) != ZOLV_PREWRITE_ACCEPTED) {
    fprintf(stderr, "ZolvPreWrite without an object must accept\n");
    ++failures;
  }
  if (ZolvWrite(NULL, NULL, "format=SBI", 0) != ZOLV_WRITE_FAILED) {
    fprintf(stderr, "ZolvWrite without an object must fail\n");
    ++failures;
  }
  printf("%d passed, %d failed\n", 2 - failures, failures);
  return failures == 0 ? 0 : 1;
}
