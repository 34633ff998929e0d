#pragma once

// Draws the unlit sphere that marks the light and the grass-textured 20 by 20
// ground square in the plane z = 0, under the current camera.
void draw_ground_and_marker();

// Its two halves: the marker alone, and the ground alone.
void draw_light_marker();
void draw_ground();
