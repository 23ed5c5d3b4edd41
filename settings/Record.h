#pragma once
// One record of a record file: an ordered list of key/value fields. Keys need not be unique; every
// lookup takes the first match, and writing keeps them all in order.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/ByteStream.h"

// The file's first four bytes: 0F 10 C0 BE.
constexpr uint32_t kRecordFileMagic = 0xBEC0100F;

class Record {
public:
    enum : size_t { kMaxKeyLength = 255, kMaxFieldLength = 65535 };

    // Appends a field. Refused (false, nothing appended) when the key or the field would not fit
    // the encoding's length bytes, so that a record in memory can always be written and read back.
    bool set(const char* key, const void* bytes, size_t length);
    bool setString(const char* key, const char* text);
    bool setInt(const char* key, int32_t value);

    // The first field with this key: its bytes and length, or null.
    const uint8_t* find(const char* key, uint32_t* length = nullptr) const;
    // Copies only when the stored length is exactly `length`; otherwise false, destination untouched.
    bool getBytes(const char* key, void* bytes, uint32_t length) const;
    // Copies at most size - 1 bytes and terminates; false and untouched when missing.
    bool getString(const char* key, char* text, size_t size) const;
    // The value as text; else the fallback; else the empty text.
    std::string getStringCopy(const char* key, const char* fallback = nullptr) const;
    // Only a 4-byte field counts; otherwise false and `value` untouched.
    bool getInt(const char* key, int32_t& value) const;

    // Appends the encoding; the number of bytes meant to be written.
    size_t write(ByteSink& sink) const;
    // Which fields a read keeps; null keeps them all.
    using KeyFilter = bool (*)(const std::string& key);
    // Parses one record from the position and appends its fields; the bytes consumed, 0 for none.
    // `damaged`, when given, is set when a field had to be skipped or was cut off, or the data
    // ended before the record's end marker: bytes a save would not give back. With `keep`, only the
    // first field of each key it accepts is kept: lookups never see the others, and a file of
    // countless fields then takes no memory.
    size_t read(ByteSource& source, bool* damaged = nullptr, KeyFilter keep = nullptr);

    size_t fieldCount() const { return fields_.size(); }

private:
    struct Field {
        std::string key;
        std::vector<uint8_t> value;
    };
    std::vector<Field> fields_;
};
