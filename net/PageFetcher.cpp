#include "net/PageFetcher.h"

#include <cstring>

char* PageFetcher::text() {
    page[pageLength] = '\0';
    return page;
}

void PageFetcher::handleData(const char* bytes, uint32_t length) {
    // One place stays free for the terminator; the rest of a long body is dropped.
    if (length > bytesWanted())
        length = bytesWanted();
    std::memcpy(page + pageLength, bytes, length);
    pageLength += length;
}
