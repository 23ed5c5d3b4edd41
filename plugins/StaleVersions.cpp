#include "plugins/StaleVersions.h"

#include <windows.h>

#include "base/AppFolders.h"
#include "base/DirectoryWalk.h"
#include "base/Handles.h"
#include "base/Path.h"
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

FileHandle openStamp(const char* folder, const char* name) {
    char path[512];
    if (!joinPath(path, sizeof path, folder, name))
        return FileHandle();
    return FileHandle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool newer(const FILETIME& a, const FILETIME& b) { return CompareFileTime(&a, &b) > 0; }

// The last-write time of the newest file in the folder and its sub-folders, as the cleaning walks
// them; false when there is none. The lock file does not count: the cleaner has just opened it.
bool newestFile(const char* folder, FILETIME& newest, bool found = false) {
    forEachName(folder, [&](const char* path, const WIN32_FIND_DATAA& entry) {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                found = newestFile(path, newest, found);
        } else if (!sameFileName(entry.cFileName, kCacheLockName) && (!found || newer(entry.ftLastWriteTime, newest))) {
            newest = entry.ftLastWriteTime;
            found = true;
        }
    });
    return found;
}

bool stampExists(const char* folder, const char* name) {
    char path[512];
    return joinPath(path, sizeof path, folder, name) && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

void deleteFiles(const char* folder) {
    forEachName(folder, [](const char* path, const WIN32_FIND_DATAA& found) {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileA(path);
        else if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))  // a linked folder leads out of the cache
            deleteFiles(path);
    });
}

void pruneIfStale(const char* folder) {
    // Judged by "system.crc" when it opens, else by "veskaral.crc"; a time that cannot be read
    // leaves the folder alone rather than asking the other stamp. A folder with neither is judged
    // by its newest file, or a router could leave folders that are never cleaned.
    FileHandle stamp = openStamp(folder, "system.crc");
    if (!stamp)
        stamp = openStamp(folder, "veskaral.crc");
    FILETIME written;
    uint16_t stamped = 0;
    if (stamp) {
        if (!GetFileTime(stamp.get(), nullptr, nullptr, &written))
            return;
        stamp.reset();
    } else if (stampExists(folder, "system.crc") || stampExists(folder, "veskaral.crc") ||
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

void pruneStaleVersions() {
    const std::string root = cacheRoot();
    if (root.empty())
        return;
    forEachName(root.c_str(), [](const char* path, const WIN32_FIND_DATAA& found) {
        // A linked folder leads out of the cache; a folder that another copy of the program is
        // checking, filling or linking is left to it.
        const DWORD attributes = found.dwFileAttributes;
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
