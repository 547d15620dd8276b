#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_entries.h"

void FuzzCheckFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, condition);
  std::abort();
}
