#include <cstdlib>
#include <gtest/gtest.h>
#include <gtkmm.h>
#include <gtkmm/init.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!::testing::GTEST_FLAG(list_tests)) {
        // The engine's sandbox cannot run as root in the test machines; the
        // product never sets this.
        setenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS", "1", 0);
        Gtk::init_gtkmm_internals();
        gtk_init();
    }
    return RUN_ALL_TESTS();
}
