#include "plugins/LinkLibrary.h"

#include <cstdio>

#include "base/Path.h"
#include "base/WideText.h"
#include "plugins/LibrarySearch.h"

namespace {

RunFunction load(const std::wstring& path, const char* shown) {
    std::printf("linking %s\n", shown);
    HMODULE library = path.empty() ? nullptr : loadLibraryAt(path);
    if (!library) {
        const DWORD error = path.empty() ? ERROR_FILENAME_EXCED_RANGE : GetLastError();
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
    // Absolute, so that the system takes it from the current folder and from nowhere else. The name
    // comes from the command line in the code page; the folder may be named in any script.
    const std::wstring relative = widen(shown);
    wchar_t path[kPathLimit + 1];
    const DWORD length = relative.empty() ? 0 : GetFullPathNameW(relative.c_str(), kPathLimit + 1, path, nullptr);
    return load(length > 0 && length <= kPathLimit ? std::wstring(path, length) : std::wstring(), shown);
}

RunFunction linkLibrary(const std::wstring& folder, const char* name) {
    char shown[80];
    std::snprintf(shown, sizeof shown, ".\\%s", name);
    return load(joinPath(folder, widen(name)), shown);
}
