#include <gtest/gtest.h>

#include "ui/DpiScale.h"

namespace {

TEST(DpiScaleTest, PixelsFollowTheDpi) {
    const struct {
        int pixels;
        unsigned from, to;
        int scaled;
    } cases[] = {
        {100, 96, 96, 100},   {80, 96, 144, 120},   {150, 96, 192, 300},  // the list's columns at 100, 150, 200 %
        {100, 96, 120, 125},  {75, 96, 120, 94},    {73, 96, 120, 91},    // halves up, the rest to the nearest
        {300, 192, 96, 150},  {451, 144, 192, 601}, {-7, 96, 144, -11},   // down, between two monitors, negative
        {1000000, 96, 288, 3000000}, {42, 0, 144, 42},                    // no overflow; no DPI known: unchanged
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.scaled, scaleToDpi(c.pixels, c.from, c.to)) << c.pixels << " " << c.from << " " << c.to;
}

TEST(DpiScaleTest, SortArrowsAreTheDrawnSizeNearestTheScaledOne) {
    const struct {
        unsigned dpi;
        int size;
    } cases[] = {{72, 14}, {96, 14}, {108, 14}, {120, 21}, {144, 21}, {168, 28}, {192, 28}, {288, 28}};
    for (const auto& c : cases)
        EXPECT_EQ(c.size, sortArrowSize(c.dpi)) << c.dpi;
}

}  // namespace
