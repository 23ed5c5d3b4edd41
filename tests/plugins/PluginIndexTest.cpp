// Splitting the index into the lines that the line reader gets.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plugins/PluginIndex.h"

namespace {

TEST(ParseIndex, Lines) {
    const struct {
        const char* name;
        std::string text;
        std::vector<std::string> lines;
    } cases[] = {
        {"crlf", "1 2 a.dll 1.0\r\n3 4 b.dll 1.0\r\n", {"1 2 a.dll 1.0", "3 4 b.dll 1.0"}},
        {"lf, cr and runs of both", "a\nb\rc\r\r\n\n\rd\n", {"a", "b", "c", "d"}},
        {"separators first", "\r\n\n  x\r\n", {"  x"}},
        {"last line without a line end", "a\r\nb c", {"a", "b c"}},
        {"one line without a line end", "1 2 a.dll 1.0", {"1 2 a.dll 1.0"}},
        {"blank lines are still lines", "a\r\n \r\n\tb", {"a", " ", "\tb"}},
        {"empty", "", {}},
        {"only separators", "\r\n\r\n\n\r", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = c.text;
        std::vector<std::string> lines;
        parseIndex(&text[0], [&](const char* line) { lines.push_back(line); });
        EXPECT_EQ(lines, c.lines);
    }
}

}  // namespace
