#pragma once

// The fixed OpenGL state of the whole run: viewport, projection, depth test,
// texturing. Called once, right after the window was opened.
void init_gl(int width, int height);
