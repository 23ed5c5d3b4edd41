#include "plugins/LinkLibrary.h"

#include <cstdio>

#include "base/Path.h"
#include "plugins/LibrarySearch.h"

namespace {

RunFunction load(const char* path, const char* shown) {
    std::printf("linking %s\n", shown);
    HMODULE library = path ? loadLibraryAt(path) : nullptr;
    if (!library) {
        const DWORD error = path ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
        std::printf("lib %s not loaded error=%ld\n", shown, static_cast<long>(error));
        return nullptr;
    }
    std::printf("lib %s loaded\n", shown);
    return reinterpret_cast<RunFunction>(reinterpret_cast<void*>(GetProcAddress(library, "run")));
}

}  // namespace

RunFunction linkLibrary(const char* name) {
    char shown[80];
    std::snprintf(shown, sizeof shown, ".\\%s", name);
    // Absolute, so that the system takes it from the current folder and from nowhere else.
    char path[MAX_PATH];
    const DWORD length = GetFullPathNameA(shown, sizeof path, path, nullptr);
    return load(length > 0 && length < sizeof path ? path : nullptr, shown);
}

RunFunction linkLibrary(const char* folder, const char* name) {
    char shown[80];
    std::snprintf(shown, sizeof shown, ".\\%s", name);
    char path[512];
    return load(joinPath(path, sizeof path, folder, name) ? path : nullptr, shown);
}
