#include "plugins/StaleVersions.h"

#include <windows.h>

#include "base/AppFolders.h"
#include "base/DirectoryWalk.h"
#include "base/Handles.h"
#include "base/Path.h"
#include "base/WideText.h"
#include "plugins/CacheLock.h"
#include "plugins/PlainFileName.h"

namespace {

// Packed date of a file time; false when the time cannot be put in that form (before 1980).
bool toPackedDate(const FILETIME& time, uint16_t& date) {
    WORD day = 0;
    WORD clock = 0;
    if (!FileTimeToDosDateTime(&time, &day, &clock))
        return false;
    date = day;
    return true;
}

FileHandle openStamp(const std::wstring& folder, const wchar_t* name) {
    const std::wstring path = joinPath(folder, name);
    if (path.empty())
        return FileHandle();
    return FileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Both name one folder, however spelled: "C:\Users\me\..", "c:\users\ME", a short name.
bool sameFolder(const std::wstring& a, const std::wstring& b) {
    if (a.empty() || b.empty())
        return false;
    auto identity = [](const std::wstring& folder, BY_HANDLE_FILE_INFORMATION& info) {
        FileHandle handle(CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        return handle && GetFileInformationByHandle(handle.get(), &info);
    };
    BY_HANDLE_FILE_INFORMATION first, second;
    if (!identity(a, first) || !identity(b, second))
        return _wcsicmp(a.c_str(), b.c_str()) == 0;
    return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber && first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

bool newer(const FILETIME& a, const FILETIME& b) { return CompareFileTime(&a, &b) > 0; }

// The last-write time of the newest file in the folder and its sub-folders, as the cleaning walks
// them; false when there is none. The lock file does not count: the cleaner has just opened it.
bool newestFile(const std::wstring& folder, FILETIME& newest, bool found = false) {
    static const std::wstring lock = widen(kCacheLockName);
    forEachName(folder, [&](const std::wstring& path, const WIN32_FIND_DATAW& entry) {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                found = newestFile(path, newest, found);
        } else if (_wcsicmp(entry.cFileName, lock.c_str()) != 0 && (!found || newer(entry.ftLastWriteTime, newest))) {
            newest = entry.ftLastWriteTime;
            found = true;
        }
    });
    return found;
}

bool stampExists(const std::wstring& folder, const wchar_t* name) {
    const std::wstring path = joinPath(folder, name);
    return !path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A stamp file of ours lies in the folder: a file whose name ends in ".crc". The search's pattern
// would also match a short name such as "A~1.CRC" of "a.crcx", so the long name is looked at.
bool holdsStamp(const std::wstring& folder) {
    bool found = false;
    forEachName(
        folder,
        [&](const std::wstring&, const WIN32_FIND_DATAW& entry) {
            const size_t length = wcslen(entry.cFileName);
            found = found || (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && length > 4 &&
                              _wcsicmp(entry.cFileName + length - 4, L".crc") == 0);
        },
        L"*.crc");
    return found;
}

}  // namespace

void deleteFiles(const std::wstring& folder) {
    forEachName(folder, [](const std::wstring& path, const WIN32_FIND_DATAW& found) {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileW(path.c_str());
        else if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))  // a linked folder leads out of the cache
            deleteFiles(path);
    });
}

void pruneIfStale(const std::wstring& folder) {
    // Judged by "system.crc" when it opens, else by "veskaral.crc"; a time that cannot be read
    // leaves the folder alone rather than asking the other stamp. A folder with neither is judged
    // by its newest file, or a router could leave folders that are never cleaned; but only when a
    // stamp shows that the loader made it: any other folder may be one a plugin keeps for itself.
    FileHandle stamp = openStamp(folder, L"system.crc");
    if (!stamp)
        stamp = openStamp(folder, L"veskaral.crc");
    FILETIME written;
    uint16_t stamped = 0;
    if (stamp) {
        if (!GetFileTime(stamp.get(), nullptr, nullptr, &written))
            return;
        stamp.reset();
    } else if (stampExists(folder, L"system.crc") || stampExists(folder, L"veskaral.crc") || !holdsStamp(folder) ||
               !newestFile(folder, written)) {
        return;
    }
    if (!toPackedDate(written, stamped))
        return;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    uint16_t today = 0;
    if (toPackedDate(now, today) && isStaleDate(stamped, today))
        deleteFiles(folder);
}

void pruneStaleVersions(const std::wstring& running) {
    const std::wstring root = cacheRoot();
    if (root.empty())
        return;
    forEachName(root, [&running](const std::wstring& path, const WIN32_FIND_DATAW& found) {
        // A linked folder leads out of the cache; a folder that another copy of the program is
        // checking, filling or linking is left to it, and the running one to its plugins.
        const DWORD attributes = found.dwFileAttributes;
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
            sameFolder(path, running))
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
