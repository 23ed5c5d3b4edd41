// Reading index lines: the router's bytes, so no system headers here.
#include "plugins/PluginEntry.h"

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

}  // namespace

bool PluginEntry::parse(const char* line) {
    if (std::sscanf(line, "%u %u %31s %15s", &crc, &size, name, version) < 4)
        return false;
    size_t length = std::strlen(name);
    std::snprintf(file, sizeof file, "%s", name);
    if (length > 3 && std::strcmp(name + length - 3, ".gz") == 0)
        file[length - 3] = '\0';
    // The names become the version folder and files inside it: nothing may point elsewhere.
    if (!isPlainFileName(name) || !isPlainFileName(file) || !isPlainFileName(version)) {
        char shownName[sizeof name];
        char shownVersion[sizeof version];
        printMasked(shownName, sizeof shownName, name);
        printMasked(shownVersion, sizeof shownVersion, version);
        std::printf("ERROR: bad plugin name %s ver=%s - skipping\n", shownName, shownVersion);
        return false;
    }
    return true;
}

void PluginEntry::stampPath(char* buffer, size_t size) const {
    if (size == 0)
        return;
    std::snprintf(buffer, size, "%s", file);
    char* dot = std::strchr(buffer, '.');
    size_t at = dot ? static_cast<size_t>(dot - buffer) : std::strlen(buffer);
    std::snprintf(buffer + at, size - at, ".crc");
}
