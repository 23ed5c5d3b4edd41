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
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(kernel, name))) : nullptr;
}

}  // namespace

void restrictLibrarySearch() {
    SetDllDirectoryW(L"");
    auto setDefault = kernelFunction<SetDefaultDllDirectoriesFunction>("SetDefaultDllDirectories");
    search.add = kernelFunction<AddDllDirectoryFunction>("AddDllDirectory");
    search.remove = kernelFunction<RemoveDllDirectoryFunction>("RemoveDllDirectory");
    search.restricted = setDefault && search.add && search.remove && setDefault(kSearchSystem32 | kSearchUserDirs);
}

HMODULE loadLibraryAt(const std::wstring& path) {
    if (search.restricted)
        return LoadLibraryExW(path.c_str(), nullptr, kSearchDllLoadDir | kSearchSystem32 | kSearchUserDirs);
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

namespace {

// As long as it is: a deep folder does not fit MAX_PATH.
std::wstring currentFolder() {
    for (DWORD size = MAX_PATH;;) {
        std::wstring folder(size, L'\0');
        const DWORD length = GetCurrentDirectoryW(size, &folder[0]);
        if (length < size) {
            folder.resize(length);
            return folder;
        }
        if (length == 0)
            return std::wstring();
        size = length;  // the room it needs, with the terminator
    }
}

}  // namespace

bool LibraryFolder::enter(const std::wstring& folder) {
    if (!entered)
        previous = currentFolder();
    if (!SetCurrentDirectoryW(folder.c_str()))
        return false;
    entered = true;
    if (searched)
        return true;
    if (search.restricted) {
        cookie = search.add(folder.c_str());
        searched = cookie != nullptr;
    } else {
        searched = SetDllDirectoryW(folder.c_str()) != 0;
    }
    return true;
}

LibraryFolder::~LibraryFolder() {
    if (searched) {
        if (search.restricted)
            search.remove(cookie);
        else
            SetDllDirectoryW(L"");
    }
    if (entered && !previous.empty())
        SetCurrentDirectoryW(previous.c_str());
}
