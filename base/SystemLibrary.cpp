#include "base/SystemLibrary.h"

namespace {
// Not in every system's headers: Windows 7 without its 2011 update lacks it.
constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
}  // namespace

HMODULE loadSystemLibrary(const wchar_t* name) {
    if (HMODULE library = LoadLibraryExW(name, nullptr, kSearchSystem32))
        return library;
    // A system without the flag refuses it as a parameter; there the name goes through the usual
    // search, which takes a system library from the system folder and, once the program's start has
    // set its DLL folder, no longer looks in the current one.
    return GetLastError() == ERROR_INVALID_PARAMETER ? LoadLibraryW(name) : nullptr;
}
