/* crt_rand: prints the C runtime's rand() sequence for each seed given, one line per
 * seed: the seed, then the first N draws after srand(seed). Built against msvcrt, the
 * runtime the plug-in's generator reproduces.
 *
 * Usage: crt_rand COUNT SEED... */
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: crt_rand COUNT SEED...\n");
    return 2;
  }
  char* end;
  long count = strtol(argv[1], &end, 10);
  if (*end || count < 1 || count > 1000000) {
    fprintf(stderr, "crt_rand: COUNT must be 1..1000000, not %s\n", argv[1]);
    return 2;
  }
  for (int i = 2; i < argc; ++i) {
    unsigned long seed = strtoul(argv[i], &end, 10);
    if (*end || !*argv[i]) {
      fprintf(stderr, "crt_rand: not a seed: %s\n", argv[i]);
      return 2;
    }
    srand((unsigned)seed);
    printf("%lu", seed);
    for (long n = 0; n < count; ++n) printf(" %d", rand());
    printf("\n");
  }
  return 0;
}
