#include <winsock2.h>
#include <windows.h>

#include "net/CompFileFetcher.h"

#include "base/Exception.h"

CompFileFetcher::CompFileFetcher(FetcherListener* listener) : FileFetcher(listener) {}

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
void CompFileFetcher::bodyEnded() { raise(member.end(*this)); }

void CompFileFetcher::bodyAbandoned() noexcept { member.flush(*this); }

bool CompFileFetcher::write(const unsigned char* bytes, size_t length) {
    DWORD written = 0;
    // Through the counted write: the file's size limit must see every byte.
    const bool whole = writeFile(bytes, static_cast<uint32_t>(length), written);
    // Bytes the file did not take are not offered again: a later write would put them out of place.
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
