// A plugin download's body as the inflating fetcher reads it, cut into chunks in every way the
// network could cut it, and judged against zlib's own gzip decoder.
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "net/GzipMember.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

constexpr uint64_t kOutputLimit = 256 << 10;  // keeps each run quick; deflate bombs are not the point here

struct Collect : GzipMember::Sink {
    bool write(const unsigned char* bytes, size_t length) override {
        out.append(reinterpret_cast<const char*>(bytes), length);
        return true;
    }
    std::string out;
};

struct Outcome {
    GzipMember::Result result = GzipMember::Ok;
    bool intact = false;
    std::string out;
    // A damaged stream may give more or less of its output before zlib notices, by where the cut falls;
    // what it gives is always the same bytes.
    bool operator==(const Outcome& o) const {
        const size_t common = out.size() < o.out.size() ? out.size() : o.out.size();
        return result == o.result && intact == o.intact && out.compare(0, common, o.out, 0, common) == 0 &&
               (result != GzipMember::Ok || out.size() == o.out.size());
    }
};

// Feeds the body in pieces of the given sizes (the last one repeated), as the fetcher does.
Outcome readInPieces(const uint8_t* data, size_t size, const std::vector<size_t>& pieces) {
    GzipMember member;
    member.limitOutput(kOutputLimit);
    Collect sink;
    Outcome outcome;
    size_t offset = 0;
    for (size_t i = 0; offset < size && outcome.result == GzipMember::Ok; ++i) {
        size_t n = pieces[i < pieces.size() ? i : pieces.size() - 1];
        n = n == 0 ? 1 : (n > size - offset ? size - offset : n);
        outcome.result = member.feed(data + offset, n, sink);
        offset += n;
    }
    if (outcome.result == GzipMember::Ok)
        outcome.result = member.end(sink);
    outcome.intact = member.intact();
    outcome.out = sink.out;
    return outcome;
}

// zlib's gzip decoder: true when the bytes are exactly one complete, checked member.
bool zlibReads(const uint8_t* data, size_t size, std::string& out) {
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 16) != Z_OK)
        return false;
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = static_cast<uInt>(size);
    int result = Z_OK;
    while (result == Z_OK && out.size() <= kOutputLimit) {
        unsigned char buffer[8192];
        stream.next_out = buffer;
        stream.avail_out = sizeof buffer;
        result = inflate(&stream, Z_NO_FLUSH);
        out.append(reinterpret_cast<const char*>(buffer), sizeof buffer - stream.avail_out);
        if (result == Z_BUF_ERROR || (result == Z_OK && stream.avail_in == 0 && stream.avail_out != 0))
            break;
    }
    const bool complete = result == Z_STREAM_END && stream.avail_in == 0;
    inflateEnd(&stream);
    return complete;
}

// What zlib checks in a header and the fetcher deliberately does not: the method byte, the reserved
// flag bits and the header's own CRC-16.
bool zlibIsStricter(const uint8_t* data, size_t size) { return size >= 4 && (data[2] != 8 || (data[3] & 0xE2) != 0); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Outcome whole = readInPieces(data, size, {size});

    // A single cut at every place of the framing (the header, the end of the deflate data, the
    // trailer) and at every 16th byte between, a byte at a time, even pieces, and a few uneven
    // cuttings that the bytes themselves choose.
    std::vector<std::vector<size_t>> cuttings = {{1}};
    for (size_t at = 1; at < size; ++at) {
        if (at < 96 || at + 32 > size || at % 16 == 0)
            cuttings.push_back({at, size});
    }
    for (size_t piece = 2; piece <= 17; ++piece)
        cuttings.push_back({piece});
    uint32_t seed = static_cast<uint32_t>(crc32(0, data, static_cast<uInt>(size))) | 1;
    for (int k = 0; k < 4; ++k) {
        std::vector<size_t> pieces;
        for (int i = 0; i < 32; ++i) {
            seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
            pieces.push_back(1 + seed % 97);
        }
        cuttings.push_back(pieces);
    }
    for (const auto& pieces : cuttings)
        check(readInPieces(data, size, pieces) == whole, "the body reads differently when cut differently");

    std::string reference;
    const bool complete = zlibReads(data, size, reference);
    if (complete && reference.size() <= kOutputLimit)
        check(whole.intact && whole.out == reference, "zlib reads a whole member that the fetcher refuses");
    if (whole.intact && !zlibIsStricter(data, size))
        check(complete && whole.out == reference, "the fetcher vouches for a member that zlib refuses");
    return 0;
}
