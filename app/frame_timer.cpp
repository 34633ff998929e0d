#include "frame_timer.h"

#include <SDL.h>
#include <cstdio>

FrameTimer timer;

void FrameTimer::update() {
    update_to(SDL_GetTicks());
}

void FrameTimer::update_to(uint32_t now) {
    ticks = now;
    // Within the same millisecond the previous rate stands. The unsigned
    // difference stays small and positive when the tick count wraps.
    if (ticks != last_ticks) {
        double elapsed = double(uint32_t(ticks - last_ticks));
        fps = 1 / (elapsed / 1000.0);
    }
    last_ticks = ticks;
}

void format_caption(double fps, char* text, int size) {
    snprintf(text, size, "%10.1f", fps);
}
