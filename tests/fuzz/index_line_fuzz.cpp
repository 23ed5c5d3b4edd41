// One line of the router's plugin index, as the loader hands it over: terminated, no line ends.
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "plugins/PlainFileName.h"
#include "plugins/PluginEntry.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

// The Windows runtime's "%u", rebuilt on the C library's strtoull: the magnitude saturates at 32
// bits, then a minus sign negates it modulo 2^32.
bool referenceNumber(const char*& p, uint32_t& value) {
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    const bool negative = *p == '-';
    const char* digits = p + (*p == '-' || *p == '+');
    if (!std::isdigit(static_cast<unsigned char>(*digits)))
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long magnitude = std::strtoull(digits, &end, 10);
    const uint32_t saturated =
        errno == ERANGE || magnitude > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(magnitude);
    value = negative ? 0u - saturated : saturated;
    p = end;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string line(reinterpret_cast<const char*>(data), size);
    line = line.substr(0, line.find_first_of(std::string("\r\n\0", 3)));
    PluginEntry entry;
    if (!entry.parse(line.c_str()))
        return 0;

    const char* p = line.c_str();
    uint32_t crc = 0, length = 0;
    check(referenceNumber(p, crc) && referenceNumber(p, length), "accepted a line without two numbers");
    check(entry.crc == crc && entry.size == length, "numbers read differently from the runtime's %u");
    check(std::strlen(entry.name) <= 31 && std::strlen(entry.version) <= 15, "field longer than its buffer");
    check(isPlainFileName(entry.name) && isPlainFileName(entry.file) && isPlainFileName(entry.version),
          "an accepted line names something other than one plain name in the cache");
    const size_t n = std::strlen(entry.name);
    const bool gz = n > 3 && std::strcmp(entry.name + n - 3, ".gz") == 0;
    check(std::strncmp(entry.file, entry.name, gz ? n - 3 : n) == 0 && std::strlen(entry.file) == (gz ? n - 3 : n),
          "local name is not the remote name without its .gz");
    char stamp[36];
    std::memset(stamp, 'x', sizeof stamp);
    entry.stampPath(stamp, sizeof stamp);
    check(std::memchr(stamp, '\0', sizeof stamp) != nullptr, "stamp name not terminated");
    check(std::strchr(stamp, '\\') == nullptr && std::strchr(stamp, '/') == nullptr, "stamp name leaves the folder");
    return 0;
}
