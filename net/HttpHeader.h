#pragma once
// Reads the response header of an HTTP/1.0 exchange from the receive buffer. No windows.h here:
// these bytes come straight from the network.
#include <cstdint>

// Examines the `length` buffered bytes.
//  1: header complete; the body bytes that followed it now start the buffer, `length` is their count.
//  0: header incomplete (no line end yet, or no empty line yet).
// -1: the first line is not an HTTP status line.
// -2: the status is not 2xx; the buffer starts with the NUL-terminated reason phrase (or the code).
int parseHeader(char* buffer, uint32_t& length);
