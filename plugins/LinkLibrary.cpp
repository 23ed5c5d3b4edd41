#include "plugins/LinkLibrary.h"

#include <cstdio>

RunFunction linkLibrary(const char* name) {
    char path[80];
    std::snprintf(path, sizeof path, ".\\%s", name);
    std::printf("linking %s\n", path);
    HMODULE library = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!library) {
        std::printf("lib %s not loaded error=%ld\n", path, static_cast<long>(GetLastError()));
        return nullptr;
    }
    std::printf("lib %s loaded\n", path);
    return reinterpret_cast<RunFunction>(reinterpret_cast<void*>(GetProcAddress(library, "run")));
}
