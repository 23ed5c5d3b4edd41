// Feeds the code that reads router bytes and user text with random and mutated input, built natively
// with the address and undefined-behaviour sanitizers. Also a libFuzzer target
// (clang -fsanitize=fuzzer -DTARSEL_LIBFUZZER).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "app/PortText.h"
#include "net/GzipHeader.h"
#include "net/HttpHeader.h"
#include "plugins/PlainFileName.h"
#include "plugins/PluginEntry.h"
#include "tests/native/record_fuzz.h"
#include "ui/Format.h"

namespace {
[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void checkHeader(const uint8_t* data, size_t size) {
    char buffer[4096];
    uint32_t length = static_cast<uint32_t>(size < sizeof buffer ? size : sizeof buffer);
    std::memcpy(buffer, data, length);
    const uint32_t before = length;
    const int result = parseHeader(buffer, length);
    if (result < -2 || result > 1)
        fail("header result out of range");
    if (result == 1 && length > before)
        fail("body longer than what was buffered");
    if (result == -2) {
        const char* end = static_cast<const char*>(std::memchr(buffer, '\0', before));
        if (end == nullptr)
            fail("error text not terminated within the buffer");
        // The text ends at the status line's end: the next header line must never leak into a message box.
        if (std::memchr(buffer, '\r', end - buffer) || std::memchr(buffer, '\n', end - buffer))
            fail("error text runs past the status line");
    }
}

void checkGzip(const uint8_t* data, size_t size) {
    // The same bytes in one piece and in pieces of every size must read the same way.
    GzipHeaderReader whole;
    const size_t usedWhole = whole.feed(data, size);
    for (size_t piece = 1; piece <= 16 && piece <= size; ++piece) {
        GzipHeaderReader split;
        size_t used = 0, offset = 0;
        while (offset < size && split.status() == GzipHeaderReader::NeedMore) {
            const size_t n = size - offset < piece ? size - offset : piece;
            const size_t took = split.feed(data + offset, n);
            if (took > n)
                fail("gzip reader used more than it was given");
            used += took;
            offset += n;
        }
        if (split.status() != whole.status() || (whole.status() == GzipHeaderReader::Complete && used != usedWhole))
            fail("gzip header read differently in pieces");
    }
    GzipTrailer trailer;
    trailer.feed(data, size);
    trailer.matches(0, 0);
}

void checkIndexLine(const uint8_t* data, size_t size) {
    std::string line(reinterpret_cast<const char*>(data), size);
    line = line.c_str();  // the loader hands over terminated lines
    PluginEntry entry;
    if (entry.parse(line.c_str())) {
        if (!isPlainFileName(entry.file) || !isPlainFileName(entry.version))
            fail("an accepted line names something that is not a plain file name");
        if (std::strlen(entry.name) > 31 || std::strlen(entry.version) > 15)
            fail("field longer than its buffer allows");
        char stamp[36];
        entry.stampPath(stamp, sizeof stamp);
        if (std::memchr(stamp, '\0', sizeof stamp) == nullptr)
            fail("stamp name not terminated");
    }
}

void checkPortAndFormats(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    uint16_t port = 4321;
    if (parsePort(text.c_str(), port) && port == 0)
        fail("port 0 accepted");
    uint32_t value = 0;
    std::memcpy(&value, data, size < 4 ? size : 4);
    char sizeText[kSizeTextLength];
    char durationText[kDurationTextLength];
    formatSize(value, sizeText);
    formatDuration(value, durationText);
    char full[64];
    std::snprintf(full, sizeof full, "%s", sizeText);
    formatSize(value, full, sizeof full);
    if (std::strcmp(full, sizeText) != 0)
        fail("size text does not fit its documented buffer");
    formatDuration(value, full, sizeof full);
    if (std::strcmp(full, durationText) != 0)
        fail("duration text does not fit its documented buffer");
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkHeader(data, size);
    checkGzip(data, size);
    checkIndexLine(data, size);
    checkPortAndFormats(data, size);
    record_fuzz::checkRecordFile(data, size);
    return 0;
}

#ifndef TARSEL_LIBFUZZER
// Seeds shaped like real traffic, then random mutations of them: a fixed seed keeps runs repeatable.
int main(int argc, char** argv) {
    const long rounds = argc > 1 ? std::atol(argv[1]) : 100000;
    const std::vector<std::string> seeds = {
        "HTTP/1.0 200 OK\r\nServer: x\r\n\r\nbody",
        "HTTP/1.1 404 Not Found\r\n\r\n",
        "HTTP/1.0 301\n\n",
        "ICY 200 OK\r\n\r\n",
        std::string("\x1f\x8b\x08\x1e\0\0\0\0\0\x03\x02\0ab"
                    "name\0"
                    "comment\0"
                    "\x12\x34"
                    "data",
                    28),
        "305419896 48213 plugin.dll.gz 1.0",
        "1 2 ..\\..\\evil.dll 1.0",
        "1 2 a.dll.gz C:",
        "1 2 COM1.dll 1.0 extra words",
        "-1 +5 .gz 99999999999999999999",
        "+80",
        "080",
        "65536",
        " 1:2",
        // Records: the "addr" example, a window record with bounds, widths and sort, a skipped field.
        std::string("\x09\0\x04typeaddr\x0a\0\x08keep-pwd\0\0\0", 25),
        std::string("\x0b\0\x04typewindow\x17\0\x06"
                    "bounds\xf6\xff\xff\xff\x14\0\0\0\x62\x52\0\0\xa4\x01\0\0"
                    "\x0f\0\x0alist-col-1\x70\x11\x01\0\x0e\0\x09list-sort\x02\0\0\0\0\0"
                    "\x09\0\x04typeaddr\x0a\0\x04hostr1:80\x04\0\x03pwd\0\0",
                    104),
        std::string("\x03\0\x03"
                    "ab\x09\0\x04typeaddr\xff\xff\x00",
                    19),
    };
    std::mt19937 random(20261207);
    long runs = 0;
    for (const std::string& seed : seeds) {
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(seed.data()), seed.size());
        ++runs;
    }
    for (long i = 0; i < rounds; ++i) {
        std::string input = seeds[random() % seeds.size()];
        const int edits = 1 + random() % 8;
        for (int e = 0; e < edits; ++e) {
            const size_t at = input.empty() ? 0 : random() % (input.size() + 1);
            switch (random() % 4) {
            case 0: input.insert(at, 1, static_cast<char>(random())); break;
            case 1:
                if (at < input.size())
                    input.erase(at, 1);
                break;
            case 2:
                if (at < input.size())
                    input[at] = static_cast<char>(random());
                break;
            case 3: input.insert(at, std::string(random() % 5000, static_cast<char>(random()))); break;
            }
        }
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
        ++runs;
    }
    std::printf("%ld inputs, no invariant broken\n", runs);
    return 0;
}
#endif
