#pragma once
#include <cstddef>

// folder + "\" + name into `out`. A cut path could name some other file or folder, so a path that
// does not fit is not made at all: false, and `out` must not be used.
bool joinPath(char* out, size_t size, const char* folder, const char* name);
