// The router's index as the loader splits it: at most 8191 bytes of text, ended at its first NUL.
#include <cstdint>
#include <cstring>
#include <string>

#include "plugins/PluginIndex.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string original(reinterpret_cast<const char*>(data), size < 8191 ? size : 8191);
    original = original.substr(0, original.find('\0'));
    std::string text = original;
    char* const start = &text[0];
    size_t previousEnd = 0;
    size_t lineBytes = 0;
    parseIndex(start, [&](const char* line) {
        check(line >= start && line < start + original.size(), "a line outside the text");
        const size_t at = static_cast<size_t>(line - start);
        const size_t length = std::strlen(line);
        check(length > 0, "an empty line handed over");
        check(at >= previousEnd, "lines out of order or overlapping");
        check(original.compare(at, length, line) == 0, "a line's bytes changed");
        check(std::strpbrk(line, "\r\n") == nullptr, "a line end inside a line");
        // Whole lines: what lies on either side in the text is a line end or the text's edge.
        check(at == 0 || original[at - 1] == '\r' || original[at - 1] == '\n', "a line cut at its start");
        check(at + length == original.size() || original[at + length] == '\r' || original[at + length] == '\n',
              "a line cut at its end");
        previousEnd = at + length;
        lineBytes += length;
    });
    // Every byte that is not a line end is in exactly one line.
    size_t content = 0;
    for (char c : original)
        content += c != '\r' && c != '\n';
    check(lineBytes == content, "bytes lost or handed over twice");
    return 0;
}
