#include "plugins/LibrarySearch.h"

namespace {

// Not in every system's headers, nor in every system: looked up at run time.
constexpr DWORD kSearchDllLoadDir = 0x00000100;  // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
constexpr DWORD kSearchUserDirs = 0x00000400;    // LOAD_LIBRARY_SEARCH_USER_DIRS
constexpr DWORD kSearchSystem32 = 0x00000800;    // LOAD_LIBRARY_SEARCH_SYSTEM32

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
using AddDllDirectoryFunction = void*(WINAPI*)(const wchar_t*);
using RemoveDllDirectoryFunction = BOOL(WINAPI*)(void*);

struct SearchFunctions {
    AddDllDirectoryFunction add = nullptr;
    RemoveDllDirectoryFunction remove = nullptr;
    bool restricted = false;  // the default search holds only the system folder and added folders
};

SearchFunctions search;

template <class Function>
Function kernelFunction(const char* name) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return kernel ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(kernel, name))) : nullptr;
}

}  // namespace

void restrictLibrarySearch() {
    SetDllDirectoryA("");
    auto setDefault = kernelFunction<SetDefaultDllDirectoriesFunction>("SetDefaultDllDirectories");
    search.add = kernelFunction<AddDllDirectoryFunction>("AddDllDirectory");
    search.remove = kernelFunction<RemoveDllDirectoryFunction>("RemoveDllDirectory");
    search.restricted = setDefault && search.add && search.remove && setDefault(kSearchSystem32 | kSearchUserDirs);
}

HMODULE loadLibraryAt(const char* path) {
    if (search.restricted)
        return LoadLibraryExA(path, nullptr, kSearchDllLoadDir | kSearchSystem32 | kSearchUserDirs);
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

bool LibraryFolder::enter(const char* folder) {
    if (!entered) {
        const DWORD length = GetCurrentDirectoryA(sizeof previous, previous);
        if (length == 0 || length >= sizeof previous)
            previous[0] = '\0';
    }
    if (!SetCurrentDirectoryA(folder))
        return false;
    entered = true;
    if (searched)
        return true;
    if (search.restricted) {
        wchar_t wide[MAX_PATH];
        if (MultiByteToWideChar(CP_ACP, 0, folder, -1, wide, MAX_PATH) > 0)
            cookie = search.add(wide);
        searched = cookie != nullptr;
    } else {
        searched = SetDllDirectoryA(folder) != 0;
    }
    return true;
}

LibraryFolder::~LibraryFolder() {
    if (searched) {
        if (search.restricted)
            search.remove(cookie);
        else
            SetDllDirectoryA("");
    }
    if (entered && previous[0])
        SetCurrentDirectoryA(previous);
}
