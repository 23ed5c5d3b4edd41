#include "plugins/VersionFolder.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "base/AppFolders.h"
#include "base/Exception.h"
#include "plugins/CacheDirectory.h"

void VersionFolder::enter(const char* version, const std::function<void()>& waiting) {
    const std::string made = versionFolder(version);
    if (made.empty()) {
        const std::string root = cacheRoot();
        if (root.empty())
            throw Exception("Could not use the plugin cache: no application data folder");
        throw Exception::format("Could not use the plugin cache %s\\%s", root.c_str(), version);
    }
    char full[sizeof path_];
    const DWORD length = GetFullPathNameA(made.c_str(), sizeof full, full, nullptr);
    const DWORD attributes = length > 0 && length < sizeof full ? GetFileAttributesA(full) : INVALID_FILE_ATTRIBUTES;
    // A file of that name, a folder that could not be made, or one that cannot be entered.
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) || !library.enter(full))
        throw Exception::format("Could not use the plugin cache %s", made.c_str());
    std::snprintf(path_, sizeof path_, "%s", full);
    // Without a lock the cache is still of use; the lock has said why it could not be had.
    lock.acquire(path_, waiting);
}
