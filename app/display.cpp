#include "display.h"

#ifdef _WIN32
#define NOMINMAX
#include <windows.h>
#endif

#include <GL/gl.h>
#include <GL/glu.h>
#include <SDL.h>
#include <cstdio>
#include <cstdlib>

void init_gl(int width, int height) {
    // These requests come after the mode was set, so the window keeps the
    // context SDL made for it; SDL would apply them at a later mode set.
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    glViewport(0, 0, width, height);
    printf("Video mod nastaven\n");

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    // The near plane is the single-precision 0.1.
    gluPerspective(45.0, double(width) / double(height), double(0.1f), 100.0);
    // The modelview matrix stays selected for the rest of the run.
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    glShadeModel(GL_SMOOTH);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClearDepth(1.0);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_DEPTH_TEST);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glEnable(GL_TEXTURE_2D);
    glLineWidth(4.0f);
}

#ifndef _WIN32
static bool environment_names(const char* variable) {
    const char* value = getenv(variable);
    return value && *value;
}
#endif

bool display_named() {
#ifdef _WIN32
    return true;
#else
    return environment_names("DISPLAY") || environment_names("WAYLAND_DISPLAY") ||
           environment_names("SDL_VIDEODRIVER");
#endif
}

void keep_message_readable() {
#ifdef _WIN32
    // Under wine a console that only this program shares is the Unix
    // terminal it was started from, which stays open.
    HMODULE system = GetModuleHandleA("ntdll.dll");
    if (system && GetProcAddress(system, "wine_get_version"))
        return;
    DWORD processes[2];
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (GetConsoleProcessList(processes, 2) != 1 || input == INVALID_HANDLE_VALUE ||
        input == nullptr || GetFileType(input) != FILE_TYPE_CHAR)
        return;
    printf("Press Enter to close this window.\n");
    fflush(stdout);
    getchar();
#endif
}
