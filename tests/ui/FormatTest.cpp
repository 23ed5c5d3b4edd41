#include <gtest/gtest.h>

#include "ui/Format.h"

namespace {
struct Case {
    uint32_t value;
    const char* text;
};

TEST(FormatTest, SizesPickTheirUnitAndRoundHalfUp) {
    const Case cases[] = {
        {0, "0 b"},           {2047, "2047 b"},     {2048, "2.00 kb"},           {2100, "2.05 kb"},
        {2560, "2.50 kb"},    {3071, "3.00 kb"},    {1048576, "1024.00 kb"},     {2097151, "2048.00 kb"},
        {2097152, "2.00 Mb"}, {2200000, "2.10 Mb"}, {4294967295u, "4096.00 Mb"},
    };
    for (const Case& c : cases) {
        char text[kSizeTextLength];
        formatSize(c.value, text);
        EXPECT_STREQ(c.text, text) << c.value;
    }
}

TEST(FormatTest, DurationsSwitchToMinutesAboveSixtySeconds) {
    const Case cases[] = {
        {0, "0 sec"},
        {59, "59 sec"},
        {60, "60 sec"},
        {61, "1 min 1 sec"},
        {120, "2 min 0 sec"},
        {3600, "60 min 0 sec"},
        {4294967295u, "71582788 min 15 sec"},
    };
    for (const Case& c : cases) {
        char text[kDurationTextLength];
        formatDuration(c.value, text);
        EXPECT_STREQ(c.text, text) << c.value;
    }
}

TEST(FormatTest, ShortBuffersAreCutAndTerminated) {
    char text[5];
    formatSize(4294967295u, text, sizeof text);
    EXPECT_STREQ("4096", text);
    formatDuration(4294967295u, text, sizeof text);
    EXPECT_STREQ("7158", text);
}
}  // namespace
