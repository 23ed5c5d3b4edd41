#include <windows.h>

#include "bench/Programs.h"

#include <algorithm>
#include <cstdio>

#include "base/Handles.h"
#include "tests/support/ChildProcess.h"

Times summary(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    if (values.empty() || values.front() < 0)
        return {};
    return {values.front(), values[values.size() / 2]};
}

std::string libraryCode(size_t size) {
    std::string all;
    for (const char* pattern : {"*.exe", "*.dll"}) {
        WIN32_FIND_DATAA found;
        FindHandle search(FindFirstFileA(pattern, &found));
        if (!search)
            continue;
        do {
            all += fileBytes(found.cFileName);
        } while (FindNextFileA(search.get(), &found));
    }
    if (all.empty())
        return all;
    std::string body;
    body.reserve(size);
    while (body.size() < size)
        body += all;  // a copy lies further back than deflate's 32 KB window: repeating changes no ratio
    body.resize(size);
    return body;
}
