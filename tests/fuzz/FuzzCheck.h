#pragma once
// A check for the fuzz targets that names the failed comparison: the crash file alone does not
// say which one it was. Aborts, so libFuzzer keeps the input.

#include <cstdio>
#include <cstdlib>

#define Check(condition) CheckAt(condition, #condition, __LINE__)

inline void CheckAt(bool condition, const char* text, int line) {
    if (condition) return;
    std::fprintf(stderr, "check failed at line %d: %s\n", line, text);
    std::abort();
}
