// The main of every test program: a display to open windows on, then the tests.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <string.h>

#include "support/support.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Listing the tests at build time needs no display.
    if (!testing::GTEST_FLAG(list_tests)) {
        ensureDisplay();
        gtk_init(&argc, &argv);
    }
    return RUN_ALL_TESTS();
}
