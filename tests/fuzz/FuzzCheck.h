#pragma once
// What the libFuzzer targets share: a broken invariant aborts, which libFuzzer reports as a crash
// and keeps the input that caused it.
#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

inline void check(bool holds, const char* what) {
    if (!holds)
        fail(what);
}
