#include <cstdio>

#include "base/Handles.h"
#include "base/Path.h"
#include "plugins/PluginEntry.h"

namespace {

// The stamp's path in the folder; false when it does not fit.
bool stampFile(const PluginEntry& entry, const char* folder, char* path, size_t size) {
    char name[48];
    entry.stampPath(name, sizeof name);
    return joinPath(path, size, folder, name);
}

}  // namespace

void PluginEntry::writeStamp(const char* folder) const {
    char path[512];
    if (!stampFile(*this, folder, path, sizeof path))
        return;
    // Text mode on purpose: the stamp on disk ends in CR LF.
    StdFile stamp(std::fopen(path, "w"));
    if (stamp)
        std::fprintf(stamp.get(), "%u\n", crc);
}

void PluginEntry::deleteStamp(const char* folder) const {
    char path[512];
    if (stampFile(*this, folder, path, sizeof path))
        DeleteFileA(path);
}

bool PluginEntry::stampMatches(const char* folder) const {
    char path[512];
    if (!stampFile(*this, folder, path, sizeof path))
        return false;
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

bool PluginEntry::isCurrent(const char* folder) const {
    char library[512];
    return joinPath(library, sizeof library, folder, file) && GetFileAttributesA(library) != INVALID_FILE_ATTRIBUTES &&
           stampMatches(folder);
}
