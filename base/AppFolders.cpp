#include "base/AppFolders.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>

#include "base/Handles.h"
#include "base/Path.h"

namespace {

bool exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

void makeFolder(const char* path) {
    if (!exists(path))
        CreateDirectoryA(path, nullptr);
}

// "X:\..." or "\\server\share...": a path that means the same folder whatever the current one is.
bool isAbsolutePath(const char* path) {
    auto separator = [](char c) { return c == '\\' || c == '/'; };
    const bool drive = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) && path[1] == ':' &&
                       separator(path[2]);
    return drive || (separator(path[0]) && separator(path[1]) && path[2] && !separator(path[2]));
}

bool isFolder(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The registry's "AppData", expanded when it is stored as REG_EXPAND_SZ. Only an existing folder named
// by an absolute path counts: anything else would put the cache wherever the process happens to be.
bool readAppDataValue(char (&path)[512]) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", 0,
                      KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegistryKey key(opened);
    char stored[512];
    DWORD type = 0;
    DWORD size = sizeof stored;
    if (RegQueryValueExA(key.get(), "AppData", nullptr, &type, reinterpret_cast<BYTE*>(stored), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    // The stored text need not carry its terminator; one that fills the buffer without it is too long.
    if (size == 0 || stored[size - 1] != '\0') {
        if (size >= sizeof stored)
            return false;
        stored[size] = '\0';
    }
    if (type == REG_EXPAND_SZ) {
        const DWORD needed = ExpandEnvironmentStringsA(stored, path, sizeof path);
        if (needed == 0 || needed > sizeof path)
            return false;
    } else {
        std::snprintf(path, sizeof path, "%s", stored);
    }
    // "C:\Users\me\" and "C:\Users\me" are one folder; keep a drive's own root as it is.
    size_t length = std::strlen(path);
    while (length > 3 && (path[length - 1] == '\\' || path[length - 1] == '/'))
        path[--length] = '\0';
    return isAbsolutePath(path) && isFolder(path);
}

// The user's own application-data folder as the shell knows it. The shell's library is loaded only
// here, when the registry's value is of no use: it costs start-up time that most runs need not pay.
bool readShellAppData(char (&path)[512]) {
    using GetFolderPath = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
    static const auto getFolderPath = [] {
        HMODULE shell = LoadLibraryA("shell32.dll");
        return shell
                   ? reinterpret_cast<GetFolderPath>(reinterpret_cast<void*>(GetProcAddress(shell, "SHGetFolderPathA")))
                   : nullptr;
    }();
    char found[MAX_PATH];
    if (!getFolderPath || getFolderPath(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, found) != S_OK)
        return false;
    std::snprintf(path, sizeof path, "%s", found);
    return isAbsolutePath(path) && isFolder(path);
}

// "parent\name"; empty when there is no parent or the path does not fit.
std::string joined(const std::string& parent, const char* name) {
    char path[512];
    if (parent.empty() || !joinPath(path, sizeof path, parent.c_str(), name))
        return std::string();
    return path;
}

}  // namespace

std::string subfolder(const std::string& parent, const char* name) {
    std::string path = joined(parent, name);
    if (!path.empty())
        makeFolder(path.c_str());
    return path;
}

std::string appDataFolder() {
    char path[512];
    // The Windows folder comes last: every user of the machine can read what is kept there.
    if (readAppDataValue(path) || readShellAppData(path))
        return path;
    char windows[512];
    const UINT length = GetWindowsDirectoryA(windows, sizeof windows);
    if (length == 0 || length >= sizeof windows)
        return std::string();
    const std::string fallback = joined(windows, "AppData");
    if (fallback.empty())
        return fallback;
    if (!exists(fallback.c_str()) && !CreateDirectoryA(fallback.c_str(), nullptr)) {
        std::printf("couldn't make directory %s\n", fallback.c_str());
        return std::string();
    }
    return fallback;
}

std::string cacheRoot() { return subfolder(subfolder(appDataFolder(), "Dunmoral"), "tarsel"); }

std::string settingsPath() { return joined(cacheRoot(), "tarsel.cfg"); }
