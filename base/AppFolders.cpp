#include "base/AppFolders.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdio>

#include "base/Handles.h"
#include "base/Path.h"
#include "base/SystemLibrary.h"
#include "base/WideText.h"

namespace {

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void makeFolder(const std::wstring& path) {
    if (!exists(path))
        CreateDirectoryW(path.c_str(), nullptr);
}

// "X:\..." or "\\server\share...": a path that means the same folder whatever the current one is.
bool isAbsolutePath(const std::wstring& path) {
    auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    const bool drive = path.size() >= 3 &&
                       ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
                       path[1] == L':' && separator(path[2]);
    return drive || (path.size() >= 3 && separator(path[0]) && separator(path[1]) && !separator(path[2]));
}

bool isFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The registry's "AppData", expanded when it is stored as REG_EXPAND_SZ. Only an existing folder named
// by an absolute path counts: anything else would put the cache wherever the process happens to be.
bool readAppDataValue(std::wstring& path) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", 0,
                      KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegistryKey key(opened);
    wchar_t stored[kPathLimit + 1];
    DWORD type = 0;
    DWORD size = sizeof stored;
    if (RegQueryValueExW(key.get(), L"AppData", nullptr, &type, reinterpret_cast<BYTE*>(stored), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    // The stored text need not carry its terminator; one that fills the buffer without it is too long.
    size_t length = size / sizeof(wchar_t);
    if (length == 0 || stored[length - 1] != L'\0') {
        if (length >= kPathLimit + 1)
            return false;
        stored[length] = L'\0';
    }
    if (type == REG_EXPAND_SZ) {
        wchar_t expanded[kPathLimit + 1];
        const DWORD needed = ExpandEnvironmentStringsW(stored, expanded, kPathLimit + 1);
        if (needed == 0 || needed > kPathLimit + 1)
            return false;
        path = expanded;
    } else {
        path = stored;
    }
    // "C:\Users\me\" and "C:\Users\me" are one folder; keep a drive's own root as it is.
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    return isAbsolutePath(path) && isFolder(path);
}

// The user's own application-data folder as the shell knows it. The shell's library is loaded only
// here, when the registry's value is of no use: it costs start-up time that most runs need not pay.
bool readShellAppData(std::wstring& path) {
    using GetFolderPath = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
    static const auto getFolderPath = [] {
        HMODULE shell = loadSystemLibrary(L"shell32.dll");
        return shell
                   ? reinterpret_cast<GetFolderPath>(reinterpret_cast<void*>(GetProcAddress(shell, "SHGetFolderPathW")))
                   : nullptr;
    }();
    wchar_t found[MAX_PATH];
    if (!getFolderPath || getFolderPath(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, found) != S_OK)
        return false;
    path = found;
    return isAbsolutePath(path) && isFolder(path);
}

}  // namespace

std::wstring subfolder(const std::wstring& parent, const std::wstring& name) {
    std::wstring path = joinPath(parent, name);
    if (!path.empty())
        makeFolder(path);
    return path;
}

std::wstring appDataFolder() {
    std::wstring path;
    // The Windows folder comes last: every user of the machine can read what is kept there.
    if (readAppDataValue(path) || readShellAppData(path))
        return path;
    wchar_t windows[kPathLimit + 1];
    const UINT length = GetWindowsDirectoryW(windows, kPathLimit + 1);
    if (length == 0 || length > kPathLimit)
        return std::wstring();
    const std::wstring fallback = joinPath(windows, L"AppData");
    if (fallback.empty())
        return fallback;
    if (!exists(fallback) && !CreateDirectoryW(fallback.c_str(), nullptr)) {
        std::printf("couldn't make directory %s\n", narrow(fallback).c_str());
        return std::wstring();
    }
    return fallback;
}

std::wstring cacheRoot() { return subfolder(subfolder(appDataFolder(), L"Dunmoral"), L"tarsel"); }

std::wstring settingsPath() { return joinPath(cacheRoot(), L"tarsel.cfg"); }
