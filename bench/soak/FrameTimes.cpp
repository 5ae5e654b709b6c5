// Times a GTK program's display refreshes from outside it, for the soak:
// preloaded (LD_PRELOAD) into the window's process, it writes one line per
// frame of any of its windows, one per update of a text view's text and one
// per page load step of its web views to the file named by SOAK_FRAME_TIMES:
//   F <end, monotonic ms> <work us>   a frame: from before-paint to after-paint
//                                     (layout and drawing), as bench_log_panel
//   U <end, monotonic ms> <work us> <bytes>
//                                     new text put into a text buffer up to the
//                                     view's scroll to its end (the log panel),
//                                     and the bytes the buffer then holds
//   L <monotonic ms> <event> <view>   a web view's load-changed (0 started,
//                                     3 finished), the view as a number
// The program itself is not changed and reads nothing of this.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtk/gtk.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

namespace {

int out = -1;
gint64 paintStarted = 0;
gint64 updateStarted = 0;
// The bytes put into the buffer since its text was last replaced: the program
// only appends to its log or replaces it whole.
gint64 bufferBytes = 0;
bool loadsHooked = false;

gint64 Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<gint64>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

void Write(char kind, gint64 started, const char* tail = "") {
    const gint64 now = Now();
    dprintf(out, "%c %.3f %lld%s\n", kind, static_cast<double>(now) / 1000.0,
            static_cast<long long>(now - started), tail);
}

gboolean LoadChanged(GSignalInvocationHint*, guint count, const GValue* values, gpointer) {
    if (count >= 2) {
        dprintf(out, "L %.3f %d %p\n", static_cast<double>(Now()) / 1000.0,
                g_value_get_enum(&values[1]), g_value_get_object(&values[0]));
    }
    return TRUE;
}

// The engine's view type is registered when the program makes its first
// view, after this library started: its loads are hooked at the first frame
// that finds it.
void HookLoads() {
    const GType view = g_type_from_name("WebKitWebView");
    if (view == 0) {
        return;
    }
    g_type_class_ref(view);
    g_signal_add_emission_hook(g_signal_lookup("load-changed", view), 0, LoadChanged, nullptr,
                               nullptr);
    loadsHooked = true;
}

gboolean BeforePaint(GSignalInvocationHint*, guint, const GValue*, gpointer) {
    paintStarted = Now();
    if (!loadsHooked) {
        HookLoads();
    }
    return TRUE;
}

gboolean AfterPaint(GSignalInvocationHint*, guint, const GValue*, gpointer) {
    if (paintStarted) {
        Write('F', paintStarted);
        paintStarted = 0;
    }
    return TRUE;
}

template <typename F> F Next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

__attribute__((constructor)) void Start() {
    // The engine's processes, started from this one, are not timed.
    unsetenv("LD_PRELOAD");
    const char* path = getenv("SOAK_FRAME_TIMES");
    if (!path) {
        return;
    }
    out = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (out < 0) {
        return;
    }
    g_type_class_ref(GDK_TYPE_FRAME_CLOCK);
    g_signal_add_emission_hook(g_signal_lookup("before-paint", GDK_TYPE_FRAME_CLOCK), 0,
                               BeforePaint, nullptr, nullptr);
    g_signal_add_emission_hook(g_signal_lookup("after-paint", GDK_TYPE_FRAME_CLOCK), 0, AfterPaint,
                               nullptr, nullptr);
}

} // namespace

// The program's calls into the toolkit, timed and passed on.
extern "C" {

void gtk_text_buffer_insert(GtkTextBuffer* buffer, GtkTextIter* iter, const char* text, int len) {
    static auto next =
        Next<void (*)(GtkTextBuffer*, GtkTextIter*, const char*, int)>("gtk_text_buffer_insert");
    updateStarted = Now();
    bufferBytes += len < 0 ? static_cast<gint64>(strlen(text)) : len;
    next(buffer, iter, text, len);
}

void gtk_text_buffer_set_text(GtkTextBuffer* buffer, const char* text, int len) {
    static auto next = Next<void (*)(GtkTextBuffer*, const char*, int)>("gtk_text_buffer_set_text");
    updateStarted = Now();
    bufferBytes = len < 0 ? static_cast<gint64>(strlen(text)) : len;
    next(buffer, text, len);
}

void gtk_text_view_scroll_to_mark(GtkTextView* view, GtkTextMark* mark, double margin,
                                  gboolean useAlign, double xalign, double yalign) {
    static auto next = Next<void (*)(GtkTextView*, GtkTextMark*, double, gboolean, double, double)>(
        "gtk_text_view_scroll_to_mark");
    next(view, mark, margin, useAlign, xalign, yalign);
    if (updateStarted && out >= 0) {
        char bytes[32];
        snprintf(bytes, sizeof bytes, " %lld", static_cast<long long>(bufferBytes));
        Write('U', updateStarted, bytes);
    }
    updateStarted = 0;
}
}
