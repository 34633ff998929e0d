#include "frame_timer.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string caption(double fps) {
    char text[15];
    format_caption(fps, text, sizeof text);
    return text;
}

TEST(FrameTimer, RateIsThousandOverTheMillisecondsBetweenUpdates) {
    FrameTimer t{};
    // A first frame within SDL's first millisecond has no rate yet.
    t.update_to(0);
    EXPECT_EQ(t.get_fps(), 0.0);
    t.update_to(500);
    EXPECT_EQ(t.get_fps(), 2.0);
    t.update_to(516);
    EXPECT_EQ(t.get_fps(), 62.5);
    EXPECT_EQ(caption(t.get_fps()), "      62.5");
    t.update_to(517);
    EXPECT_EQ(caption(t.get_fps()), "    1000.0");
    // Within the same millisecond the rate stands.
    t.update_to(517);
    EXPECT_EQ(t.get_fps(), 1000.0);
    EXPECT_EQ(t.last_ticks, 517u);

    // The unsigned difference bridges the wrap of the tick count.
    t.last_ticks = 0xFFFFFFF0u;
    t.update_to(0x10u);
    EXPECT_EQ(t.get_fps(), 31.25);
    // A rate halfway between two captions rounds to the even one, whichever
    // C library formats it.
    EXPECT_EQ(caption(t.get_fps()), "      31.2");
}

} // namespace
