#pragma once

// A desktop OpenGL context on a small off-screen surface, made through Mesa's
// surfaceless EGL platform: no X server is needed.
#include <EGL/egl.h>
#include <EGL/eglext.h>

class GlContext {
  public:
    // Makes the context current; false when the platform offers none.
    bool open(int width, int height) {
        auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
            eglGetProcAddress("eglGetPlatformDisplayEXT"));
        if (!getPlatformDisplay)
            return false;
        display_ = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display_ == EGL_NO_DISPLAY || !eglInitialize(display_, nullptr, nullptr))
            return false;
        const EGLint configAttributes[] = {EGL_SURFACE_TYPE,
                                           EGL_PBUFFER_BIT,
                                           EGL_RED_SIZE,
                                           8,
                                           EGL_GREEN_SIZE,
                                           8,
                                           EGL_BLUE_SIZE,
                                           8,
                                           EGL_DEPTH_SIZE,
                                           16,
                                           EGL_RENDERABLE_TYPE,
                                           EGL_OPENGL_BIT,
                                           EGL_NONE};
        EGLConfig config;
        EGLint configCount = 0;
        if (!eglChooseConfig(display_, configAttributes, &config, 1, &configCount) ||
            configCount < 1)
            return false;
        const EGLint surfaceAttributes[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
        surface_ = eglCreatePbufferSurface(display_, config, surfaceAttributes);
        if (surface_ == EGL_NO_SURFACE || !eglBindAPI(EGL_OPENGL_API))
            return false;
        context_ = eglCreateContext(display_, config, EGL_NO_CONTEXT, nullptr);
        if (context_ == EGL_NO_CONTEXT)
            return false;
        return eglMakeCurrent(display_, surface_, surface_, context_);
    }

    void close() {
        if (display_ == EGL_NO_DISPLAY)
            return;
        eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (context_ != EGL_NO_CONTEXT)
            eglDestroyContext(display_, context_);
        if (surface_ != EGL_NO_SURFACE)
            eglDestroySurface(display_, surface_);
        // The display stays initialised: terminating it unloads Mesa's
        // driver, whose process-long allocations LeakSanitizer would then
        // report as leaks of an unknown library.
        display_ = EGL_NO_DISPLAY;
        context_ = EGL_NO_CONTEXT;
        surface_ = EGL_NO_SURFACE;
    }

  private:
    EGLDisplay display_ = EGL_NO_DISPLAY;
    EGLSurface surface_ = EGL_NO_SURFACE;
    EGLContext context_ = EGL_NO_CONTEXT;
};
