#include <windows.h>

#include <gtest/gtest.h>

#include "base/WideText.h"

namespace {

// Byte texts as code page 1252 spells them, the code page of the test machines.
TEST(WideText, BetweenTheCodePageAndTheSystemsSpelling) {
    if (GetACP() != 1252)
        GTEST_SKIP() << "the table is written for code page 1252, not " << GetACP();
    const struct {
        const char* bytes;
        const wchar_t* wide;
        bool both;  // false: `wide` narrows to `bytes` for display, but has no spelling in the code page
    } cases[] = {
        {"", L"", true},
        {"tarsel.cfg", L"tarsel.cfg", true},
        {"Jos\xE9 M\xFCller", L"Jos\u00E9 M\u00FCller", true},
        {"\x80 \xB9", L"\u20AC \u00B9", true},
        {"??????? ??", L"\u0414\u043C\u0438\u0442\u0440\u0438\u0439 \u738B\u82B3", false},
        {"?x", L"\u0141x", false},        // best fit would show "Lx", another user's name
        {"?.tsl", L"\uFF41.tsl", false},  // and "a.tsl" for a full-width letter
    };
    for (const auto& c : cases) {
        EXPECT_EQ(narrow(c.wide), c.bytes) << c.bytes;
        if (c.both)
            EXPECT_EQ(widen(c.bytes), c.wide) << c.bytes;
    }
}

}  // namespace
