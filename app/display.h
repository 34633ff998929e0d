#pragma once

// The fixed OpenGL state of the whole run: viewport, projection, depth test,
// texturing. Called once, right after the window was opened.
void init_gl(int width, int height);

// Whether the environment names somewhere to open the window: an X or
// Wayland display, or a video driver chosen for SDL. Without any of them SDL
// would pick a text-mode driver that fills the terminal with escape codes.
// Always true on Windows, whose programs open their windows on its desktop.
bool display_named();

// Where the program has a console window of its own, opened for this run
// alone and closing with it (a model dropped onto the program on Windows),
// a message it printed before ending early would only flash: it waits for
// Enter first. Elsewhere, run from a terminal or with its input redirected,
// it returns at once.
void keep_message_readable();
