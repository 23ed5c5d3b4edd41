#include "plugins/CacheDirectory.h"

#include <windows.h>

#include "base/AppFolders.h"
#include "base/Path.h"

std::string versionFolder(const char* version) {
    const std::string root = cacheRoot();
    char path[512];
    if (root.empty() || !joinPath(path, sizeof path, root.c_str(), version))
        return std::string();
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        CreateDirectoryA(path, nullptr);
    return path;
}
