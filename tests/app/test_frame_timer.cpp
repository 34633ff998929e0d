#include "frame_timer.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string caption(double fps) {
    char text[15];
    format_caption(fps, text, sizeof text);
    return text;
}

} // namespace

TEST(FrameTimer, RateIsThousandOverTheMillisecondsBetweenUpdates) {
    FrameTimer t{};
    t.update_to(500);
    EXPECT_EQ(t.get_fps(), 2.0) << "first frame measures from SDL's start";
    t.update_to(516);
    EXPECT_EQ(t.get_fps(), 62.5);
    EXPECT_EQ(caption(t.get_fps()), "      62.5");
    t.update_to(517);
    EXPECT_EQ(t.get_fps(), 1000.0);
    EXPECT_EQ(caption(t.get_fps()), "    1000.0");
    EXPECT_EQ(t.last_ticks, 517u);
    EXPECT_EQ(t.ticks, 517u);
}

TEST(FrameTimer, SameMillisecondKeepsTheRate) {
    FrameTimer t{};
    t.update_to(100);
    t.update_to(120);
    ASSERT_EQ(t.get_fps(), 50.0);
    t.update_to(120);
    EXPECT_EQ(t.get_fps(), 50.0);
    EXPECT_EQ(caption(t.get_fps()), "      50.0");
}

TEST(FrameTimer, FirstUpdateAtTickZeroLeavesRateZero) {
    FrameTimer t{};
    t.update_to(0);
    EXPECT_EQ(t.get_fps(), 0.0);
}

TEST(FrameTimer, TickWrapGivesTheSmallPositiveInterval) {
    FrameTimer t{};
    t.last_ticks = 0xFFFFFFF0u;
    t.update_to(0x00000010u);
    EXPECT_EQ(t.get_fps(), 31.25);
    EXPECT_EQ(t.last_ticks, 0x10u);
}

TEST(FrameTimer, CaptionFitsTheLowestAndHighestRates) {
    // 1000 fps is the most a millisecond clock can show; a minute-long frame
    // still fits in ten characters.
    EXPECT_EQ(caption(1000.0), "    1000.0");
    EXPECT_EQ(caption(1000.0 / 60000), "       0.0");
    EXPECT_EQ(caption(0.0), "       0.0");
}
