#pragma once
// Where the plugin cache keeps one version of the plugins: a folder per index version under the
// cache root (base/AppFolders.h).
#include <string>

// Cache root + "\" + version, made when missing. Empty without a cache root.
std::wstring versionFolder(const char* version);
