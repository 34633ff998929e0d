#pragma once

#include <cstdint>

// The frame rate of the latest frame, measured from SDL's millisecond ticks.
// The one instance is a zero-initialised global: no constructor on purpose.
class FrameTimer {
  public:
    uint32_t last_ticks;
    uint32_t ticks;
    double fps;

    // Reads SDL's tick count and measures the interval since the last update.
    void update();
    // The measuring step of update for a given tick count.
    void update_to(uint32_t now);
    double get_fps() const { return fps; }
};

extern FrameTimer timer;

// The caption of a frame: the rate right-aligned in ten characters with one
// decimal. text has room for 15 bytes.
void format_caption(double fps, char* text, int size);
