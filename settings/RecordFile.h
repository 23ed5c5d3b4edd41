#pragma once
// Settings and address files: the magic, then records. The reading loop needs no windows.h; the
// file functions put it on disk, replacing an old file only once the new one is complete.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/AddressBook.h"
#include "settings/ByteStream.h"
#include "settings/Record.h"

// Where the records of a file go as they are read.
class RecordTarget {
public:
    virtual ~RecordTarget() = default;
    virtual void addFromRecord(const Record& record) = 0;
    virtual void recordToWindow(const Record& record) = 0;
};

// False when the first four bytes are not the magic. Records typed "addr" go to addFromRecord,
// "window" ones (unless addresses only) to recordToWindow, others are passed over. `damaged`, when
// given, is set when any record was (Record::read).
bool readRecords(ByteSource& source, bool addressesOnly, RecordTarget& target, bool* damaged = nullptr);
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

// Keeps the records readRecords hands on, to pass them to a target once the whole file is read.
class RecordBuffer : public RecordTarget {
public:
    void addFromRecord(const Record& record) override;
    void recordToWindow(const Record& record) override;
    size_t entryCount() const { return entries_; }
    // The records, in the order they were read.
    void replay(RecordTarget& target) const;

private:
    struct Kept {
        bool address;
        Record record;
    };
    std::vector<Kept> kept_;
    size_t entries_ = 0;
};

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

// The whole file is read before anything reaches the target. `error` gets the system's reason when
// the file is unreadable.
FileState readRecordFile(const std::wstring& path, bool addressesOnly, RecordTarget& target,
                         const FileLimits& limits = kNoLimits, unsigned retryMs = 0, unsigned long* error = nullptr);
// readRecordFile for an address file: true when it was read, damaged or not; false with the target
// untouched otherwise.
bool loadFile(const std::wstring& path, bool addressesOnly, RecordTarget& target, const FileLimits& limits = kNoLimits);
// Written to a temporary file beside the target, flushed, and moved over the target in one step.
// False when anything failed; the old file is then untouched and no temporary file is left.
bool saveFile(const std::wstring& path, const Record* window, const AddressBook& book);
