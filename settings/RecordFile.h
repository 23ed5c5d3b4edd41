#pragma once
// Settings and address files: the magic, then records. The reading loop needs no windows.h; the
// file functions put it on disk, replacing an old file only once the new one is complete.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "settings/AddressBook.h"
#include "settings/ByteStream.h"
#include "settings/Record.h"

// What a record file holds, in the order of the file: the inverse of writeRecords.
struct RecordFileContents {
    std::vector<Record> windows;        // "window" records; a file written by us has one, or none
    std::vector<AddressEntry> entries;  // one per "addr" record
};

// False when the first four bytes are not the magic. Records typed "addr" become entries, "window"
// ones (unless addresses only) are kept as they are, others are passed over. `damaged`, when given,
// is set when any record was (Record::read).
bool readRecords(ByteSource& source, bool addressesOnly, RecordFileContents& contents, bool* damaged = nullptr);
// The magic, the window record when given, then one "addr" record per entry in the book's order.
// False when an entry cannot be encoded or the sink failed.
bool writeRecords(ByteSink& sink, const Record* window, const AddressBook& book);

// How much a file may hold to be read at all.
struct FileLimits {
    uint64_t bytes;
    size_t entries;  // "addr" records
};
inline constexpr FileLimits kNoLimits = {UINT64_MAX, SIZE_MAX};
// An address file to import: one larger than this is no address book a user keeps.
inline constexpr FileLimits kImportLimits = {1 << 20, 10000};

// What reading a file found.
enum class FileState {
    Read,        // all of it
    Missing,     // no such file
    Unreadable,  // there, but it could not be opened or read to its end: in use, refused, a read error
    NotRecords,  // no magic, or more than the limits or the memory allow; nothing reached the target
    Damaged,     // fields were skipped or cut off; the rest reached the target
};
// How long an open refused because another program holds the file is tried again: virus scanners
// and backup tools hold a file for milliseconds.
inline constexpr unsigned kSharingRetryMs = 1000;

struct FileRead {
    FileState state = FileState::Missing;
    unsigned long error = 0;      // the system's reason when the file is unreadable
    RecordFileContents contents;  // empty unless read, damaged or not
};
FileRead readRecordFile(const std::wstring& path, bool addressesOnly, const FileLimits& limits = kNoLimits,
                        unsigned retryMs = 0);
// readRecordFile for an address file: what it holds when it was read, damaged or not.
std::optional<RecordFileContents> loadFile(const std::wstring& path, bool addressesOnly,
                                           const FileLimits& limits = kNoLimits);
// Written to a temporary file beside the target, flushed, and moved over the target in one step; a
// target that another program holds is tried again until `retryMs` have passed. False when anything
// failed, with the system's reason in `error`; the old file is then untouched and no temporary file
// is left.
bool saveFile(const std::wstring& path, const Record* window, const AddressBook& book, unsigned retryMs = 0,
              unsigned long* error = nullptr);
