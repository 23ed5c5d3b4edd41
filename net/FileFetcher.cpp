#include <winsock2.h>
#include <windows.h>

#include "net/FileFetcher.h"

#include <cstdio>

#include "base/Exception.h"
#include "base/Handles.h"

FileFetcher::~FileFetcher() = default;

uint32_t FileFetcher::fetchToFile(uint32_t address, uint16_t port, const char* path, char* fileName) {
    bytesWritten = 0;
    if (fileName[0] == '\0' && GetTempFileNameA(".", "TSL", 0, fileName) == 0)
        return 0;
    FileHandle file(CreateFileA(fileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return 0;
    return fetchToHandle(file.get(), address, port, path);
}

uint32_t FileFetcher::fetchToHandle(HANDLE file, uint32_t address, uint16_t port, const char* path) {
    bytesWritten = 0;
    fileBytes = 0;
    fileFull = false;
    budgetSpent = false;
    fileHandle = file;
    fetchAddress = address;
    fetchPort = port;
    fetchPath = path;
    uint32_t count;
    try {
        fetch(address, port, path);
        bodyEnded();
        count = bytesWritten;
    } catch (const BodyTooLong& stopped) {
        bodyAbandoned();
        count = stopped.arrived;  // the connection is closed on the way out of fetch
    } catch (...) {
        bodyAbandoned();
        fileHandle = INVALID_HANDLE_VALUE;
        throw;
    }
    fileHandle = INVALID_HANDLE_VALUE;
    return count;
}

void FileFetcher::admitChunk(uint32_t length) {
    if (length > bodyLimit - bytesWritten) {
        const uint64_t arrived = uint64_t(bytesWritten) + length;
        throw BodyTooLong{arrived > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(arrived)};
    }
}

bool FileFetcher::writeFile(const void* bytes, uint32_t length, DWORD& written) {
    written = 0;
    if (length > fileLimit - fileBytes) {
        fileFull = true;
        return false;
    }
    if (budget && !budget->take(length)) {
        budgetSpent = true;
        return false;
    }
    if (!WriteFile(fileHandle, bytes, length, &written, nullptr))
        written = 0;
    fileBytes += written;
    return written == length;
}

void FileFetcher::failWrite() const {
    if (budgetSpent) {
        const uint64_t limit = budget->limit();
        char text[48];
        if (limit % (1 << 20) == 0)
            std::snprintf(text, sizeof text, "plugins over %llu MB in all",
                          static_cast<unsigned long long>(limit >> 20));
        else
            std::snprintf(text, sizeof text, "plugins over %llu bytes in all", static_cast<unsigned long long>(limit));
        failFetch(text, fetchAddress, fetchPort, fetchPath);
    }
    if (fileFull) {
        char text[48];
        std::snprintf(text, sizeof text, "file larger than %llu MB", static_cast<unsigned long long>(fileLimit >> 20));
        failFetch(text, fetchAddress, fetchPort, fetchPath);
    }
    throw Exception("Could not write to the file");
}

void FileFetcher::handleData(const char* bytes, uint32_t length) {
    admitChunk(length);
    DWORD written = 0;
    writeFile(bytes, length, written);
    bytesWritten += written;
    if (written < length)
        failWrite();
}
