#include "ui/Format.h"

#include <cstdio>

namespace {
// Hundredths of the unit, rounded half up, printed as whole.hundredths.
void formatScaled(uint32_t bytes, double hundredthsDivisor, const char* unit, char* text, size_t size) {
    const uint64_t hundredths = static_cast<uint64_t>(bytes / hundredthsDivisor + 0.5);
    std::snprintf(text, size, "%u.%02u %s", static_cast<unsigned>(hundredths / 100),
                  static_cast<unsigned>(hundredths % 100), unit);
}
}  // namespace

void formatSize(uint32_t bytes, char* text, size_t size) {
    if (bytes <= 2047)
        std::snprintf(text, size, "%u b", static_cast<unsigned>(bytes));
    else if (bytes <= 2097151)
        formatScaled(bytes, 10.24, "kb", text, size);
    else
        formatScaled(bytes, 10485.76, "Mb", text, size);
}

void formatDuration(uint32_t seconds, char* text, size_t size) {
    if (seconds > 60)
        std::snprintf(text, size, "%u min %u sec", static_cast<unsigned>(seconds / 60),
                      static_cast<unsigned>(seconds % 60));
    else
        std::snprintf(text, size, "%u sec", static_cast<unsigned>(seconds));
}
