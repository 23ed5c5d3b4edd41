#include "plugins/CacheDirectory.h"

#include "base/AppFolders.h"
#include "base/WideText.h"

std::wstring versionFolder(const char* version) { return subfolder(cacheRoot(), widen(version)); }
