#include <winsock2.h>
#include <windows.h>

#include "net/FileFetcher.h"

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

    fileHandle = file.get();
    fetchAddress = address;
    fetchPort = port;
    fetchPath = path;
    try {
        fetch(address, port, path);
        bodyEnded();
    } catch (...) {
        fileHandle = INVALID_HANDLE_VALUE;  // the file closes on the way out and stays as written
        throw;
    }
    fileHandle = INVALID_HANDLE_VALUE;
    return bytesWritten;
}

void FileFetcher::handleData(const char* bytes, uint32_t length) {
    DWORD written = 0;
    if (!WriteFile(fileHandle, bytes, length, &written, nullptr))
        written = 0;
    bytesWritten += written;
    if (written < length)
        throw Exception("Could not write to the file");
}
