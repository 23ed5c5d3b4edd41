#pragma once
#include <windows.h>

#include "net/WebFetcher.h"

// Writes a body to a file, by default a new temporary file "TSL????.tmp" in the current directory.
class FileFetcher : public WebFetcher {
public:
    explicit FileFetcher(FetcherListener* listener = nullptr) : WebFetcher(listener) {}
    virtual ~FileFetcher();

    // fileName: at least 260 characters; when empty, a temporary file is made and its name written
    // back. Returns bytesWritten after a complete fetch, 0 when the file cannot be named or opened.
    // Transfer failures throw Exception; the partly written file is closed and stays.
    uint32_t fetchToFile(uint32_t address, uint16_t port, const char* path, char* fileName);

protected:
    void handleData(const char* bytes, uint32_t length) override;
    // Called when the server has closed after a good response; may throw for an unusable body.
    virtual void bodyEnded() {}

    HANDLE fileHandle = INVALID_HANDLE_VALUE;
    uint32_t bytesWritten = 0;
    // What fetchToFile is fetching, for messages raised from handleData.
    uint32_t fetchAddress = 0;
    uint16_t fetchPort = 0;
    const char* fetchPath = "";
};
