#pragma once
// A new version of the index mostly lists plugins that another version folder of the cache already
// holds: a line of the same remote name, checksum and size brings the same bytes, so they are copied
// from there instead of downloaded again. Each folder keeps its own copy, so that cleaning one never
// breaks another.
#include <string>
#include <vector>

#include "plugins/PluginEntry.h"

// The other version folders beside `folder` in the cache root. Linked folders, which lead out of the
// cache, are left out.
std::vector<std::wstring> otherVersionFolders(const std::wstring& folder);

// Brings the entry's library into `folder` from the first of `others` whose stamp vouches for it for
// this very index line (whose checksum is not 0) and whose bytes have the CRC-32 that stamp names;
// flushes it, stamps it and says where it came from. False when none has it: the entry is then
// downloaded as usual.
bool copyFromOtherVersion(PluginEntry& entry, const std::wstring& folder, const std::vector<std::wstring>& others);
