#pragma once

#include <cstdio>
#include <cstdlib>

// An invariant of the code under fuzzing: a broken one is a finding.
#define FUZZ_CHECK(condition)                                                                  \
  do {                                                                                         \
    if (!(condition)) {                                                                        \
      std::fprintf(stderr, "invariant broken at %s:%d: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                            \
    }                                                                                          \
  } while (0)
