#include <gtest/gtest.h>

#include "platform/cursor_counter.h"
#include "platform/key_latch.h"

TEST(CursorCounter, HidesOnlyWhileCountIsNegative) {
    CursorCounter counter{};
    EXPECT_TRUE(cursorVisible(counter));
    EXPECT_EQ(changeCursorCount(counter, false), -1);
    EXPECT_FALSE(cursorVisible(counter));
    EXPECT_EQ(changeCursorCount(counter, false), -2);
    // Hides nest: one show is not enough after two hides.
    EXPECT_EQ(changeCursorCount(counter, true), -1);
    EXPECT_FALSE(cursorVisible(counter));
    EXPECT_EQ(changeCursorCount(counter, true), 0);
    EXPECT_TRUE(cursorVisible(counter));
}

TEST(CursorCounter, ShowOnVisibleCursorRaisesCountAndOutlastsOneHide) {
    CursorCounter counter{};
    EXPECT_EQ(changeCursorCount(counter, true), 1);
    EXPECT_EQ(changeCursorCount(counter, false), 0);
    EXPECT_TRUE(cursorVisible(counter));
}

TEST(KeyLatch, ReportsKeyHeldDownAtEveryPoll) {
    KeyLatch latch{};
    EXPECT_FALSE(pollKeyLatch(latch, false));
    notePress(latch);
    EXPECT_TRUE(pollKeyLatch(latch, true));
    EXPECT_TRUE(pollKeyLatch(latch, true));
    EXPECT_FALSE(pollKeyLatch(latch, false));
}

TEST(KeyLatch, ReportsTapBetweenPollsExactlyOnce) {
    KeyLatch latch{};
    notePress(latch);  // pressed and released again before the poll
    EXPECT_TRUE(pollKeyLatch(latch, false));
    EXPECT_FALSE(pollKeyLatch(latch, false));
}

TEST(KeyLatch, SeveralTapsBetweenPollsCountOnce) {
    KeyLatch latch{};
    notePress(latch);
    notePress(latch);
    EXPECT_TRUE(pollKeyLatch(latch, false));
    EXPECT_FALSE(pollKeyLatch(latch, false));
}
