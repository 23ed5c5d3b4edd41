// Cutting a response into header and body chunks, fed as the network might deliver it.
#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/HttpFraming.h"

namespace {

using Step = HttpFraming::Step;

// Bytes that differ from their neighbours, so that a chunk from the wrong place shows.
std::string pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 7 % 251);
    return bytes;
}

// A good response header of exactly `size` bytes that ends with its empty line.
std::string headerOfSize(size_t size) {
    const std::string start = "HTTP/1.0 200 OK\r\nX-Pad: ";
    return start + std::string(size - start.size() - 4, 'p') + "\r\n\r\n";
}

struct Outcome {
    Step end = Step::Receive;
    FetchError error = NoResponse;
    std::string text;
    std::vector<std::string> chunks;
};

// Feeds `response` in receives of at most `piece` bytes, then the close.
Outcome frame(const std::string& response, size_t piece) {
    auto framing = std::make_unique<HttpFraming>();
    Outcome out;
    size_t at = 0;
    for (;;) {
        const char* bytes = nullptr;
        uint32_t length = 0;
        const Step step = framing->next(bytes, length);
        if (step == Step::Deliver) {
            out.chunks.emplace_back(bytes, length);
        } else if (step != Step::Receive) {
            out.end = step;
            out.error = framing->error();
            out.text = step == Step::Failed && out.error == HttpError ? framing->errorText() : "";
            return out;
        } else if (at == response.size()) {
            framing->closed();
        } else {
            size_t count = std::min({piece, response.size() - at, static_cast<size_t>(framing->room())});
            response.copy(framing->space(), count, at);
            framing->received(static_cast<uint32_t>(count));
            at += count;
        }
    }
}

struct FramingCase {
    const char* name;
    std::string response;
    std::vector<size_t> chunks;  // on success
    std::string body;            // on success
    FetchError error;            // on failure: a chunk list and body are then empty
    std::string text = "";
};

constexpr FetchError kNone = static_cast<FetchError>(0);

TEST(HttpFraming, Table) {
    const std::string tenThousand = pattern(10000);
    const std::string big = pattern(200000);  // several times the buffer
    const FramingCase cases[] = {
        {"short body", "HTTP/1.0 200 OK\r\n\r\nhello", {5}, "hello", kNone},
        {"header ends at byte 4096, long body",
         headerOfSize(4096) + tenThousand,
         {4096, 4096, 1808},
         tenThousand,
         kNone},
        {"closes without a byte", "", {}, "", kNone},
        {"header ends at byte 4096, no body", headerOfSize(4096), {}, "", NoResponse},
        {"204 with no body", "HTTP/1.0 204 No Content\r\n\r\n", {}, "", NoResponse},
        {"no line end in 4096 bytes", std::string(5000, 'x'), {}, "", NoResponse},
        {"header longer than 4096", headerOfSize(5000) + "body", {}, "", NoResponse},
        {"header unfinished at close", "HTTP/1.0 200 OK\r\nServer: t\r\n", {}, "", NoResponse},
        {"404 after 4096 bytes of header", "HTTP/1.0 404 Gone\r\n" + std::string(5000, 'x'), {}, "", HttpError, "Gone"},
    };
    std::vector<size_t> bigChunks = {4096 - 19};
    for (size_t left = big.size() - bigChunks[0]; left > 0; left -= bigChunks.back())
        bigChunks.push_back(std::min<size_t>(left, 4096));
    std::vector<FramingCase> all(std::begin(cases), std::end(cases));
    all.push_back({"body larger than the buffer", "HTTP/1.0 200 OK\r\n\r\n" + big, bigChunks, big, kNone});

    // However the bytes arrive, the chunks fall at the same places in the response.
    for (size_t piece : {size_t{1} << 20, size_t{1500}, size_t{7}}) {
        for (const FramingCase& c : all) {
            SCOPED_TRACE(c.name);
            SCOPED_TRACE(piece);
            const Outcome out = frame(c.response, piece);
            std::vector<size_t> sizes;
            std::string body;
            for (const std::string& chunk : out.chunks) {
                sizes.push_back(chunk.size());
                body += chunk;
            }
            EXPECT_EQ(out.end, c.error == kNone ? Step::Done : Step::Failed);
            if (c.error != kNone) {
                EXPECT_EQ(out.error, c.error);
                EXPECT_EQ(out.text, c.text);
            }
            EXPECT_EQ(sizes, c.chunks);
            EXPECT_TRUE(body == c.body);  // not printed: some are long
        }
    }
}

}  // namespace
