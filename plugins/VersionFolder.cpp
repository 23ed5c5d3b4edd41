#include "plugins/VersionFolder.h"

#include <windows.h>

#include <string>

#include "base/AppFolders.h"
#include "base/Exception.h"
#include "base/Path.h"
#include "base/WideText.h"
#include "plugins/CacheDirectory.h"

void VersionFolder::enter(const char* version, const std::function<void()>& waiting) {
    const std::wstring made = versionFolder(version);
    if (made.empty()) {
        const std::wstring root = cacheRoot();
        if (root.empty())
            throw Exception("Could not use the plugin cache: no application data folder");
        throw Exception::format("Could not use the plugin cache %s\\%s", narrow(root).c_str(), version);
    }
    wchar_t full[kPathLimit + 1];
    const DWORD length = GetFullPathNameW(made.c_str(), kPathLimit + 1, full, nullptr);
    const DWORD attributes = length > 0 && length <= kPathLimit ? GetFileAttributesW(full) : INVALID_FILE_ATTRIBUTES;
    // A file of that name, a folder that could not be made, or one that cannot be entered.
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) || !library.enter(full))
        throw Exception::format("Could not use the plugin cache %s", narrow(made).c_str());
    path_ = full;
    // Without a lock the cache is still of use; the lock has said why it could not be had.
    lock.acquire(path_, waiting);
}
