#include "plugins/CacheDirectory.h"

#include <shlobj.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "base/Handles.h"
#include "base/Path.h"
#include "plugins/CacheLock.h"

namespace {

char appDataPath[512];
char cacheRootPath[512];
char versionPath[512];

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
bool readAppDataValue() {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", 0,
                      KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegistryKey key(opened);
    char stored[sizeof appDataPath];
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
        const DWORD needed = ExpandEnvironmentStringsA(stored, appDataPath, sizeof appDataPath);
        if (needed == 0 || needed > sizeof appDataPath)
            return false;
    } else {
        std::snprintf(appDataPath, sizeof appDataPath, "%s", stored);
    }
    // "C:\Users\me\" and "C:\Users\me" are one folder; keep a drive's own root as it is.
    size_t length = std::strlen(appDataPath);
    while (length > 3 && (appDataPath[length - 1] == '\\' || appDataPath[length - 1] == '/'))
        appDataPath[--length] = '\0';
    return isAbsolutePath(appDataPath) && isFolder(appDataPath);
}

// The user's own application-data folder as the shell knows it. The shell's library is loaded only
// here, when the registry's value is of no use: it costs start-up time that most runs need not pay.
bool readShellAppData() {
    using GetFolderPath = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
    HMODULE shell = LoadLibraryA("shell32.dll");
    auto getFolderPath =
        shell ? reinterpret_cast<GetFolderPath>(reinterpret_cast<void*>(GetProcAddress(shell, "SHGetFolderPathA")))
              : nullptr;
    char found[MAX_PATH];
    if (!getFolderPath || getFolderPath(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, found) != S_OK)
        return false;
    std::snprintf(appDataPath, sizeof appDataPath, "%s", found);
    return isAbsolutePath(appDataPath) && isFolder(appDataPath);
}

// Calls visit(path, attributes) for every name in `folder` that does not begin with '.': that
// passes over "." and "..", and leaves dot-files alone.
template <class Visit>
void forEachName(const char* folder, Visit visit) {
    char pattern[512];
    if (!joinPath(pattern, sizeof pattern, folder, "*"))
        return;
    WIN32_FIND_DATAA found;
    FindHandle search(FindFirstFileA(pattern, &found));
    if (!search)
        return;
    do {
        char path[512];
        if (found.cFileName[0] != '.' && joinPath(path, sizeof path, folder, found.cFileName))
            visit(path, found.dwFileAttributes);
    } while (FindNextFileA(search.get(), &found));
}

// Packed date of a file time; false when the time cannot be put in that form (before 1980).
bool toPackedDate(const FILETIME& time, uint16_t& date) {
    WORD day = 0;
    WORD clock = 0;
    if (!FileTimeToDosDateTime(&time, &day, &clock))
        return false;
    date = day;
    return true;
}

FileHandle openStamp(const char* folder, const char* name) {
    char path[512];
    if (!joinPath(path, sizeof path, folder, name))
        return FileHandle();
    return FileHandle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// "TSL" and one to four hexadecimal digits, ".tmp": the names GetTempFileNameA gives. The search
// pattern also matches short names, which could belong to anything.
bool isTemporaryName(const char* name) {
    if (_strnicmp(name, "TSL", 3) != 0)
        return false;
    size_t digits = 0;
    while (digits < 5 && std::isxdigit(static_cast<unsigned char>(name[3 + digits])))
        ++digits;
    return digits >= 1 && digits <= 4 && _stricmp(name + 3 + digits, ".tmp") == 0;
}

}  // namespace

void removeLeftoverTemporaryFiles(const char* folder) {
    char pattern[512];
    if (!joinPath(pattern, sizeof pattern, folder, "TSL*.tmp"))
        return;
    WIN32_FIND_DATAA found;
    FindHandle search(FindFirstFileA(pattern, &found));
    if (!search)
        return;
    do {
        char path[512];
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && isTemporaryName(found.cFileName) &&
            joinPath(path, sizeof path, folder, found.cFileName))
            DeleteFileA(path);
    } while (FindNextFileA(search.get(), &found));
}

const char* appDataFolder() {
    // The Windows folder comes last: every user of the machine can read what is kept there.
    if (readAppDataValue() || readShellAppData())
        return appDataPath;
    char windows[512];
    UINT length = GetWindowsDirectoryA(windows, sizeof windows);
    if (length == 0 || length >= sizeof windows || !joinPath(appDataPath, sizeof appDataPath, windows, "AppData"))
        return nullptr;
    if (!exists(appDataPath) && !CreateDirectoryA(appDataPath, nullptr)) {
        std::printf("couldn't make directory %s\n", appDataPath);
        return nullptr;
    }
    return appDataPath;
}

const char* cacheRoot() {
    const char* appData = appDataFolder();
    if (!appData)
        return nullptr;
    char company[512];
    if (!joinPath(company, sizeof company, appData, "Dunmoral"))
        return nullptr;
    makeFolder(company);
    if (!joinPath(cacheRootPath, sizeof cacheRootPath, company, "tarsel"))
        return nullptr;
    makeFolder(cacheRootPath);
    return cacheRootPath;
}

const char* versionFolder(const char* version) {
    const char* root = cacheRoot();
    if (!root || !joinPath(versionPath, sizeof versionPath, root, version))
        return nullptr;
    makeFolder(versionPath);
    return versionPath;
}

void deleteFiles(const char* folder) {
    forEachName(folder, [](const char* path, DWORD attributes) {
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileA(path);
        else if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))  // a linked folder leads out of the cache
            deleteFiles(path);
    });
}

void pruneIfStale(const char* folder) {
    // Judged by "system.crc" when it opens, else by "veskaral.crc"; a time that cannot be read
    // leaves the folder alone rather than asking the other stamp.
    FileHandle stamp = openStamp(folder, "system.crc");
    if (!stamp)
        stamp = openStamp(folder, "veskaral.crc");
    FILETIME written;
    uint16_t stamped = 0;
    if (!stamp || !GetFileTime(stamp.get(), nullptr, nullptr, &written) || !toPackedDate(written, stamped))
        return;
    stamp.reset();
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    uint16_t today = 0;
    if (toPackedDate(now, today) && isStaleDate(stamped, today))
        deleteFiles(folder);
}

void pruneStaleVersions() {
    const char* found = cacheRoot();
    if (!found)
        return;
    char root[512];  // pruning asks for other paths; keep this one
    std::snprintf(root, sizeof root, "%s", found);
    forEachName(root, [](const char* path, DWORD attributes) {
        // A linked folder leads out of the cache; a folder that another copy of the program is
        // checking, filling or linking is left to it.
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return;
        CacheLock inUse;
        if (inUse.tryAcquire(path))
            pruneIfStale(path);
    });
}

uint16_t packedDate(int year, int month, int day) {
    return static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}

bool isStaleDate(uint16_t stamped, uint16_t today) { return static_cast<int>(today) - static_cast<int>(stamped) > 13; }
