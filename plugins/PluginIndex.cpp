#include "plugins/PluginIndex.h"

#include <cstring>

void parseIndex(char* text, const std::function<void(const char* line)>& line) {
    for (char* start = text + std::strspn(text, "\r\n"); *start;) {
        char* end = start + std::strcspn(start, "\r\n");
        const bool last = *end == '\0';
        *end = '\0';
        line(start);
        if (last)
            break;
        start = end + 1 + std::strspn(end + 1, "\r\n");
    }
}
