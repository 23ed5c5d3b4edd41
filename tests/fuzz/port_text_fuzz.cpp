// The port typed after the router's address, and the texts the progress display makes of figures.
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/PortText.h"
#include "tests/fuzz/FuzzCheck.h"
#include "ui/Format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    uint16_t port = 4321;
    if (parsePort(text.c_str(), port)) {
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(text.c_str(), &end, 10);
        check(errno == 0 && *end == '\0' && end != text.c_str(), "a port that is not one whole number");
        check(value >= 1 && value <= 65535 && port == value, "port out of range or read wrongly");
    } else {
        check(port == 4321, "a refused port changed the value");
    }

    uint32_t value = 0;
    std::memcpy(&value, data, size < 4 ? size : 4);
    char sizeText[kSizeTextLength];
    char durationText[kDurationTextLength];
    formatSize(value, sizeText);
    formatDuration(value, durationText);
    char full[64];
    formatSize(value, full, sizeof full);
    check(std::strcmp(full, sizeText) == 0, "size text does not fit its documented buffer");
    formatDuration(value, full, sizeof full);
    check(std::strcmp(full, durationText) == 0, "duration text does not fit its documented buffer");
    return 0;
}
