// Reading the gzip framing in pieces of any size.
#include <zlib.h>

#include <string>

#include <gtest/gtest.h>

#include "net/GzipHeader.h"

namespace {

const unsigned char* bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

std::string fixedHeader(unsigned char flags) {
    return std::string("\x1f\x8b\x08", 3) + static_cast<char>(flags) + std::string("\1\2\3\4\0\3", 6);
}

struct GzipCase {
    const char* name;
    std::string header;  // a whole header; "DEFLATE" follows it
};

// Every header fed whole, and split once at every possible place: the reader stops exactly at its end.
TEST(GzipHeaderReader, EveryFlagAndEverySplit) {
    const GzipCase cases[] = {
        {"no flags", fixedHeader(0)},
        {"fextra", fixedHeader(0x04) + std::string("\x05\x00"
                                                   "ab\0cd",
                                                   7)},
        {"fextra empty", fixedHeader(0x04) + std::string("\0\0", 2)},
        {"fextra 300", fixedHeader(0x04) + std::string("\x2c\x01", 2) + std::string(300, '\0')},
        {"fname", fixedHeader(0x08) + std::string("plugin.dll\0", 11)},
        {"fcomment", fixedHeader(0x10) + std::string("a comment\0", 10)},
        {"fhcrc", fixedHeader(0x02) + std::string("\x12\x34", 2)},
        {"all four, in order", fixedHeader(0x1e) + std::string("\x03\x00xyz", 5) + std::string("name\0", 5) +
                                   std::string("note\0", 5) + std::string("\0\0", 2)},
        {"unknown bits ignored", fixedHeader(0xe0)},
        {"ftext ignored", fixedHeader(0x01)},
    };
    for (const GzipCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string data = c.header + "DEFLATE";
        for (size_t split = 0; split <= data.size(); ++split) {
            SCOPED_TRACE(split);
            GzipHeaderReader reader;
            size_t used = reader.feed(bytes(data), split);
            if (used == split && reader.status() == GzipHeaderReader::NeedMore)
                used += reader.feed(bytes(data) + split, data.size() - split);
            ASSERT_EQ(reader.status(), GzipHeaderReader::Complete);
            EXPECT_EQ(used, c.header.size());
        }
    }
}

TEST(GzipHeaderReader, ByteByByteAndBadMagic) {
    const std::string header = fixedHeader(0x1e) + std::string("\x01\x00z", 3) + std::string("n\0c\0\1\2", 6);
    GzipHeaderReader reader;
    for (size_t i = 0; i < header.size(); ++i) {
        EXPECT_EQ(reader.status(), GzipHeaderReader::NeedMore) << i;
        EXPECT_EQ(reader.feed(bytes(header) + i, 1), 1u) << i;
    }
    EXPECT_EQ(reader.status(), GzipHeaderReader::Complete);
    EXPECT_EQ(reader.feed(bytes(header), 4), 0u);

    for (const std::string& bad : {std::string("PK\3\4"), std::string("\x1f\x8c"), std::string("\x8b\x1f")}) {
        GzipHeaderReader r;
        r.feed(bytes(bad), bad.size());
        EXPECT_EQ(r.status(), GzipHeaderReader::Bad) << bad;
    }
    GzipHeaderReader half;
    half.feed(bytes(header), 1);
    EXPECT_EQ(half.status(), GzipHeaderReader::NeedMore);
}

TEST(GzipTrailer, MatchesOnlyExactlyEightCorrectBytes) {
    const std::string data = "inflated data";
    const uint32_t crc = static_cast<uint32_t>(crc32(0, bytes(data), static_cast<uInt>(data.size())));
    std::string good(8, '\0');
    for (int i = 0; i < 4; ++i) {
        good[i] = static_cast<char>(crc >> (8 * i));
        good[4 + i] = static_cast<char>(data.size() >> (8 * i));
    }
    GzipTrailer whole;
    whole.feed(bytes(good), 8);
    EXPECT_TRUE(whole.matches(crc, static_cast<uint32_t>(data.size())));
    EXPECT_FALSE(whole.matches(crc ^ 1, static_cast<uint32_t>(data.size())));
    EXPECT_FALSE(whole.matches(crc, static_cast<uint32_t>(data.size() + 1)));

    GzipTrailer pieces;
    pieces.feed(bytes(good), 3);
    EXPECT_FALSE(pieces.matches(crc, static_cast<uint32_t>(data.size())));
    pieces.feed(bytes(good) + 3, 0);
    pieces.feed(bytes(good) + 3, 5);
    EXPECT_TRUE(pieces.matches(crc, static_cast<uint32_t>(data.size())));
    pieces.feed(bytes(good), 1);  // a ninth byte: more than one member's worth
    EXPECT_FALSE(pieces.matches(crc, static_cast<uint32_t>(data.size())));
}

}  // namespace
