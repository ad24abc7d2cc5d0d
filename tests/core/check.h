// Minimal checking for the C++ core tests: CHECK records a failure and goes on;
// main returns check_report().
#pragma once
#include <cstdio>

inline int& check_failures() {
    static int n = 0;
    return n;
}

#define CHECK(cond)                                                          \
    do {                                                                     \
        if (!(cond)) {                                                       \
            std::fprintf(stderr, "%s:%d: CHECK failed: %s\n", __FILE__, __LINE__, #cond); \
            ++check_failures();                                              \
        }                                                                    \
    } while (0)

inline int check_report() {
    if (check_failures()) std::fprintf(stderr, "%d check(s) failed\n", check_failures());
    return check_failures() ? 1 : 0;
}
