#pragma once

#include "file_watch.h"
#include "own_model.h"
#include "viewer_camera.h"

#include <SDL.h>
#include <cstdint>
#include <vector>

// The run with a model of the user's: the scene, its cameras and the robot's
// keys as without one, and besides them a camera that turns about the model
// (F4), a white light (L), lines (W), vertex colours (V), reading the model
// again (R, and by itself when its files change) and screenshots (F12). Its
// loop reads every pending event each frame.

// Everything the run keeps beside the scene's own state.
struct ViewerState {
    // The window's size in pixels.
    int width = 800;
    int height = 600;
    // The shown model's bounding sphere, and the viewer camera's view of it,
    // set when F4 is first pressed.
    ModelSphere sphere;
    OrbitView view;
    bool framed = false;
    // The switches, each off at start.
    bool white_light = false;
    bool lines = false;
    bool vertex_colours = false;
    // Asked for by a key; done where the frame allows.
    bool reload = false;
    bool screenshot = false;
    bool done = false;
    // The number the next screenshot's name tries first.
    int next_picture = 1;
    // The model's file and the bitmap files its textures came from, and the
    // tick count at which they are looked at again.
    std::vector<FileStamp> watched;
    uint32_t next_look = 0;
};

// One event from SDL's queue: a key press switches once, however long it is
// held (F4, Home, L, W, V, R, F12, Escape); with the viewer camera on, the
// mouse turns it, moves it and (the wheel, buttons 4 and 5) brings it nearer
// or further. Changes camera_mode for F4. No GL.
void viewer_event(ViewerState* state, const SDL_Event& event);

// Sets up the scene with the model read at start and runs its frames until
// Escape; returns the exit status, 0. The window is open, init_gl done.
int run_viewer(ShownModel& shown, const RunOptions& options, int width, int height);
