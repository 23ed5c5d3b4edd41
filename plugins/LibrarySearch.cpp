#include "plugins/LibrarySearch.h"

namespace {

// The DLL folder the process had before the loader took the current folder out of the search.
struct SavedSearch {
    bool restricted = false;
    std::wstring folder;  // empty: none was set
};

SavedSearch saved;

// A folder the system hands out as text of a length it tells: as long as it is, since a deep folder
// does not fit MAX_PATH. Empty on failure.
std::wstring systemFolderText(DWORD(WINAPI* get)(DWORD, LPWSTR)) {
    for (DWORD size = MAX_PATH;;) {
        std::wstring folder(size, L'\0');
        const DWORD length = get(size, &folder[0]);
        if (length < size) {
            folder.resize(length);
            return folder;
        }
        size = length;  // the room it needs, with the terminator
    }
}

}  // namespace

void restrictLibrarySearch() {
    if (saved.restricted)
        return;
    saved.folder = systemFolderText(GetDllDirectoryW);
    saved.restricted = SetDllDirectoryW(L"") != 0;
}

void giveBackLibrarySearch() {
    if (!saved.restricted)
        return;
    saved.restricted = false;
    // Null, not an empty text: that is the search of a process that never set one.
    SetDllDirectoryW(saved.folder.empty() ? nullptr : saved.folder.c_str());
}

HMODULE loadLibraryAt(const std::wstring& path) {
    giveBackLibrarySearch();
    // The system appends ".dll" to a name without a dot, unless the name ends in one.
    std::wstring exact = path;
    const size_t name = exact.find_last_of(L"\\/");
    if (exact.find(L'.', name == std::wstring::npos ? 0 : name + 1) == std::wstring::npos)
        exact += L'.';
    return LoadLibraryExW(exact.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

bool LibraryFolder::enter(const std::wstring& folder) {
    if (!entered)
        previous = systemFolderText(GetCurrentDirectoryW);
    if (!SetCurrentDirectoryW(folder.c_str()))
        return false;
    entered = true;
    return true;
}

LibraryFolder::~LibraryFolder() {
    if (entered && !previous.empty())
        SetCurrentDirectoryW(previous.c_str());
}
