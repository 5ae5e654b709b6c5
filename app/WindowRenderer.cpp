// Where OpenGL is only a software rasterizer (no graphics hardware, a virtual
// machine, a remote display), the toolkit's GL renderer draws every frame of
// the whole window on the processor, and compiling its shaders takes about a
// second of it at start-up. Its cairo renderer draws only what changed: on
// such a machine a page of 141 files loads in three quarters of the time and
// the program starts in half. With graphics hardware the GL renderer stays,
// and a renderer the user named in GSK_RENDERER is always kept.
#include "app/WindowRenderer.h"

#include <cstring>
#include <epoxy/gl.h>
#include <gtk/gtk.h>
#include <string>

namespace orvalis::app {

namespace {

// The renderer string of the display's OpenGL, empty when it has none.
std::string OpenGLRenderer(GdkDisplay* display) {
    GError* error = nullptr;
    if (!gdk_display_prepare_gl(display, &error)) {
        g_clear_error(&error);
        return {};
    }
    GdkGLContext* context = gdk_display_create_gl_context(display, &error);
    std::string name;
    if (context && gdk_gl_context_realize(context, &error)) {
        gdk_gl_context_make_current(context);
        if (const auto* text = reinterpret_cast<const char*>(glGetString(GL_RENDERER)))
            name = text;
        gdk_gl_context_clear_current();
    }
    g_clear_error(&error);
    g_clear_object(&context);
    return name;
}

// True for the OpenGL renderer names of the software rasterizers.
bool IsSoftwareRasterizer(const std::string& glRenderer) {
    g_autofree char* lower = g_ascii_strdown(glRenderer.c_str(), -1);
    return strstr(lower, "llvmpipe") || strstr(lower, "softpipe") ||
           strstr(lower, "software rasterizer");
}

} // namespace

void ChooseWindowRenderer() {
    GdkDisplay* display = gdk_display_get_default();
    if (g_getenv("GSK_RENDERER") || !display)
        return;
    // Without OpenGL the toolkit falls back to cairo by itself.
    if (IsSoftwareRasterizer(OpenGLRenderer(display)))
        g_setenv("GSK_RENDERER", "cairo", TRUE);
}

} // namespace orvalis::app
