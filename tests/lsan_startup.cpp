// Linked into every program of the AddressSanitizer builds. Shared libraries
// run their constructors after the executable's .preinit_array and before its
// own constructors, so the leak checker ignores exactly what those library
// constructors allocate: GLib's first quark block (dropped on purpose when
// the quark table grows past 2048 entries) and similar process-wide tables.
// Our code runs only after Release(), so all of it stays checked. The stacks
// of these blocks end inside GLib (no frame pointers in the system's
// libraries), so no suppression line could name them without hiding every
// g_malloc leak of ours as well.
#include <sanitizer/lsan_interface.h>

namespace {

void Hold() {
    __lsan_disable();
}

__attribute__((constructor)) void Release() {
    __lsan_enable();
}

__attribute__((section(".preinit_array"), used)) void (*const hold)() = Hold;

} // namespace
