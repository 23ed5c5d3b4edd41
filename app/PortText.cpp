#include "app/PortText.h"

#include <cerrno>
#include <cstdlib>

bool parsePort(const char* text, uint16_t& port) {
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value == 0 || value > 65535)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}
