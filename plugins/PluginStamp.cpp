#include <zlib.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "base/Handles.h"
#include "base/HeldFile.h"
#include "base/Path.h"
#include "base/WideText.h"
#include "plugins/PlainFileName.h"
#include "plugins/PluginEntry.h"

namespace {

// The stamp's path in the folder; empty when it does not fit.
std::wstring stampFile(const PluginEntry& entry, const std::wstring& folder) {
    char name[48];
    entry.stampPath(name, sizeof name);
    return joinPath(folder, widen(name));
}

// Another program may hold a stamp for a moment after it was written, and keep it from being opened or
// deleted. One written anew may still be on its way out after the delete before the download.
FILE* openStamp(const std::wstring& path, const wchar_t* mode, bool written = false) {
    FILE* file = nullptr;
    retryWhileHeld(
        [&] {
            SetLastError(ERROR_SUCCESS);  // the runtime may fail before asking the system
            file = _wfopen(path.c_str(), mode);
            return file != nullptr;
        },
        written ? path.c_str() : nullptr);
    return file;
}

void removeStamp(const std::wstring& path) {
    retryWhileHeld([&] { return DeleteFileW(path.c_str()) != 0; });
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

// A stamp that two files share keeps, after its first line, one line per file: its name, its index
// line's checksum and the CRC-32 of its bytes. Older versions read only the first line.
struct SharedLine {
    char file[32];
    uint32_t crc;
    uint32_t library;
};
// Far more than two names of one stem that a router lists.
constexpr size_t kMostSharedLines = 64;

std::vector<SharedLine> readSharedLines(const std::wstring& path) {
    std::vector<SharedLine> lines;
    StdFile stamp(openStamp(path, L"r"));
    char line[80];
    if (!stamp || !std::fgets(line, sizeof line, stamp.get()))
        return lines;
    while (lines.size() < kMostSharedLines && std::fgets(line, sizeof line, stamp.get())) {
        SharedLine read{};
        unsigned crc, library;
        if (std::sscanf(line, "%31s %u %u", read.file, &crc, &library) == 3) {
            read.crc = crc;
            read.library = library;
            lines.push_back(read);
        }
    }
    return lines;
}

// `lines` without the entry's own; the rest stays for the other files of the stem.
std::vector<SharedLine> othersOf(const PluginEntry& entry, std::vector<SharedLine> lines) {
    for (auto it = lines.begin(); it != lines.end();)
        it = sameFileName(it->file, entry.file) ? lines.erase(it) : it + 1;
    return lines;
}

// Text mode on purpose: the stamp on disk ends in CR LF. The first line is the checksum an older
// version looks for, that of the file written last.
void writeSharedLines(const std::wstring& path, const std::vector<SharedLine>& lines) {
    if (lines.empty()) {
        removeStamp(path);
        return;
    }
    StdFile stamp(openStamp(path, L"w", true));
    if (!stamp)
        return;
    std::fprintf(stamp.get(), "%u\n", lines.back().crc);
    for (const SharedLine& line : lines)
        std::fprintf(stamp.get(), "%s %u %u\n", line.file, line.crc, line.library);
}

// The first line holds `crc`; the second, when asked for, the CRC-32 of the library it vouches for.
// A shared stamp holds both in the entry's own line.
bool readStamp(const PluginEntry& entry, const std::wstring& folder, uint32_t* library) {
    const std::wstring path = stampFile(entry, folder);
    if (path.empty())
        return false;
    if (entry.sharedStamp) {
        for (const SharedLine& line : readSharedLines(path)) {
            if (sameFileName(line.file, entry.file) && line.crc == entry.crc) {
                if (library)
                    *library = line.library;
                return true;
            }
        }
        return false;
    }
    StdFile stamp(openStamp(path, L"r"));
    uint32_t number = 0;
    if (!stamp || !readNumberLine(stamp.get(), number) || number != entry.crc)
        return false;
    return !library || readNumberLine(stamp.get(), *library);
}

}  // namespace

void PluginEntry::writeStamp(const std::wstring& folder) const {
    const std::wstring path = stampFile(*this, folder);
    if (path.empty())
        return;
    if (sharedStamp) {
        std::vector<SharedLine> lines = othersOf(*this, readSharedLines(path));
        SharedLine own{};
        std::snprintf(own.file, sizeof own.file, "%s", file);
        own.crc = crc;
        own.library = libraryCrc;
        lines.push_back(own);
        writeSharedLines(path, lines);
        return;
    }
    // Text mode on purpose: the stamp on disk ends in CR LF.
    StdFile stamp(openStamp(path, L"w", true));
    if (stamp)
        std::fprintf(stamp.get(), "%u\n%u\n", crc, libraryCrc);
}

// In place: a rewrite that failed half-way, on a full disk, would leave the plugin out of date.
void PluginEntry::renewStamp(const std::wstring& folder) const {
    const std::wstring path = stampFile(*this, folder);
    if (path.empty())
        return;
    FileHandle stamp;
    retryWhileHeld([&] {
        stamp.reset(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        return static_cast<bool>(stamp);
    }, path.c_str());
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    if (stamp)
        SetFileTime(stamp.get(), nullptr, nullptr, &now);
}

void PluginEntry::deleteStamp(const std::wstring& folder) const {
    const std::wstring path = stampFile(*this, folder);
    if (path.empty())
        return;
    if (!sharedStamp) {
        removeStamp(path);
        return;
    }
    // The other files of the stem stay vouched for.
    const std::vector<SharedLine> lines = readSharedLines(path);
    const std::vector<SharedLine> others = othersOf(*this, lines);
    if (others.size() != lines.size() || others.empty())
        writeSharedLines(path, others);
}

bool PluginEntry::stampMatches(const std::wstring& folder) const { return readStamp(*this, folder, nullptr); }

// Read once, in large blocks: this runs for every plugin at every start.
bool PluginEntry::measureLibrary(const std::wstring& folder) {
    const std::wstring path = joinPath(folder, widen(file));
    if (path.empty())
        return false;
    FileHandle library;
    const bool opened = retryWhileHeld([&] {
        library.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        return static_cast<bool>(library);
    });
    if (!opened)
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

bool PluginEntry::isCurrent(const std::wstring& folder) {
    uint32_t stamped = 0;
    return readStamp(*this, folder, &stamped) && measureLibrary(folder) && libraryCrc == stamped;
}
