#pragma once
// Settings and address files: the magic, then records. The reading loop needs no windows.h; the
// file functions put it on disk, replacing an old file only once the new one is complete.
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

// False when the file cannot be opened or lacks the magic.
bool loadFile(const char* path, bool addressesOnly, RecordTarget& target);
// Written to a temporary file beside the target, flushed, and moved over the target in one step.
// False when anything failed; the old file is then untouched and no temporary file is left.
bool saveFile(const char* path, const Record* window, const AddressBook& book);

// "%s\tarsel.cfg" in the cache root; false when there is no cache root or the path does not fit.
bool settingsPath(char* path, size_t size);
