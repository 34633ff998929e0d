/* Preloaded into the program by the end-to-end tests and the measurement
 * script: writes one line per window caption and per buffer swap, with a
 * CLOCK_MONOTONIC time stamp in nanoseconds, to the file named by
 * FRAME_PROBE_LOG. Each line goes out with its own write() so that nothing is
 * lost when the program is killed. Without FRAME_PROBE_LOG it only passes the
 * calls on. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

static int log_fd = -1;

static long long now_ns(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

static void log_line(const char* kind, const char* text) {
    char line[256];
    int n;
    if (log_fd < 0)
        return;
    n = snprintf(line, sizeof line, "%s %lld%s%s\n", kind, now_ns(), text ? " " : "",
                 text ? text : "");
    if (n > (int)sizeof line - 1)
        n = (int)sizeof line - 1;
    if (n > 0 && write(log_fd, line, (size_t)n) < 0) {
        /* Nothing useful to do: the log is best effort. */
    }
}

__attribute__((constructor)) static void open_log(void) {
    const char* path = getenv("FRAME_PROBE_LOG");
    if (!path || !*path)
        return;
    log_fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    log_line("start", NULL);
}

/* The SDL 1.2 entry points, passed on to the real library. SDL_Init and
 * SDL_SetVideoMode are logged when they return, to split the start-up;
 * SDL_Init's line names the SDL library file that was loaded (the classic
 * library or sdl12-compat). */
int SDL_Init(unsigned int flags) {
    static int (*real)(unsigned int);
    Dl_info library;
    if (!real)
        *(void**)&real = dlsym(RTLD_NEXT, "SDL_Init");
    int result = real ? real(flags) : -1;
    log_line("init", real && dladdr(*(void**)&real, &library) && library.dli_fname
                         ? library.dli_fname
                         : "?");
    return result;
}

void* SDL_SetVideoMode(int width, int height, int bpp, unsigned int flags) {
    static void* (*real)(int, int, int, unsigned int);
    if (!real)
        *(void**)&real = dlsym(RTLD_NEXT, "SDL_SetVideoMode");
    void* surface = real ? real(width, height, bpp, flags) : NULL;
    log_line("videomode", NULL);
    return surface;
}

void SDL_WM_SetCaption(const char* title, const char* icon) {
    static void (*real)(const char*, const char*);
    if (!real)
        *(void**)&real = dlsym(RTLD_NEXT, "SDL_WM_SetCaption");
    /* The caption is logged between brackets: it starts with blanks. */
    char text[64];
    snprintf(text, sizeof text, "[%s]", title ? title : "(null)");
    log_line("caption", text);
    if (real)
        real(title, icon);
}

void SDL_GL_SwapBuffers(void) {
    static void (*real)(void);
    if (!real)
        *(void**)&real = dlsym(RTLD_NEXT, "SDL_GL_SwapBuffers");
    if (real)
        real();
    log_line("swap", NULL);
}

/* With FRAME_PROBE_KEEP_LIBRARIES set, libraries are never unloaded, so
 * that LeakSanitizer's report at exit can still name the GL driver's frames
 * (it is unloaded at exit otherwise, and its frames show no module). */
int dlclose(void* handle) {
    static int (*real)(void*);
    const char* keep = getenv("FRAME_PROBE_KEEP_LIBRARIES");
    if (keep && *keep)
        return 0;
    if (!real)
        *(void**)&real = dlsym(RTLD_NEXT, "dlclose");
    return real ? real(handle) : 0;
}
