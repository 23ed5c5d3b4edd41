#include <cstdio>

#include "base/Handles.h"
#include "plugins/PluginEntry.h"

void PluginEntry::writeStamp() const {
    char path[36];
    stampPath(path, sizeof path);
    // Text mode on purpose: the stamp on disk ends in CR LF.
    StdFile stamp(std::fopen(path, "w"));
    if (stamp)
        std::fprintf(stamp.get(), "%u\n", crc);
}

bool PluginEntry::stampMatches() const {
    char path[36];
    stampPath(path, sizeof path);
    StdFile stamp(std::fopen(path, "r"));
    if (!stamp)
        return false;
    char line[16];
    if (!std::fgets(line, sizeof line, stamp.get()))
        return false;
    unsigned number;
    if (std::sscanf(line, "%u", &number) != 1)
        return false;
    return number == crc;
}

bool PluginEntry::isCurrent() const { return GetFileAttributesA(file) != INVALID_FILE_ATTRIBUTES && stampMatches(); }
