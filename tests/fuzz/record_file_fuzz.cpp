// The record files of the settings and the address book: one record, then whole files, loaded,
// written and loaded again.
#include <cstdint>
#include <memory>
#include <vector>

#include "settings/RecordFile.h"
#include "settings/WindowSettings.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

// Loads the bytes as a settings file and writes what was loaded; false when they do not load.
bool loadAndWrite(const std::vector<uint8_t>& bytes, std::vector<uint8_t>& written, bool* damaged = nullptr) {
    RecordFileContents contents;
    MemorySource source(bytes.data(), bytes.size());
    if (!readRecords(source, false, contents, damaged))
        return false;
    if (!source.atEnd())
        fail("a file that loads was not read to its end");
    // The window records as a dialog applies them, one after the other.
    AddressEntry current;
    WindowSettings settings;
    for (const Record& record : contents.windows)
        settings = recordToWindow(record, current);
    Record window;
    if (!contents.windows.empty()) {
        if (settings.bounds) {
            const Rect32 screen{-1280, -100, 1024, 768};
            const Rect32 fitted = fitToScreen(*settings.bounds, screen, 300, 200);
            if (fitted.left < screen.left || fitted.top < screen.top || fitted.right > screen.right ||
                fitted.bottom > screen.bottom || fitted.right - fitted.left < 300 || fitted.bottom - fitted.top < 200)
                fail("fitted rectangle not whole on the screen");
        } else {
            settings.bounds = Rect32{};
        }
        for (auto& width : settings.columnWidths) {
            if (width && (*width < 0 || *width > 0xFFFF))
                fail("column width beyond 16 bits");
            if (!width)
                width = 0;
        }
        if (!windowToRecord(settings, current, window))
            fail("a loaded window cannot be written");
    }
    AddressBook book;
    for (const AddressEntry& entry : contents.entries)
        book.append(std::make_unique<AddressEntry>(entry));
    MemorySink sink;
    if (!writeRecords(sink, contents.windows.empty() ? nullptr : &window, book))
        fail("a loaded book cannot be written");
    written = sink.bytes;
    return true;
}

void checkRecordFile(const uint8_t* data, size_t size) {
    // One record: never more consumed than given, and what was kept reads back the same.
    Record record;
    MemorySource source(data, size);
    const size_t count = record.read(source);
    if (count > size)
        fail("record read more than it was given");
    MemorySink encoded;
    if (record.write(encoded) != encoded.bytes.size())
        fail("record write miscounted");
    Record again;
    MemorySource reread(encoded.bytes.data(), encoded.bytes.size());
    MemorySink reencoded;
    if (again.read(reread) != encoded.bytes.size() || (again.write(reencoded), reencoded.bytes != encoded.bytes))
        fail("record does not read back as written");

    // A whole file, with and without its magic in front: what loads writes out, and that output is a
    // fixed point of loading and writing.
    static const uint8_t magic[4] = {0x0F, 0x10, 0xC0, 0xBE};
    std::vector<uint8_t> file(magic, magic + 4);
    file.insert(file.end(), data, data + size);
    const std::vector<uint8_t> raw(data, data + size);
    for (const std::vector<uint8_t>* bytes : {static_cast<const std::vector<uint8_t>*>(&file), &raw}) {
        std::vector<uint8_t> first, second;
        if (!loadAndWrite(*bytes, first))
            continue;
        bool damaged = false;
        if (!loadAndWrite(first, second, &damaged) || second != first)
            fail("a written file does not load back to itself");
        if (damaged)
            fail("a written file reads as damaged");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkRecordFile(data, size);
    return 0;
}
