#include "platform/screen_layout.h"

#include <gtest/gtest.h>

#include <array>

TEST(CentredWindowPosition, CentresOnCommonScreens) {
    const WindowPosition onXga = centredWindowPosition(1024, 768, 640, 480);
    EXPECT_EQ(onXga.x, 192);
    EXPECT_EQ(onXga.y, 144);
    const WindowPosition onExact = centredWindowPosition(640, 480, 640, 480);
    EXPECT_EQ(onExact.x, 0);
    EXPECT_EQ(onExact.y, 0);
}

TEST(CentredWindowPosition, OddSpareTruncatesTowardZero) {
    const WindowPosition position = centredWindowPosition(1025, 769, 640, 480);
    EXPECT_EQ(position.x, 192);
    EXPECT_EQ(position.y, 144);
}

TEST(CentredWindowPosition, SmallerScreenGivesNegativeCornerTruncatedTowardZero) {
    // -41 / 2 is -20, not the -21 a shift or floor would give.
    const WindowPosition position = centredWindowPosition(599, 400, 640, 480);
    EXPECT_EQ(position.x, -20);
    EXPECT_EQ(position.y, -40);
}

TEST(FindDisplayMode, TakesOnlyTheExactMode) {
    const std::array<DisplayMode, 5> modes{{
        {1024, 768, 32},
        {640, 480, 16},
        {640, 400, 32},
        {640, 480, 32},
        {640, 480, 32},
    }};
    EXPECT_EQ(findDisplayMode(modes, {640, 480, 32}), 3);
    EXPECT_EQ(findDisplayMode(modes, {640, 480, 16}), 1);
    EXPECT_EQ(findDisplayMode(modes, {800, 600, 32}), -1);
    EXPECT_EQ(findDisplayMode(modes, {640, 480, 24}), -1);
    EXPECT_EQ(findDisplayMode(std::span<const DisplayMode>{}, {640, 480, 32}), -1);
}
