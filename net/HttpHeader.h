#pragma once
// Reads the response header of an HTTP/1.0 exchange from the receive buffer. No windows.h here:
// these bytes come straight from the network.
#include <cstdint>

enum class HeaderResult {
    // The body bytes that followed the header now start the buffer; `length` is their count.
    Complete,
    // No line end yet, or no empty line yet.
    Incomplete,
    // The first line is not an HTTP status line.
    BadResponse,
    // The status is not 2xx; the buffer starts with the NUL-terminated reason phrase (or the code).
    HttpError,
};

// Examines the `length` buffered bytes.
HeaderResult parseHeader(char* buffer, uint32_t& length);
