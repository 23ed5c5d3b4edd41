#pragma once
// The one walk over a folder's names, for the cache's cleaning and the sweep of leftover files.
#include <windows.h>

#include <string>

#include "base/Handles.h"
#include "base/Path.h"

// Calls visit(path, found) for every name in `folder` that matches `pattern` and does not begin
// with '.': that passes over "." and "..", and leaves dot-files alone.
template <class Visit>
void forEachName(const std::wstring& folder, Visit visit, const wchar_t* pattern = L"*") {
    const std::wstring search = joinPath(folder, pattern);
    if (search.empty())
        return;
    WIN32_FIND_DATAW found;
    FindHandle names(FindFirstFileW(search.c_str(), &found));
    if (!names)
        return;
    do {
        if (found.cFileName[0] == L'.')
            continue;
        const std::wstring path = joinPath(folder, found.cFileName);
        if (!path.empty())
            visit(path, found);
    } while (FindNextFileW(names.get(), &found));
}
