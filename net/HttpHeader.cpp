#include "net/HttpHeader.h"

#include <cstring>

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Skips blanks from `p`, never past `end`.
const char* skipBlanks(const char* p, const char* end) {
    while (p < end && isBlank(*p))
        ++p;
    return p;
}

const char* tokenEnd(const char* p, const char* end) {
    while (p < end && !isBlank(*p))
        ++p;
    return p;
}

}  // namespace

HeaderResult parseHeader(char* buffer, uint32_t& length) {
    const char* const end = buffer + length;
    const char* lineFeed = static_cast<const char*>(std::memchr(buffer, '\n', length));
    if (!lineFeed)
        return HeaderResult::Incomplete;
    // The status line's text stops at the first CR or at its LF.
    const char* lineEnd = static_cast<const char*>(std::memchr(buffer, '\r', lineFeed - buffer));
    if (!lineEnd)
        lineEnd = lineFeed;

    const char* version = skipBlanks(buffer, lineEnd);
    const char* versionEnd = tokenEnd(version, lineEnd);
    if (versionEnd - version < 5 || std::memcmp(version, "HTTP/", 5) != 0)
        return HeaderResult::BadResponse;
    const char* code = skipBlanks(versionEnd, lineEnd);
    const char* codeEnd = tokenEnd(code, lineEnd);
    if (code == codeEnd)
        return HeaderResult::BadResponse;  // a version alone is no status line
    if (*code != '2') {
        const char* reason = skipBlanks(codeEnd, lineEnd);
        const char* reasonEnd = lineEnd;  // the phrase as sent, up to CR or LF
        if (reason == reasonEnd) {
            reason = code;
            reasonEnd = codeEnd;
        }
        // The text lies inside the status line, which ends before the buffer does: room for the NUL.
        size_t size = reasonEnd - reason;
        std::memmove(buffer, reason, size);
        buffer[size] = '\0';
        return HeaderResult::HttpError;
    }

    for (const char* line = lineFeed + 1; line < end;) {
        const char* next = static_cast<const char*>(std::memchr(line, '\n', end - line));
        if (!next)
            return HeaderResult::Incomplete;
        if (*line == '\r' || *line == '\n') {
            uint32_t body = static_cast<uint32_t>(end - (next + 1));
            std::memmove(buffer, next + 1, body);
            length = body;
            return HeaderResult::Complete;
        }
        line = next + 1;
    }
    return HeaderResult::Incomplete;
}
