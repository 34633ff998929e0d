#include "control.h"
#include "display.h"
#include "file_lookup.h"
#include "frame_timer.h"
#include "options.h"
#include "own_model.h"
#include "scene.h"
#include "viewer.h"

#include <GL/gl.h>
#include <SDL.h>
#include <cstdio>
#include <cstdlib>
#include <string>

// The one event polled each frame; nothing reads it, so closing the window
// does not end the program: only Escape does.
SDL_Event event;

int main(int argc, char* argv[]) {
    RunOptions options;
    std::string error;
    switch (parse_arguments(argc, argv, &options, &error)) {
    case ParseOutcome::help:
        print_usage(stdout, true);
        return 0;
    case ParseOutcome::bad:
        fprintf(stderr, "robot: %s\n", error.c_str());
        print_usage(stderr, false);
        keep_message_readable();
        return 2;
    case ParseOutcome::run:
        break;
    }
    if (!display_named()) {
        fprintf(stderr, "robot: no display to open a window on: neither DISPLAY nor "
                        "WAYLAND_DISPLAY is set; start it in a desktop session, or as "
                        "xvfb-run robot\n");
        return 1;
    }
    // A model asked for by name is read before the window opens: one that
    // cannot be opened ends the run, unlike the default robot's file.
    ShownModel own_model;
    if (options.model_path && !load_own_model(options, &own_model.model, &own_model.read)) {
        printf("\n");
        keep_message_readable();
        return 1;
    }
    if (!options.model_path)
        work_from_own_data_when_none();

    // SDL is shut down at every exit, including a fatal texture error.
    atexit(SDL_Quit);
    int done = 0;

    if (SDL_Init(SDL_INIT_VIDEO) != 0 || !SDL_SetVideoMode(800, 600, 16, SDL_OPENGL)) {
        fprintf(stderr, "Cannot open an OpenGL window: %s\n", SDL_GetError());
        exit(1);
    }
    init_gl(800, 600);
    // A model of the user's gets a loop of its own, which reads every event.
    if (options.model_path)
        return run_viewer(own_model, options, 800, 600);
    init_scene();

    char text[15];
    while (!done) {
        timer.update();
        format_caption(timer.get_fps(), text, sizeof text);
        SDL_WM_SetCaption(text, "");
        SDL_PollEvent(&event);
        keys = SDL_GetKeyState(nullptr);
        // The frame in which Escape is held still runs to its end.
        if (keys[SDLK_ESCAPE])
            done = 1;
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glLoadIdentity();
        run_frame();
        SDL_GL_SwapBuffers();
    }
    release_model();
    return 0;
}
