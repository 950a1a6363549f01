// The fuzz targets' assertion: a failed check is a finding, reported with the
// condition and the place, and ends the run so that the fuzzer keeps the input.
// Unlike assert, it is never compiled out.
#ifndef TILLWIRE_TESTS_FUZZ_FUZZ_CHECK_H
#define TILLWIRE_TESTS_FUZZ_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                               \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (0)

#endif
