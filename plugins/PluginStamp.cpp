#include <zlib.h>

#include <cstdio>
#include <cstring>
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

// What a stamp says of one file. A stamp of one file holds the checksum, the CRC-32 of the library,
// then the mark; a stamp that two files share keeps, after its first line, one line per file: its
// name, its index line's checksum, the CRC-32 of its bytes and the mark. The mark is the library's
// size and last-write time, then the index line's size and remote name: versions that do not flush
// a download before stamping it write none, and older versions read only what comes before it.
struct Vouched {
    char file[32] = "";  // in a shared stamp
    uint32_t crc = 0;
    uint32_t library = 0;
    uint64_t librarySize = 0;
    uint64_t libraryWritten = 0;  // 0: no mark
    uint32_t size = 0;
    char name[32] = "";
};
// Seven fields, two of them names of at most 31 characters.
constexpr size_t kLineSize = 160;
// Far more than two names of one stem that a router lists.
constexpr size_t kMostSharedLines = 64;

void readMark(const char* text, Vouched& into) {
    unsigned long long size = 0, written = 0;
    unsigned lineSize = 0;
    char name[32];
    if (std::sscanf(text, "%llu %llu %u %31s", &size, &written, &lineSize, name) != 4)
        return;
    into.librarySize = size;
    into.libraryWritten = written;
    into.size = lineSize;
    std::snprintf(into.name, sizeof into.name, "%s", name);
}

// The mark after `before`, when the library's size and time are known.
void writeMark(FILE* stamp, const char* before, uint64_t librarySize, uint64_t libraryWritten, uint32_t size,
               const char* name) {
    if (libraryWritten)
        std::fprintf(stamp, "%s%llu %llu %u %s", before, static_cast<unsigned long long>(librarySize),
                     static_cast<unsigned long long>(libraryWritten), size, name);
}

bool readSharedLine(const char* line, Vouched& into) {
    unsigned crc, library;
    int used = 0;
    if (std::sscanf(line, "%31s %u %u%n", into.file, &crc, &library, &used) != 3)
        return false;
    into.crc = crc;
    into.library = library;
    readMark(line + used, into);
    return true;
}

std::vector<Vouched> readSharedLines(const std::wstring& path) {
    std::vector<Vouched> lines;
    StdFile stamp(openStamp(path, L"r"));
    char line[kLineSize];
    if (!stamp || !std::fgets(line, sizeof line, stamp.get()))
        return lines;
    while (lines.size() < kMostSharedLines && std::fgets(line, sizeof line, stamp.get())) {
        Vouched read;
        if (readSharedLine(line, read))
            lines.push_back(read);
    }
    return lines;
}

// `lines` without the entry's own; the rest stays for the other files of the stem.
std::vector<Vouched> othersOf(const PluginEntry& entry, std::vector<Vouched> lines) {
    for (auto it = lines.begin(); it != lines.end();)
        it = sameFileName(it->file, entry.file) ? lines.erase(it) : it + 1;
    return lines;
}

// Text mode on purpose: the stamp on disk ends in CR LF. The first line is the checksum an older
// version looks for, that of the file written last.
void writeSharedLines(const std::wstring& path, const std::vector<Vouched>& lines, const PluginEntry* own) {
    if (lines.empty() && !own) {
        removeStamp(path);
        return;
    }
    StdFile stamp(openStamp(path, L"w", true));
    if (!stamp)
        return;
    std::fprintf(stamp.get(), "%u\n", own ? own->crc : lines.back().crc);
    for (const Vouched& line : lines) {
        std::fprintf(stamp.get(), "%s %u %u", line.file, line.crc, line.library);
        writeMark(stamp.get(), " ", line.librarySize, line.libraryWritten, line.size, line.name);
        std::fprintf(stamp.get(), "\n");
    }
    if (own) {
        std::fprintf(stamp.get(), "%s %u %u", own->file, own->crc, own->libraryCrc);
        writeMark(stamp.get(), " ", own->librarySize, own->libraryWritten, own->size, own->name);
        std::fprintf(stamp.get(), "\n");
    }
}

enum class Layout { Single, Shared, Either };

// What the stamp at `path` says of the entry's file, when it was stamped for the entry's checksum.
// A stamp of another version folder may have either layout: a second line of one number is a stamp
// of one file.
bool findVouched(const PluginEntry& entry, const std::wstring& path, Layout layout, Vouched& found) {
    StdFile stamp(openStamp(path, L"r"));
    uint32_t first = 0;
    char line[kLineSize];
    if (!stamp)
        return false;
    const bool numbered = readNumberLine(stamp.get(), first);
    if (!std::fgets(line, sizeof line, stamp.get()))
        return false;
    Vouched read;
    const bool shared = layout == Layout::Shared || (layout == Layout::Either && readSharedLine(line, read));
    if (!shared) {
        unsigned library;
        if (!numbered || first != entry.crc || std::sscanf(line, "%u", &library) != 1)
            return false;
        found.crc = first;
        found.library = library;
        if (std::fgets(line, sizeof line, stamp.get()))
            readMark(line, found);
        return true;
    }
    size_t count = 0;
    do {
        read = Vouched();
        if (readSharedLine(line, read) && sameFileName(read.file, entry.file) && read.crc == entry.crc) {
            found = read;
            return true;
        }
    } while (++count < kMostSharedLines && std::fgets(line, sizeof line, stamp.get()));
    return false;
}

// 100-nanosecond ticks since 1601.
uint64_t ticks(const FILETIME& time) { return (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

// The size and last-write time of the library as the system reports them, without opening it.
bool libraryState(const PluginEntry& entry, const std::wstring& folder, uint64_t& size, uint64_t& written) {
    const std::wstring path = joinPath(folder, widen(entry.file));
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    written = ticks(data.ftLastWriteTime);
    return written != 0;
}

// Puts the library's bytes on disk for good; true when it is still of that size and time then.
bool flushLibrary(const PluginEntry& entry, const std::wstring& folder, uint64_t size, uint64_t written) {
    const std::wstring path = joinPath(folder, widen(entry.file));
    if (path.empty())
        return false;
    FileHandle library(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!library || !FlushFileBuffers(library.get()))
        return false;
    library.reset();
    uint64_t sizeNow = 0, writtenNow = 0;
    return libraryState(entry, folder, sizeNow, writtenNow) && sizeNow == size && writtenNow == written;
}

}  // namespace

void PluginEntry::writeStamp(const std::wstring& folder) const {
    const std::wstring path = stampFile(*this, folder);
    if (path.empty())
        return;
    if (sharedStamp) {
        writeSharedLines(path, othersOf(*this, readSharedLines(path)), this);
        return;
    }
    // Text mode on purpose: the stamp on disk ends in CR LF.
    StdFile stamp(openStamp(path, L"w", true));
    if (!stamp)
        return;
    std::fprintf(stamp.get(), "%u\n%u\n", crc, libraryCrc);
    writeMark(stamp.get(), "", librarySize, libraryWritten, size, name);
    if (libraryWritten)
        std::fprintf(stamp.get(), "\n");
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
    const std::vector<Vouched> lines = readSharedLines(path);
    const std::vector<Vouched> others = othersOf(*this, lines);
    if (others.size() != lines.size() || others.empty())
        writeSharedLines(path, others, nullptr);
}

bool PluginEntry::stampMatches(const std::wstring& folder) const {
    const std::wstring path = stampFile(*this, folder);
    if (path.empty())
        return false;
    Vouched read;
    if (sharedStamp)
        return findVouched(*this, path, Layout::Shared, read);
    StdFile stamp(openStamp(path, L"r"));
    uint32_t number = 0;
    return stamp && readNumberLine(stamp.get(), number) && number == crc;
}

// Read once, in large blocks: this runs only for a library that its stamp's mark does not describe.
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

bool PluginEntry::noteLibrary(const std::wstring& folder) {
    if (libraryState(*this, folder, librarySize, libraryWritten))
        return true;
    librarySize = libraryWritten = 0;
    return false;
}

// A library is stamped with its size and time only once it is on disk for good, so a change to
// either means it may have been edited, cut, replaced or torn: then its bytes decide.
bool PluginEntry::isCurrent(const std::wstring& folder) {
    const std::wstring path = stampFile(*this, folder);
    Vouched stamped;
    uint64_t size = 0, written = 0;
    if (path.empty() || !findVouched(*this, path, sharedStamp ? Layout::Shared : Layout::Single, stamped) ||
        !libraryState(*this, folder, size, written))
        return false;
    librarySize = libraryWritten = 0;
    if (stamped.libraryWritten && stamped.libraryWritten == written && stamped.librarySize == size) {
        libraryCrc = stamped.library;
        librarySize = size;
        libraryWritten = written;
        return true;
    }
    if (!measureLibrary(folder) || libraryCrc != stamped.library)
        return false;
    // An older stamp, or a library touched but unchanged: once flushed, the next start need not read it.
    if (flushLibrary(*this, folder, size, written)) {
        librarySize = size;
        libraryWritten = written;
        writeStamp(folder);
    }
    return true;
}

bool PluginEntry::vouchedIn(const std::wstring& other) {
    const std::wstring path = stampFile(*this, other);
    Vouched stamped;
    // Only a stamp with the mark names the line it was fetched for.
    if (path.empty() || !findVouched(*this, path, Layout::Either, stamped) || !stamped.libraryWritten ||
        stamped.size != size || std::strcmp(stamped.name, name) != 0)
        return false;
    libraryCrc = stamped.library;
    return true;
}
