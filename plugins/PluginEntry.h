#pragma once
// One accepted line of the router's plugin index, and the stamp file that remembers which line the
// cached library came from. Files are named inside `folder`, the version folder as an absolute path;
// the names of the index become file names through the ANSI code page.
#include <cstddef>
#include <cstdint>
#include <string>

struct PluginEntry {
    PluginEntry() = default;
    PluginEntry(const PluginEntry&) = delete;
    PluginEntry& operator=(const PluginEntry&) = delete;

    // Reads "crc size name version". False when a field is missing, or when the name, the local
    // file name or the version would not be one plain name inside the cache (a line is printed then).
    bool parse(const char* line);
    // Prints the line that says this entry's names were refused.
    void refuse() const;
    // The stamp's name: `file` up to its first '.', then ".crc"; always terminated within `size`.
    void stampPath(char* buffer, size_t size) const;
    // Creates or truncates the stamp and writes `crc`, then `libraryCrc`, one line each, then (when
    // `libraryWritten` is known) the library's size and last-write time with the line's size and
    // remote name; silent when the file cannot be opened. A shared stamp keeps the other files' lines
    // and writes this one's.
    void writeStamp(const std::wstring& folder) const;
    // Sets the stamp's last-write time to now and leaves its contents as they are; silent when the
    // stamp cannot be opened for that.
    void renewStamp(const std::wstring& folder) const;
    // Removes the stamp (or, when shared, this file's line), so that the plugin counts as out of date.
    void deleteStamp(const std::wstring& folder) const;
    // The stamp opens and its first line holds `crc`.
    bool stampMatches(const std::wstring& folder) const;
    // Sets `libraryCrc` from the bytes of `file`; false when it cannot be read.
    bool measureLibrary(const std::wstring& folder);
    // Sets `librarySize` and `libraryWritten` from `file` as it is on disk; false (and nothing known)
    // when it cannot be read.
    bool noteLibrary(const std::wstring& folder);
    // The stamp matches, and the library `file` is the one it vouches for: of the size and last-write
    // time it names or, when those differ or an older stamp lacks them, of the CRC-32 of its second
    // line. A library found so by its bytes is flushed and its size and time stamped, so that the
    // next start need not read it again.
    bool isCurrent(const std::wstring& folder);
    // The stamp in `other`, the folder of another version, vouches for a library fetched for this
    // very line: the same remote name, checksum and size. Sets `libraryCrc` from it.
    bool vouchedIn(const std::wstring& other);

    char name[32] = "";       // remote name as listed
    char file[32] = "";       // local name: `name` without a trailing ".gz"
    char version[16] = "";    // names the version folder
    uint32_t size = 0;        // compressed bytes a download must deliver
    uint32_t crc = 0;         // checksum number of the line, kept in the stamp
    uint32_t libraryCrc = 0;  // CRC-32 of the library's bytes, kept in the stamp beside `crc`
    // What a start compares instead of reading the library: its size and last-write time (in 100 ns
    // since 1601), stamped only once the library is on disk for good. 0: not known.
    uint64_t librarySize = 0;
    uint64_t libraryWritten = 0;
    bool current = false;
    bool copyable = false;     // another version folder vouches for its very line: copied, not fetched
    bool sharedStamp = false;  // another entry's file has the same stamp
    PluginEntry* next = nullptr;
};
