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
    // The reference reads with 64 bits (strtoll), then applies what a 32-bit unsigned long allows:
    // a magnitude below 2^32, a negative number taken modulo 2^32.
    char* end = nullptr;
    errno = 0;
    const long long number = std::strtoll(text.c_str(), &end, 10);
    const bool whole = errno == 0 && end != text.c_str() && *end == '\0';
    const bool inRange = number > -(1LL << 32) && number < (1LL << 32);
    const uint32_t wrapped = static_cast<uint32_t>(number);
    const bool valid = whole && inRange && wrapped >= 1 && wrapped <= 65535;
    uint16_t port = 4321;
    check(parsePort(text.c_str(), port) == valid, "accepted a text that is no port, or refused a port");
    check(port == (valid ? wrapped : 4321), "port read wrongly, or a refused text changed it");

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
