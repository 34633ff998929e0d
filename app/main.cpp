#include "control.h"
#include "display.h"
#include "frame_timer.h"
#include "scene.h"

#include <GL/gl.h>
#include <SDL.h>
#include <cstdio>
#include <cstdlib>

// The one event polled each frame; nothing reads it, so closing the window
// does not end the program: only Escape does.
SDL_Event event;

int main(int argc, char* argv[]) {
    (void)argc;
    (void)argv;
    // SDL is shut down at every exit, including a fatal texture error.
    atexit(SDL_Quit);
    int done = 0;

    if (SDL_Init(SDL_INIT_VIDEO) != 0 || !SDL_SetVideoMode(800, 600, 16, SDL_OPENGL)) {
        fprintf(stderr, "Cannot open an OpenGL window: %s\n", SDL_GetError());
        exit(1);
    }
    init_gl(800, 600);
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
