#include <winsock2.h>
#include <windows.h>

#include "net/CompFileFetcher.h"

#include <cstring>

#include "base/Exception.h"

namespace {

constexpr size_t kOutputSize = 64 * 1024;

}  // namespace

CompFileFetcher::CompFileFetcher(FetcherListener* listener)
    : FileFetcher(listener), output(new unsigned char[kOutputSize]) {}

CompFileFetcher::~CompFileFetcher() = default;

void CompFileFetcher::limitBody(uint32_t bytes) {
    FileFetcher::limitBody(bytes);
    member.limitOutput(GzipMember::largestOutput(bytes));
}

bool CompFileFetcher::intact() const { return member.intact() && !outputLost; }

void CompFileFetcher::requireIntact() const {
    if (!member.intact())
        raise(GzipMember::Corrupt);
}

void CompFileFetcher::handleData(const char* bytes, uint32_t length) {
    admitChunk(length);
    raise(member.feed(reinterpret_cast<const unsigned char*>(bytes), length, *this));
    bytesWritten += length;
}

// The whole output is in the file before the count is returned and the body judged.
void CompFileFetcher::bodyEnded() {
    if (!flushOutput())
        failWrite();
    raise(member.end());
}

void CompFileFetcher::bodyAbandoned() noexcept { flushOutput(); }

bool CompFileFetcher::write(const unsigned char* bytes, size_t length) {
    while (length > 0) {
        const size_t part = length < kOutputSize - outputLength ? length : kOutputSize - outputLength;
        std::memcpy(output.get() + outputLength, bytes, part);
        outputLength += part;
        bytes += part;
        length -= part;
        if (outputLength == kOutputSize && !flushOutput())
            return false;
    }
    return true;
}

bool CompFileFetcher::flushOutput() {
    if (outputLength == 0)
        return true;
    DWORD written = 0;
    const bool whole = writeFile(output.get(), static_cast<uint32_t>(outputLength), written);
    // Bytes the file did not take are not offered again: a later write would put them out of place.
    outputLength = 0;
    outputLost = outputLost || !whole;
    return whole;
}

// The one place that words each failure of a gzip body.
void CompFileFetcher::raise(GzipMember::Result result) const {
    switch (result) {
    case GzipMember::Ok: return;
    case GzipMember::BadFormat: throw Exception("Bad file format");
    case GzipMember::DecompressorFailed: throw Exception("Decompressor failed");
    case GzipMember::Corrupt: failFetch("download is corrupt", fetchAddress, fetchPort, fetchPath);
    case GzipMember::WriteFailed: failWrite();
    }
}
