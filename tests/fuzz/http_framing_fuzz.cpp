// The response as the fetcher frames it: the first byte chooses how the rest arrives in receives.
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "net/HttpFraming.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

using Step = HttpFraming::Step;

struct Outcome {
    Step end;
    FetchError error;
    std::string text;
    std::vector<std::string> chunks;
};

// Receives of 1 to 5000 bytes from a small generator, or with seed 0, as much as fits each time.
Outcome frame(const uint8_t* data, size_t size, uint32_t seed) {
    auto framing = std::make_unique<HttpFraming>();
    Outcome out{Step::Receive, NoResponse, "", {}};
    size_t at = 0;
    bool closed = false;
    for (;;) {
        const char* bytes = nullptr;
        uint32_t length = 0;
        const Step step = framing->next(bytes, length);
        if (step == Step::Deliver) {
            check(length >= 1 && length <= HttpFraming::kChunk, "chunk size out of range");
            out.chunks.emplace_back(bytes, length);
            continue;
        }
        if (step == Step::Done || step == Step::Failed) {
            out.end = step;
            out.error = framing->error();
            if (step == Step::Failed && out.error == HttpError) {
                const char* text = framing->errorText();
                const void* end = std::memchr(text, '\0', HttpFraming::kChunk);
                check(end != nullptr, "error text not terminated within the header's chunk");
                out.text = text;
            }
            check(framing->next(bytes, length) == step, "the end changed when asked again");
            return out;
        }
        check(!closed, "asked for more after the close");
        check(framing->room() > 0, "no room to receive");
        if (at == size) {
            framing->closed();
            closed = true;
            continue;
        }
        size_t count = size - at;
        if (seed != 0) {
            seed = seed * 1103515245u + 12345u;
            count = std::min<size_t>(count, 1 + (seed >> 8) % 5000);
        }
        count = std::min<size_t>(count, framing->room());
        std::memcpy(framing->space(), data + at, count);
        framing->received(static_cast<uint32_t>(count));
        at += count;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint32_t seed = data[0] + 1u;
    ++data;
    --size;
    const Outcome whole = frame(data, size, 0);
    const Outcome pieces = frame(data, size, seed);
    check(whole.end == pieces.end && whole.error == pieces.error && whole.text == pieces.text &&
              whole.chunks == pieces.chunks,
          "the outcome depends on how the bytes arrived");

    std::string body;
    for (const std::string& chunk : whole.chunks)
        body += chunk;
    if (whole.end == Step::Failed) {
        check(body.empty(), "a failed response delivered body bytes");
        if (whole.error == HttpError)
            check(whole.text.find_first_of("\r\n") == std::string::npos, "error text runs past the status line");
        const size_t first = size < HttpFraming::kChunk ? size : HttpFraming::kChunk;
        if (!std::memchr(data, '\n', first))
            check(whole.error == NoResponse, "no status line in the first chunk, yet not no response");
        return 0;
    }
    check(whole.end == Step::Done, "ended neither done nor failed");
    if (size == 0) {
        check(body.empty(), "body from nothing");
        return 0;
    }
    check(!body.empty(), "a response without body bytes counted as done");
    // The body is the response's tail, after a header that ends with an empty line in the first chunk.
    const size_t header = size - body.size();
    check(header <= HttpFraming::kChunk, "header longer than the first chunk");
    check(std::memcmp(data + header, body.data(), body.size()) == 0, "body bytes changed");
    check(header >= 2 && data[header - 1] == '\n', "header does not end with a line feed");
    const char* text = reinterpret_cast<const char*>(data);
    const void* firstLineEnd = std::memchr(text, '\n', header - 1);
    check(firstLineEnd != nullptr, "no status line before the empty line");
    size_t lineStart = header - 1;
    while (lineStart > 0 && text[lineStart - 1] != '\n')
        --lineStart;
    check(text[lineStart] == '\r' || text[lineStart] == '\n', "the header's last line is not empty");
    // Every chunk but the first and the last is a whole chunk.
    for (size_t i = 1; i + 1 < whole.chunks.size(); ++i)
        check(whole.chunks[i].size() == HttpFraming::kChunk, "a short chunk in the middle of the body");
    return 0;
}
