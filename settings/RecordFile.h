#pragma once
// Settings and address files: the magic, then records. The reading loop needs no windows.h; the
// file functions put it on disk, replacing an old file only once the new one is complete.
#include <cstddef>
#include <cstdint>
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
// "window" ones (unless addresses only) to recordToWindow, others are passed over.
bool readRecords(ByteSource& source, bool addressesOnly, RecordTarget& target);
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

// The whole file is read before anything reaches the target. False, with the target untouched,
// when the file cannot be opened, lacks the magic, passes the limits or does not fit in memory.
bool loadFile(const char* path, bool addressesOnly, RecordTarget& target, const FileLimits& limits = kNoLimits);
// Written to a temporary file beside the target, flushed, and moved over the target in one step.
// False when anything failed; the old file is then untouched and no temporary file is left.
bool saveFile(const char* path, const Record* window, const AddressBook& book);
