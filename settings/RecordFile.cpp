#include "settings/RecordFile.h"

#include <cstring>
#include <utility>

#include "base/LittleEndian.h"
#include "settings/WindowSettings.h"

namespace {
// Remembers whether any write failed, since a record's write reports only what it meant to write.
class CheckedSink : public ByteSink {
public:
    explicit CheckedSink(ByteSink& sink) : sink_(sink) {}
    bool write(const void* bytes, size_t size) override {
        ok_ = sink_.write(bytes, size) && ok_;
        return ok_;
    }
    bool ok() const { return ok_; }

private:
    ByteSink& sink_;
    bool ok_ = true;
};
}  // namespace

bool readRecords(ByteSource& source, bool addressesOnly, RecordFileContents& contents, bool* damaged) {
    uint8_t magic[4];
    if (source.read(magic, sizeof magic) != sizeof magic)
        return false;
    if (readLittle32(magic) != kRecordFileMagic)
        return false;
    while (!source.atEnd() && !source.failed()) {
        Record record;
        // An address file's records are read as entries, a settings file's as entries or the window.
        if (record.read(source, damaged, addressesOnly ? isEntryKey : isWindowKey) == 0)
            break;
        char type[16];
        if (!record.getString("type", type, sizeof type))
            continue;
        if (std::strcmp(type, "addr") == 0) {
            contents.entries.emplace_back();
            recordToEntry(record, contents.entries.back());
        } else if (!addressesOnly && std::strcmp(type, "window") == 0) {
            contents.windows.push_back(std::move(record));
        }
    }
    return true;
}

bool writeRecords(ByteSink& sink, const Record* window, const AddressBook& book) {
    CheckedSink checked(sink);
    uint8_t magic[4];
    writeLittle32(magic, kRecordFileMagic);
    checked.write(magic, sizeof magic);
    if (window)
        window->write(checked);
    for (size_t i = 0; i < book.size() && checked.ok(); ++i) {
        Record record;
        if (!entryToRecord(*book.at(i), record))
            return false;
        record.write(checked);
    }
    return checked.ok();
}
