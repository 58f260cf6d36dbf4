#include "platform/wrapping_count.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

constexpr uint64_t wrap = uint64_t{1} << 32;

TEST(WrappingCount, GoesOnPastEachWrapAndNeverBack) {
    WrappingCount count{};
    EXPECT_EQ(extendCount(count, 0), 0u);
    EXPECT_EQ(extendCount(count, 4'000'000'000u), 4'000'000'000u);
    EXPECT_EQ(extendCount(count, 100), wrap + 100);
    EXPECT_EQ(extendCount(count, 0xFFFF'FFFFu), wrap + 0xFFFF'FFFFu);
    EXPECT_EQ(extendCount(count, 0), 2 * wrap);
}

TEST(WrappingCount, AStandingCountIsNoWrap) {
    WrappingCount count{};
    EXPECT_EQ(extendCount(count, 7), 7u);
    EXPECT_EQ(extendCount(count, 7), 7u);
    EXPECT_EQ(count.wraps, 0u);
}

}  // namespace
