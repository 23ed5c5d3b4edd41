#pragma once
#include <windows.h>

#include "base/WriteBudget.h"
#include "net/Transfer.h"
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
    // The same into a file that the caller has opened for writing and keeps.
    uint32_t fetchToHandle(HANDLE file, uint32_t address, uint16_t port, const char* path);
    // fetchToHandle in steps, beside other fetches: begin names the file and the resource, then
    // each step moves `transfer` (made for this fetcher and that resource) on without waiting. When
    // it says Done, `count` is what fetchToHandle returns; failures throw as there.
    void begin(HANDLE file, uint32_t address, uint16_t port, const char* path);
    Transfer::State step(Transfer& transfer, uint32_t& count);
    // Stops reading as soon as more than `bytes` body bytes have arrived; the fetch then returns
    // the count that had arrived, which no longer matches.
    virtual void limitBody(uint32_t bytes) { bodyLimit = bytes; }
    // The file may hold at most `bytes`: a body that would make it larger ends the fetch with an
    // Exception saying so, the file holding no more than that.
    void limitFile(uint64_t bytes) { fileLimit = bytes; }
    // Every write is also counted against `budget`, which other fetches may share: one that would
    // pass it ends the fetch with an Exception naming the limit.
    void shareBudget(WriteBudget* shared) { budget = shared; }
    // What the file holds of this fetch.
    uint64_t fileSize() const { return fileBytes; }

protected:
    void handleData(const char* bytes, uint32_t length) override;
    // Called when the server has closed after a good response; may throw for an unusable body.
    virtual void bodyEnded() {}
    // Called when the fetch ends any other way: keeps in the file what can still be kept. Never throws.
    virtual void bodyAbandoned() noexcept {}
    // Counts a chunk against the limit; ends the fetch when the body has grown past it.
    void admitChunk(uint32_t length);
    // Writes to the file, counting against its limit; false when the file took less or the limit
    // refused the bytes.
    bool writeFile(const void* bytes, uint32_t length, DWORD& written);
    // The write failure: the file's limit when that refused, else the system's.
    [[noreturn]] void failWrite() const;

    HANDLE fileHandle = INVALID_HANDLE_VALUE;
    uint32_t bytesWritten = 0;
    uint32_t bodyLimit = UINT32_MAX;
    uint64_t fileLimit = UINT64_MAX;
    uint64_t fileBytes = 0;
    bool fileFull = false;
    WriteBudget* budget = nullptr;
    bool budgetSpent = false;
    // What fetchToFile is fetching, for messages raised from handleData.
    uint32_t fetchAddress = 0;
    uint16_t fetchPort = 0;
    const char* fetchPath = "";

private:
    struct BodyTooLong {
        uint32_t arrived;
    };
};
