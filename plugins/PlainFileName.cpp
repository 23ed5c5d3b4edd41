#include "plugins/PlainFileName.h"

#include <cctype>
#include <cstring>

namespace {

bool sameLetters(const char* text, size_t length, const char* word) {
    if (std::strlen(word) != length)
        return false;
    for (size_t i = 0; i < length; ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) != word[i])
            return false;
    }
    return true;
}

// Windows opens the device, not a file, for these stems whatever extension follows them.
bool isDeviceName(const char* name) {
    size_t stem = std::strcspn(name, ".");
    // Blanks before the extension do not stop Windows from seeing the device ("NUL .txt").
    while (stem > 0 && name[stem - 1] == ' ')
        --stem;
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : devices) {
        if (sameLetters(name, stem, device))
            return true;
    }
    // COM0-COM9 and LPT0-LPT9, also with the superscript digits 1, 2 and 3 of the ANSI code page.
    if (stem == 4) {
        const unsigned char digit = static_cast<unsigned char>(name[3]);
        if ((digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3)
            return sameLetters(name, 3, "COM") || sameLetters(name, 3, "LPT");
    }
    return false;
}

}  // namespace

bool isPlainFileName(const char* name) {
    if (!name || !*name || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
        return false;
    for (const char* c = name; *c; ++c) {
        unsigned char byte = static_cast<unsigned char>(*c);
        if (byte < 0x20 || std::strchr("\\/:*?\"<>|", byte))
            return false;
    }
    char last = name[std::strlen(name) - 1];
    if (last == '.' || last == ' ')
        return false;
    return !isDeviceName(name);
}

bool sameFileName(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        if (std::toupper(static_cast<unsigned char>(*a)) != std::toupper(static_cast<unsigned char>(*b)))
            return false;
    }
    return *a == *b;
}

bool isCacheFileName(const char* name) {
    const size_t length = std::strlen(name);
    auto endsWith = [&](const char* tail) {
        const size_t n = std::strlen(tail);
        return length >= n && sameFileName(name + length - n, tail);
    };
    const bool temporary = length >= 7 && std::toupper(static_cast<unsigned char>(name[0])) == 'T' &&
                           std::toupper(static_cast<unsigned char>(name[1])) == 'S' &&
                           std::toupper(static_cast<unsigned char>(name[2])) == 'L' && endsWith(".tmp");
    return temporary || endsWith(".crc") || sameFileName(name, "tarsel.cfg") || sameFileName(name, kCacheLockName);
}
