#include "settings/RecordFile.h"

#include <cstring>

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

bool readRecords(ByteSource& source, bool addressesOnly, RecordTarget& target) {
    uint8_t magic[4];
    if (source.read(magic, sizeof magic) != sizeof magic)
        return false;
    const uint32_t value = static_cast<uint32_t>(magic[0]) | static_cast<uint32_t>(magic[1]) << 8 |
                           static_cast<uint32_t>(magic[2]) << 16 | static_cast<uint32_t>(magic[3]) << 24;
    if (value != kRecordFileMagic)
        return false;
    while (!source.atEnd() && !source.failed()) {
        Record record;
        if (record.read(source) == 0)
            break;
        char type[16];
        if (!record.getString("type", type, sizeof type))
            continue;
        if (std::strcmp(type, "addr") == 0)
            target.addFromRecord(record);
        else if (!addressesOnly && std::strcmp(type, "window") == 0)
            target.recordToWindow(record);
    }
    return true;
}

bool writeRecords(ByteSink& sink, const Record* window, const AddressBook& book) {
    CheckedSink checked(sink);
    const uint8_t magic[4] = {static_cast<uint8_t>(kRecordFileMagic), static_cast<uint8_t>(kRecordFileMagic >> 8),
                              static_cast<uint8_t>(kRecordFileMagic >> 16),
                              static_cast<uint8_t>(kRecordFileMagic >> 24)};
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
