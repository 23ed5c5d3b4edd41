#pragma once
// The figures of a series of runs, and the bodies the benchmark serves.
#include <windows.h>

#include <string>
#include <vector>

// Milliseconds of a series of runs: the fastest, which the rest of a shared machine disturbed least,
// and the median. Negative when any run failed.
struct Times {
    double fastest = -1;
    double median = -1;
};
Times summary(std::vector<double> values);

// The programs and libraries of this folder, concatenated and repeated to `size` bytes: a body as
// compressible as real plugins.
std::string libraryCode(size_t size);
