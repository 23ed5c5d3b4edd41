#include <winsock2.h>
#include <windows.h>

#include "net/CompFileFetcher.h"

#include "base/Exception.h"

CompFileFetcher::CompFileFetcher(FetcherListener* listener) : FileFetcher(listener), stream() {
    stream.next_in = nullptr;
}

CompFileFetcher::~CompFileFetcher() {
    if (started)
        inflateEnd(&stream);
}

bool CompFileFetcher::intact() const {
    return started && streamEnded && !writeFailed && trailer.matches(crc, inflatedSize);
}

void CompFileFetcher::handleData(const char* bytes, uint32_t length) {
    if (writeFailed)
        return;  // the file is already short; the count stays short with it
    const unsigned char* input = reinterpret_cast<const unsigned char*>(bytes);
    uint32_t left = length;

    // The header may straddle chunks when the HTTP header nearly filled the first buffer.
    if (header.status() != GzipHeaderReader::Complete) {
        const size_t used = header.feed(input, left);
        if (header.status() == GzipHeaderReader::Bad)
            throw Exception("Bad file format");
        input += used;
        left -= static_cast<uint32_t>(used);
        if (header.status() != GzipHeaderReader::Complete) {
            bytesWritten += length;
            return;
        }
    }
    if (!started) {
        stream.zalloc = nullptr;
        stream.zfree = nullptr;
        stream.opaque = nullptr;
        stream.next_in = nullptr;
        stream.avail_in = 0;
        if (inflateInit2(&stream, -15) != Z_OK)
            throw Exception("Decompressor failed");
        started = true;
    }

    if (streamEnded) {
        trailer.feed(input, left);
    } else if (left > 0) {
        stream.next_in = const_cast<Bytef*>(input);
        stream.avail_in = left;
        if (!inflateInput())
            return;  // a short write: this chunk is not counted, so the caller's size check fails
        if (streamEnded)
            trailer.feed(stream.next_in, stream.avail_in);
    }
    bytesWritten += length;
}

bool CompFileFetcher::inflateInput() {
    for (;;) {
        unsigned char output[8192];
        stream.next_out = output;
        stream.avail_out = sizeof output;
        const int result = inflate(&stream, Z_NO_FLUSH);
        // Z_BUF_ERROR with the input used up only means zlib wants the next chunk.
        if (result == Z_BUF_ERROR && stream.avail_in == 0)
            return true;
        if (result != Z_OK && result != Z_STREAM_END)
            failFetch("download is corrupt", fetchAddress, fetchPort, fetchPath);

        const DWORD produced = static_cast<DWORD>(sizeof output - stream.avail_out);
        if (produced > 0) {
            crc = static_cast<uint32_t>(crc32(crc, output, produced));
            inflatedSize += produced;
            DWORD written = 0;
            if (!WriteFile(fileHandle, output, produced, &written, nullptr) || written < produced) {
                writeFailed = true;
                return false;
            }
        }
        if (result == Z_STREAM_END) {
            streamEnded = true;
            return true;
        }
        // A full output buffer may leave more output pending even when the input is used up.
        if (stream.avail_in == 0 && stream.avail_out != 0)
            return true;
    }
}

void CompFileFetcher::bodyEnded() {
    // A body that stopped inside the gzip header is no gzip file at all.
    if (bytesWritten > 0 && header.status() != GzipHeaderReader::Complete)
        throw Exception("Bad file format");
}
