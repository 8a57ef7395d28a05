#pragma once

#include <cstdio>
#include <cstdlib>

// A broken property is a finding: say which one and abort, so that libFuzzer
// keeps the input as a crash artifact.
[[noreturn]] inline void fuzzCheckFailed(const char* file, int line,
                                         const char* condition) {
  std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line,
               condition);
  std::abort();
}

#define FUZZ_CHECK(condition)                                \
  do {                                                       \
    if (!(condition)) {                                      \
      fuzzCheckFailed(__FILE__, __LINE__, #condition);       \
    }                                                        \
  } while (false)
