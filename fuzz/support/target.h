#pragma once
// What every fuzz target shares: no log records (millions of inputs would
// fill the kernel-log stand-in: the threshold sits above the highest level),
// and the check that turns a broken property into a crash libFuzzer keeps.
#include "apps/common/log/log.h"

#include <cstdio>
#include <cstdlib>

namespace fuzzsupport {

inline gen::LogLevel silent = static_cast<gen::LogLevel>(gen::Error + 1);
inline const bool quieted = (gComponentLogLevel = &silent, true);

inline void expect(bool condition, const char* where, const char* what) {
    if (condition) return;
    fprintf(stderr, "%s: %s\n", where, what);
    abort();
}

}  // namespace fuzzsupport

#define FUZZ_EXPECT(condition, what) fuzzsupport::expect(condition, __FILE__, what)
