#include "base/Path.h"

#include <cstdio>

bool joinPath(char* out, size_t size, const char* folder, const char* name) {
    int length = std::snprintf(out, size, "%s\\%s", folder, name);
    return length >= 0 && static_cast<size_t>(length) < size;
}
