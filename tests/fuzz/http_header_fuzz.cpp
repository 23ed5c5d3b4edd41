// The response header as the fetcher parses it: a receive buffer of at most 4096 bytes.
#include <cstdint>
#include <cstring>

#include "net/HttpHeader.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char buffer[4096];
    const uint32_t received = static_cast<uint32_t>(size < sizeof buffer ? size : sizeof buffer);
    std::memcpy(buffer, data, received);
    uint32_t length = received;
    const HeaderResult result = parseHeader(buffer, length);
    if (result == HeaderResult::Complete) {
        // The body is what followed the empty line, moved to the front, byte for byte.
        check(length < received, "body as long as what was buffered");
        check(std::memcmp(buffer, data + (received - length), length) == 0, "body bytes changed");
        const char* status = reinterpret_cast<const char*>(data);
        check(received >= 5 && std::memchr(status, '\n', received - length) != nullptr,
              "no status line before the body");
    } else if (result != HeaderResult::Incomplete) {
        check(length == received, "length changed on a failure");
    }
    if (result == HeaderResult::HttpError) {
        const char* end = static_cast<const char*>(std::memchr(buffer, '\0', received));
        check(end != nullptr, "error text not terminated within the buffer");
        // The text ends with the status line: the next header line never reaches a message box.
        check(!std::memchr(buffer, '\r', end - buffer) && !std::memchr(buffer, '\n', end - buffer),
              "error text runs past the status line");
    }
    return 0;
}
