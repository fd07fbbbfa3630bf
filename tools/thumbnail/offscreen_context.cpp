// EGL's surfaceless platform with a pbuffer: the frame code's plain GL calls draw into it as
// into a window, and glReadPixels reads it back.
#include "offscreen_context.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdio>
#include <cstdlib>

namespace {

struct OffscreenContext {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLSurface surface = EGL_NO_SURFACE;
    EGLContext context = EGL_NO_CONTEXT;
};

OffscreenContext offscreen;

std::string egl_failure(const char* step)
{
    char text[96];
    std::snprintf(text, sizeof text, "%s failed (EGL error 0x%04x)", step, static_cast<unsigned>(eglGetError()));
    return text;
}

bool choose_config(EGLConfig& config)
{
    const EGLint wanted[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                             EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_ALPHA_SIZE, 8,
                             EGL_DEPTH_SIZE, 24, EGL_NONE};
    EGLint found = 0;
    return eglChooseConfig(offscreen.display, wanted, &config, 1, &found) && found == 1;
}

} // namespace

bool open_offscreen_context(int size, std::string& reason)
{
    // The same pixels on every machine, a GPU or none; and no shader cache written under $HOME.
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
    setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
    offscreen.display = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    EGLint major = 0, minor = 0;
    if (offscreen.display == EGL_NO_DISPLAY || !eglInitialize(offscreen.display, &major, &minor)) {
        reason = egl_failure("starting EGL without a display");
        return false;
    }
    EGLConfig config{};
    if (!eglBindAPI(EGL_OPENGL_API) || !choose_config(config)) {
        reason = egl_failure("finding an RGBA buffer with depth");
        close_offscreen_context();
        return false;
    }
    const EGLint extent[] = {EGL_WIDTH, size, EGL_HEIGHT, size, EGL_NONE};
    offscreen.surface = eglCreatePbufferSurface(offscreen.display, config, extent);
    offscreen.context = eglCreateContext(offscreen.display, config, EGL_NO_CONTEXT, nullptr);
    if (offscreen.surface == EGL_NO_SURFACE || offscreen.context == EGL_NO_CONTEXT ||
        !eglMakeCurrent(offscreen.display, offscreen.surface, offscreen.surface, offscreen.context)) {
        reason = egl_failure("making a drawing buffer");
        close_offscreen_context();
        return false;
    }
    return true;
}

void close_offscreen_context()
{
    if (offscreen.display == EGL_NO_DISPLAY)
        return;
    eglMakeCurrent(offscreen.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (offscreen.context != EGL_NO_CONTEXT)
        eglDestroyContext(offscreen.display, offscreen.context);
    if (offscreen.surface != EGL_NO_SURFACE)
        eglDestroySurface(offscreen.display, offscreen.surface);
    eglTerminate(offscreen.display);
    offscreen = OffscreenContext{};
}
