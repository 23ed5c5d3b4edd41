#include <zlib.h>

#include <cstdio>
#include <memory>

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

// One line of at most 15 characters that starts with an unsigned decimal number.
bool readNumberLine(FILE* file, uint32_t& number) {
    char line[16];
    unsigned value;
    if (!std::fgets(line, sizeof line, file) || std::sscanf(line, "%u", &value) != 1)
        return false;
    number = value;
    return true;
}

// The first line holds `crc`; the second, when asked for, the CRC-32 of the library it vouches for.
bool readStamp(const PluginEntry& entry, const char* folder, uint32_t* library) {
    char path[512];
    if (!stampFile(entry, folder, path, sizeof path))
        return false;
    StdFile stamp(std::fopen(path, "r"));
    uint32_t number = 0;
    if (!stamp || !readNumberLine(stamp.get(), number) || number != entry.crc)
        return false;
    return !library || readNumberLine(stamp.get(), *library);
}

}  // namespace

void PluginEntry::writeStamp(const char* folder) const {
    char path[512];
    if (!stampFile(*this, folder, path, sizeof path))
        return;
    // Text mode on purpose: the stamp on disk ends in CR LF.
    StdFile stamp(std::fopen(path, "w"));
    if (stamp)
        std::fprintf(stamp.get(), "%u\n%u\n", crc, libraryCrc);
}

void PluginEntry::deleteStamp(const char* folder) const {
    char path[512];
    if (stampFile(*this, folder, path, sizeof path))
        DeleteFileA(path);
}

void PluginEntry::deleteLibrary(const char* folder) const {
    deleteStamp(folder);
    char path[512];
    if (joinPath(path, sizeof path, folder, file))
        DeleteFileA(path);
}

bool PluginEntry::stampMatches(const char* folder) const { return readStamp(*this, folder, nullptr); }

// Read once, in large blocks: this runs for every plugin at every start.
bool PluginEntry::measureLibrary(const char* folder) {
    char path[512];
    if (!joinPath(path, sizeof path, folder, file))
        return false;
    FileHandle library(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!library)
        return false;
    constexpr DWORD kBlock = 256 * 1024;
    std::unique_ptr<unsigned char[]> block(new unsigned char[kBlock]);
    uLong sum = crc32(0, nullptr, 0);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(library.get(), block.get(), kBlock, &got, nullptr))
            return false;
        if (got == 0)
            break;
        sum = crc32(sum, block.get(), got);
    }
    libraryCrc = static_cast<uint32_t>(sum);
    return true;
}

bool PluginEntry::isCurrent(const char* folder) {
    uint32_t stamped = 0;
    return readStamp(*this, folder, &stamped) && measureLibrary(folder) && libraryCrc == stamped;
}
