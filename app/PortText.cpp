#include "app/PortText.h"

namespace {
bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

// Read as the Windows runtime's strtoul reads it with its 32-bit unsigned long, on every build
// (a native build's unsigned long has 64 bits): a magnitude beyond 32 bits is out of range, and a
// minus sign negates modulo 2^32, so "-1" is 4294967295 and no port.
bool parsePort(const char* text, uint16_t& port) {
    const char* p = text;
    while (isBlank(*p))
        ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-')
        ++p;
    if (!isDigit(*p))
        return false;
    uint64_t magnitude = 0;
    for (; isDigit(*p); ++p) {
        magnitude = magnitude * 10 + static_cast<unsigned>(*p - '0');
        if (magnitude > UINT32_MAX)
            return false;
    }
    if (*p != '\0')
        return false;
    const uint32_t value = negative ? 0u - static_cast<uint32_t>(magnitude) : static_cast<uint32_t>(magnitude);
    if (value == 0 || value > 65535)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}
