#include "plugins/CacheDirectory.h"

#include "base/AppFolders.h"

std::string versionFolder(const char* version) { return subfolder(cacheRoot(), version); }
