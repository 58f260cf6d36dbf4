#include "app/run_end.h"

#include <gtest/gtest.h>

#include <cstdint>

TEST(ExitStatus, EscapeAndSilentEndsGiveZero) {
    EXPECT_EQ(exitStatusFor(RunEnd::Escape), 0);
    EXPECT_EQ(exitStatusFor(RunEnd::DisplayRefused), 0);
    EXPECT_EQ(exitStatusFor(RunEnd::TextureMissing), 0);
}

TEST(ExitStatus, ReportedFailuresGiveMinusOneSeenAs255) {
    for (const RunEnd end : {RunEnd::DeviceFailed, RunEnd::SongFailed, RunEnd::WindowFailed,
                             RunEnd::WindowSystemFailed, RunEnd::QuestionFailed}) {
        const int status = exitStatusFor(end);
        EXPECT_EQ(status, -1);
        // The low byte is what a parent process sees.
        EXPECT_EQ(static_cast<uint8_t>(status), 255);
    }
}
