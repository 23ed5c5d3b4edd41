#pragma once
// Programs of the benchmark's folder run as children, timed and watched, and the bodies it serves.
#include <windows.h>

#include <string>
#include <vector>

struct ChildRun {
    double milliseconds = -1;   // from start to end; negative when it failed to start or to end
    DWORD status = 0;           // exit status
    size_t peakWorkingSet = 0;  // bytes; read while it runs, when asked for
};

// Runs a command line with its output discarded. Reading the memory wakes this process every few
// milliseconds, which a timed start should not pay for.
ChildRun runProgram(const char* commandLine, bool watchMemory);

// Milliseconds of a series of runs: the fastest, which the rest of a shared machine disturbed least,
// and the median. Negative when any run failed.
struct Times {
    double fastest = -1;
    double median = -1;
};
Times summary(std::vector<double> values);

// The bytes of a file of this folder; empty when it cannot be read.
std::string fileBytes(const char* name);
// The programs and libraries of this folder, concatenated and repeated to `size` bytes: a body as
// compressible as real plugins.
std::string libraryCode(size_t size);
