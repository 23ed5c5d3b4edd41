#pragma once
// Records as the bytes of a file, written the way the format is read: hex pairs separated by spaces.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "settings/AddressEntry.h"
#include "settings/Record.h"

inline std::vector<uint8_t> hexBytes(const std::string& text) {
    std::vector<uint8_t> bytes;
    std::istringstream in(text);
    std::string pair;
    while (in >> pair)
        bytes.push_back(static_cast<uint8_t>(std::strtoul(pair.c_str(), nullptr, 16)));
    return bytes;
}

inline std::vector<uint8_t> encode(const Record& record) {
    MemorySink sink;
    record.write(sink);
    return sink.bytes;
}

// One field as the encoding lays it out; lengths are taken modulo their widths, as a careless writer would.
inline std::vector<uint8_t> fieldBytes(const std::string& key, const std::string& value) {
    const size_t length = 1 + key.size() + value.size();
    std::vector<uint8_t> bytes = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                                  static_cast<uint8_t>(key.size())};
    bytes.insert(bytes.end(), key.begin(), key.end());
    bytes.insert(bytes.end(), value.begin(), value.end());
    return bytes;
}

inline std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline std::string asText(const Record& record, const char* key) {
    uint32_t length = 0;
    const uint8_t* value = record.find(key, &length);
    return value ? std::string(reinterpret_cast<const char*>(value), length) : std::string("<none>");
}

inline AddressEntry makeEntry(std::optional<std::string> address, std::optional<std::string> login,
                              std::optional<std::string> password, bool keep, std::optional<std::string> note) {
    AddressEntry entry;
    entry.address = std::move(address);
    entry.login = std::move(login);
    entry.password = std::move(password);
    entry.keepPassword = keep;
    entry.note = std::move(note);
    return entry;
}

// Every member of an entry in one line, so that a table row compares as one value.
inline std::string describe(const AddressEntry& entry) {
    std::string text;
    for (const auto* member : {&entry.address, &entry.login, &entry.password, &entry.note})
        text += (*member ? "'" + **member + "' " : std::string("<none> "));
    return text + (entry.keepPassword ? "keep" : "no-keep");
}
