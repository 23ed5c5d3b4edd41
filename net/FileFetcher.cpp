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
    begin(file, address, port, path);
    Transfer transfer(*this, address, port, path);
    uint32_t count = 0;
    try {
        transfer.run([&] { return step(transfer, count); });
    } catch (...) {
        // Left from a wait between steps (Close): what came stays in the file, as for any failure.
        if (fileHandle != INVALID_HANDLE_VALUE)
            bodyAbandoned();
        fileHandle = INVALID_HANDLE_VALUE;
        throw;
    }
    return count;
}

void FileFetcher::begin(HANDLE file, uint32_t address, uint16_t port, const char* path) {
    bytesWritten = 0;
    fileBytes = 0;
    fileFull = false;
    budgetSpent = false;
    fileHandle = file;
    fetchAddress = address;
    fetchPort = port;
    fetchPath = path;
}

Transfer::State FileFetcher::step(Transfer& transfer, uint32_t& count) {
    try {
        const Transfer::State state = transfer.advance();
        if (state != Transfer::State::Done)
            return state;
        bodyEnded();
        count = bytesWritten;
    } catch (const BodyTooLong& stopped) {
        bodyAbandoned();
        count = stopped.arrived;  // the transfer's connection goes with it
    } catch (...) {
        bodyAbandoned();
        fileHandle = INVALID_HANDLE_VALUE;
        throw;
    }
    fileHandle = INVALID_HANDLE_VALUE;
    return Transfer::State::Done;
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
