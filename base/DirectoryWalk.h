#pragma once
// The one walk over a folder's names, for the cache's cleaning and the sweep of leftover files.
#include <windows.h>

#include "base/Handles.h"
#include "base/Path.h"

// Calls visit(path, found) for every name in `folder` that matches `pattern` and does not begin
// with '.': that passes over "." and "..", and leaves dot-files alone.
template <class Visit>
void forEachName(const char* folder, Visit visit, const char* pattern = "*") {
    char search[512];
    if (!joinPath(search, sizeof search, folder, pattern))
        return;
    WIN32_FIND_DATAA found;
    FindHandle names(FindFirstFileA(search, &found));
    if (!names)
        return;
    do {
        char path[512];
        if (found.cFileName[0] != '.' && joinPath(path, sizeof path, folder, found.cFileName))
            visit(path, found);
    } while (FindNextFileA(names.get(), &found));
}
