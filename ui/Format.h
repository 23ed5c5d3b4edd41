#pragma once
// Texts for the progress display. Plain code: no window system needed.
#include <cstddef>
#include <cstdint>

enum : size_t {
    kSizeTextLength = 11,      // "4096.00 Mb" and the terminator
    kDurationTextLength = 20,  // "71582788 min 15 sec" and the terminator
};

// Byte count as "2047 b", "2.05 kb" or "2.10 Mb".
void formatSize(uint32_t bytes, char* text, size_t size = kSizeTextLength);
// Seconds as "59 sec", "60 sec" or "1 min 1 sec".
void formatDuration(uint32_t seconds, char* text, size_t size = kDurationTextLength);
