#include "settings/Record.h"

#include <cstdio>
#include <cstring>

#include "base/LittleEndian.h"

namespace {
// A zero-length value is still found: find hands out this address for it.
const uint8_t kNoBytes = 0;
}  // namespace

bool Record::set(const char* key, const void* bytes, size_t length) {
    const size_t keyLength = std::strlen(key);
    // Past these, the field's length bytes would wrap and the file could not be read back.
    if (keyLength > kMaxKeyLength || length > kMaxFieldLength - 1 - keyLength)
        return false;
    const uint8_t* begin = static_cast<const uint8_t*>(bytes);
    fields_.push_back(Field{std::string(key, keyLength), std::vector<uint8_t>(begin, begin + length)});
    return true;
}

bool Record::setString(const char* key, const char* text) { return set(key, text, std::strlen(text)); }

bool Record::setInt(const char* key, int32_t value) {
    uint8_t bytes[4];
    writeLittle32(bytes, static_cast<uint32_t>(value));
    return set(key, bytes, sizeof bytes);
}

const uint8_t* Record::find(const char* key, uint32_t* length) const {
    for (const Field& field : fields_) {
        if (field.key == key) {
            if (length)
                *length = static_cast<uint32_t>(field.value.size());
            return field.value.empty() ? &kNoBytes : field.value.data();
        }
    }
    return nullptr;
}

bool Record::getBytes(const char* key, void* bytes, uint32_t length) const {
    uint32_t stored = 0;
    const uint8_t* value = find(key, &stored);
    if (!value || stored != length)
        return false;
    if (length > 0)
        std::memcpy(bytes, value, length);
    return true;
}

bool Record::getString(const char* key, char* text, size_t size) const {
    uint32_t stored = 0;
    const uint8_t* value = find(key, &stored);
    if (!value || size == 0)
        return false;
    const size_t count = stored < size - 1 ? stored : size - 1;
    std::memcpy(text, value, count);
    text[count] = '\0';
    return true;
}

std::string Record::getStringCopy(const char* key, const char* fallback) const {
    uint32_t stored = 0;
    const uint8_t* value = find(key, &stored);
    if (value) {
        // A text ends at its first zero byte, as it does when read into a buffer.
        const void* zero = std::memchr(value, 0, stored);
        const size_t length = zero ? static_cast<const uint8_t*>(zero) - value : stored;
        return std::string(reinterpret_cast<const char*>(value), length);
    }
    return fallback ? std::string(fallback) : std::string();
}

bool Record::getInt(const char* key, int32_t& value) const {
    uint8_t bytes[4];
    if (!getBytes(key, bytes, sizeof bytes))
        return false;
    value = static_cast<int32_t>(readLittle32(bytes));
    return true;
}

size_t Record::write(ByteSink& sink) const {
    size_t total = 0;
    for (const Field& field : fields_) {
        // set() keeps both lengths within their bytes.
        const size_t length = 1 + field.key.size() + field.value.size();
        const uint8_t head[3] = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                                 static_cast<uint8_t>(field.key.size())};
        sink.write(head, sizeof head);
        sink.write(field.key.data(), field.key.size());
        sink.write(field.value.data(), field.value.size());
        total += length + 2;
    }
    const uint8_t endMarker[2] = {0, 0};
    sink.write(endMarker, sizeof endMarker);
    return total + 2;
}

size_t Record::read(ByteSource& source, bool* damaged, KeyFilter keep) {
    size_t consumed = 0;
    bool ended = false;  // at the end marker
    bool skipped = false;
    const bool empty = source.atEnd();
    for (;;) {
        if (source.atEnd())
            break;
        uint8_t lengthBytes[2];
        if (source.read(lengthBytes, 2) != 2)
            break;
        const size_t length = lengthBytes[0] | static_cast<size_t>(lengthBytes[1]) << 8;
        if (length == 0) {
            consumed += 2;
            ended = true;
            break;
        }
        uint8_t keyLength = 0;
        if (source.read(&keyLength, 1) != 1)
            break;
        if (keyLength > length - 1) {
            std::printf("ERROR: bad record - skipping\n");
            skipped = true;
            if (!source.skip(length - 1))
                break;
            continue;
        }
        // A field cut short by the end of the data is dropped, and the data counts as read to its end.
        // Checked before anything is allocated, so a length never claims more than is there.
        if (length - 1 > source.remaining()) {
            source.skip(static_cast<size_t>(source.remaining()));
            break;
        }
        char key[kMaxKeyLength];
        if (source.read(key, keyLength) != keyLength)
            break;
        Field field;
        // Keys are compared as terminated texts: a zero byte ends one.
        const void* zero = std::memchr(key, 0, keyLength);
        field.key.assign(key, zero ? static_cast<const char*>(zero) - key : keyLength);
        const size_t valueLength = length - 1 - keyLength;
        if (keep && (!keep(field.key) || find(field.key.c_str()))) {
            if (!source.skip(valueLength))
                break;
        } else {
            field.value.resize(valueLength);
            if (source.read(field.value.data(), valueLength) != valueLength)
                break;
            fields_.push_back(std::move(field));
        }
        consumed += length + 2;
    }
    if (damaged && (skipped || (!ended && !empty)))
        *damaged = true;
    return consumed;
}
