// Reading index lines: the router's bytes, so no system headers here.
#include "plugins/PluginEntry.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "plugins/PlainFileName.h"

namespace {

// Untrusted text goes to the console with its control characters masked.
void printMasked(char* out, size_t size, const char* text) {
    size_t n = 0;
    for (; text[n] && n + 1 < size; ++n)
        out[n] = static_cast<unsigned char>(text[n]) < 0x20 ? '?' : text[n];
    out[n] = '\0';
}

bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// One "%u" field as the Windows build's runtime reads it, so that every build takes a line alike:
// white space skipped, an optional sign, decimal digits; a value past 32 bits saturates, and a minus
// sign then negates modulo 2^32 ("-1" is 4294967295).
bool readNumber(const char*& p, uint32_t& value) {
    while (isSpace(*p))
        ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    if (*p < '0' || *p > '9')
        return false;
    uint64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10 + static_cast<unsigned>(*p - '0');
        if (magnitude > UINT32_MAX)
            magnitude = UINT32_MAX;
    }
    value = negative ? 0u - static_cast<uint32_t>(magnitude) : static_cast<uint32_t>(magnitude);
    return true;
}

// One "%<size-1>s" field: white space skipped, then at most size - 1 other characters; the rest of a
// longer word is left for the next field.
bool readWord(const char*& p, char* word, size_t size) {
    while (isSpace(*p))
        ++p;
    if (!*p)
        return false;
    size_t n = 0;
    while (*p && !isSpace(*p) && n + 1 < size)
        word[n++] = *p++;
    word[n] = '\0';
    return true;
}

}  // namespace

// "%u %u %31s %15s": checksum, size, name, version.
bool PluginEntry::parse(const char* line) {
    const char* p = line;
    if (!readNumber(p, crc) || !readNumber(p, size) || !readWord(p, name, sizeof name) ||
        !readWord(p, version, sizeof version))
        return false;
    size_t length = std::strlen(name);
    std::snprintf(file, sizeof file, "%s", name);
    if (length > 3 && std::strcmp(name + length - 3, ".gz") == 0)
        file[length - 3] = '\0';
    // The names become the version folder and files inside it: nothing may point elsewhere, nor
    // take the place of a file the cache keeps for itself.
    if (!isPlainFileName(name) || !isPlainFileName(file) || !isPlainFileName(version) || isCacheFileName(file) ||
        isCacheFileName(version)) {
        refuse();
        return false;
    }
    return true;
}

void PluginEntry::refuse() const {
    char shownName[sizeof name];
    char shownVersion[sizeof version];
    printMasked(shownName, sizeof shownName, name);
    printMasked(shownVersion, sizeof shownVersion, version);
    std::printf("ERROR: bad plugin name %s ver=%s - skipping\n", shownName, shownVersion);
}

void PluginEntry::stampPath(char* buffer, size_t size) const {
    if (size == 0)
        return;
    std::snprintf(buffer, size, "%s", file);
    char* dot = std::strchr(buffer, '.');
    size_t at = dot ? static_cast<size_t>(dot - buffer) : std::strlen(buffer);
    std::snprintf(buffer + at, size - at, ".crc");
}
