#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/Record.h"
#include "tests/settings/RecordBytes.h"

namespace {

const uint8_t kFlagFalse = 0;

TEST(RecordEncoding, WorkedExamplesBothWays) {
    Record addr;
    addr.setString("type", "addr");
    addr.set("keep-pwd", &kFlagFalse, 1);
    Record sort;
    sort.setInt("list-sort", 0);
    Record negative;
    negative.setInt("x", -2);
    Record empty;
    const struct {
        const char* name;
        const Record& record;
        const char* bytes;
    } cases[] = {
        {"addr", addr, "09 00 04 74 79 70 65 61 64 64 72 0A 00 08 6B 65 65 70 2D 70 77 64 00 00 00"},
        {"list-sort", sort, "0E 00 09 6C 69 73 74 2D 73 6F 72 74 00 00 00 00 00 00"},
        {"negative", negative, "06 00 01 78 FE FF FF FF 00 00"},
        {"empty", empty, "00 00"},
    };
    for (const auto& c : cases) {
        const std::vector<uint8_t> expected = hexBytes(c.bytes);
        MemorySink sink;
        EXPECT_EQ(c.record.write(sink), expected.size()) << c.name;
        EXPECT_EQ(sink.bytes, expected) << c.name;

        Record read;
        MemorySource source(expected.data(), expected.size());
        EXPECT_EQ(read.read(source), expected.size()) << c.name;
        EXPECT_EQ(read.fieldCount(), c.record.fieldCount()) << c.name;
        EXPECT_EQ(encode(read), expected) << c.name;
        EXPECT_TRUE(source.atEnd()) << c.name;
    }
    Record read;
    const std::vector<uint8_t> bytes = hexBytes(cases[0].bytes);
    MemorySource source(bytes.data(), bytes.size());
    read.read(source);
    uint8_t keep = 7;
    EXPECT_EQ(asText(read, "type"), "addr");
    EXPECT_TRUE(read.getBytes("keep-pwd", &keep, 1));
    EXPECT_EQ(keep, 0);
}

// Notes a key or value read bigger than what is left: no length taken from the data may size one.
// (The one- and two-byte lengths are read before anything can be known.)
class GuardedSource : public MemorySource {
public:
    using MemorySource::MemorySource;
    size_t read(void* bytes, size_t size) override {
        if (size > 2 && size > remaining())
            overreach = true;
        return MemorySource::read(bytes, size);
    }
    bool overreach = false;
};

TEST(RecordReading, DamagedAndShortData) {
    const std::vector<uint8_t> good = fieldBytes("login", "admin");
    const std::vector<uint8_t> end = {0, 0};
    const struct {
        const char* name;
        std::vector<uint8_t> input;
        size_t count;                 // what read returns
        std::vector<uint8_t> fields;  // the record read, written again
        int badRecordLines;
        size_t left;  // bytes after the read: a cut field counts as read to the end, or the file-level
                      // reader would take the rest of its value for a new record
        bool damaged;  // bytes were lost: a skipped or cut field, or no end marker
    } cases[] = {
        {"end of data", {}, 0, end, 0, 0, false},
        {"empty record", end, 2, end, 0, 0, false},
        {"only the end marker is read", end + good + end, 2, end, 0, good.size() + 2, false},
        {"key longer than its field", hexBytes("03 00 03 61 62") + good + end, good.size() + 2, good + end, 1, 0, true},
        {"key length 1 past the room", hexBytes("02 00 02 61") + end, 2, end, 1, 0, true},
        {"skip runs past the end", good + hexBytes("40 00 50 61"), good.size(), good + end, 1, 0, true},
        {"value cut short", good + hexBytes("20 00 04 6E 6F 74 65 61") + fieldBytes("x", "y") + end, good.size(),
         good + end, 0, 0, true},
        {"cut inside the length", good + hexBytes("05"), good.size(), good + end, 0, 0, true},
        {"cut after the length", good + hexBytes("05 00"), good.size(), good + end, 0, 0, true},
        {"huge length, nothing behind", hexBytes("FF FF 00 61"), 0, end, 0, 0, true},
        {"complete fields, no end marker", good + good, 2 * good.size(), good + good + end, 0, 0, true},
        {"zero-length value", fieldBytes("note", "") + end, 9, fieldBytes("note", "") + end, 0, 0, false},
        {"zero byte ends a key", hexBytes("06 00 04 61 00 62 63 78") + end, 10, fieldBytes("a", "x") + end, 0, 0,
         false},
    };
    for (const auto& c : cases) {
        Record record;
        GuardedSource source(c.input.data(), c.input.size());
        testing::internal::CaptureStdout();
        bool damaged = false;
        const size_t count = record.read(source, &damaged);
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(damaged, c.damaged) << c.name;
        EXPECT_EQ(count, c.count) << c.name;
        EXPECT_EQ(encode(record), c.fields) << c.name;
        std::string lines;
        for (int i = 0; i < c.badRecordLines; ++i)
            lines += "ERROR: bad record - skipping\n";
        EXPECT_EQ(printed, lines) << c.name;
        EXPECT_FALSE(source.overreach) << c.name;
        EXPECT_EQ(source.remaining(), c.left) << c.name;
    }
}

TEST(RecordFields, DuplicateKeysAndGetters) {
    Record record;
    record.setString("host", "first");
    record.setString("host", "second");
    record.set("twelve", "123456789012", 12);
    record.set("flag", "\x01", 1);
    record.setString("long", "abcdefghijklmnopqrst");
    record.setString("empty", "");
    record.setInt("number", 0x12345678);
    // Both duplicates are written, in order; the first wins on lookup, also after reading back.
    const std::vector<uint8_t> bytes = encode(record);
    Record read;
    MemorySource source(bytes.data(), bytes.size());
    ASSERT_EQ(read.read(source), bytes.size());
    EXPECT_EQ(read.fieldCount(), 7u);
    EXPECT_EQ(encode(read), bytes);
    EXPECT_EQ(read.getStringCopy("host"), "first");

    char text[16];
    std::memset(text, 'z', sizeof text);
    EXPECT_TRUE(read.getString("long", text, 16));
    EXPECT_EQ(std::string(text), "abcdefghijklmno");
    EXPECT_TRUE(read.getString("empty", text, sizeof text));
    EXPECT_EQ(std::string(text), "");
    uint32_t length = 99;
    EXPECT_NE(read.find("empty", &length), nullptr);
    EXPECT_EQ(length, 0u);
    int32_t number = 0;
    EXPECT_TRUE(read.getInt("number", number));
    EXPECT_EQ(number, 0x12345678);

    // Missing keys and wrong sizes leave the destination as it was.
    std::memcpy(text, "keep", 5);
    int32_t value = -5;
    uint8_t rectangle[16] = {9};
    const struct {
        const char* name;
        bool result;
    } refused[] = {
        {"getString missing", read.getString("none", text, sizeof text)},
        {"getInt on 1 byte", read.getInt("flag", value)},
        {"getInt missing", read.getInt("none", value)},
        {"getBytes 16 on 12", read.getBytes("twelve", rectangle, 16)},
        {"getBytes missing", read.getBytes("none", rectangle, 16)},
        {"find missing", read.find("none", &length) != nullptr},
        {"key compared by case", read.find("HOST") != nullptr},
    };
    for (const auto& r : refused)
        EXPECT_FALSE(r.result) << r.name;
    EXPECT_STREQ(text, "keep");
    EXPECT_EQ(value, -5);
    EXPECT_EQ(rectangle[0], 9);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(read.getStringCopy("none"), "");
    EXPECT_EQ(read.getStringCopy("none", "admin"), "admin");
    EXPECT_EQ(read.getStringCopy("host", "admin"), "first");
}

TEST(RecordFields, OversizedFieldsRefusedWhenSet) {
    const std::string key255(255, 'k');
    const std::string value(65535, 'v');
    const struct {
        const char* name;
        std::string key;
        size_t length;
        bool accepted;
    } cases[] = {
        {"longest key", key255, 0, true},
        {"key of 256", key255 + "k", 0, false},
        {"longest value for key 'note'", "note", 65535 - 1 - 4, true},
        {"one byte more", "note", 65535 - 1 - 4 + 1, false},
        {"longest key and its longest value", key255, 65535 - 1 - 255, true},
        {"length that wraps 16 bits to a small one", "note", 65536 + 10, false},
    };
    for (const auto& c : cases) {
        Record record;
        std::vector<uint8_t> bytes(c.length, 'v');
        EXPECT_EQ(record.set(c.key.c_str(), bytes.data(), bytes.size()), c.accepted) << c.name;
        EXPECT_EQ(record.fieldCount(), c.accepted ? 1u : 0u) << c.name;
        // Whatever was accepted reads back as written.
        const std::vector<uint8_t> encoded = encode(record);
        Record read;
        MemorySource source(encoded.data(), encoded.size());
        EXPECT_EQ(read.read(source), encoded.size()) << c.name;
        EXPECT_EQ(encode(read), encoded) << c.name;
    }
    Record record;
    EXPECT_FALSE(record.setString("pwd", value.c_str()));
    EXPECT_EQ(record.fieldCount(), 0u);
}

}  // namespace
