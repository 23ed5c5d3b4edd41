#pragma once
// A program of this folder run as a child, waited for (bounded), for the tests and the benchmark.
#include <windows.h>

#include <cstddef>
#include <string>

struct ChildOptions {
    DWORD timeoutMs = 60000;
    bool keepOutput = true;    // standard output and error caught; else they go to NUL
    bool watchMemory = false;  // the peak working set read every few milliseconds while it runs
};

struct ChildResult {
    bool finished = false;  // ended within the time; else it was terminated
    DWORD exitCode = 0;
    std::string output;
    double milliseconds = -1;   // from start to end, when it finished
    size_t peakWorkingSet = 0;  // bytes, when watched
};

// Reading the memory wakes this process every few milliseconds, which a timed start should not pay for.
ChildResult runChild(const std::string& commandLine, const ChildOptions& options = {});

// The bytes of a file; empty when it cannot be read.
std::string fileBytes(const char* name);
