// The program calls the toolkit as a linked program would: a library preloaded by the user
// comes before the toolkit's own function (with either toolkit: this also runs with GTK 3).
#include <gtest/gtest.h>

#include "support/support.h"

TEST(PreloadedLibrary, StandsInFrontOfTheToolkitsFunction) {
    TempDir dir;
    dir.write("installer", "#title=Preloaded\n");
    Program program(dir.path(), {}, {"LD_PRELOAD=" OSTREL_PRELOADED});
    WindowId window = findWindow(program.pid(), "Preloaded", 30);
    ASSERT_NE(0u, window) << program.err();
    EXPECT_EQ(0, finishWithOk(program, window));
    EXPECT_NE(std::string::npos, program.err().find("preloaded gtk_window_set_title: Preloaded\n"))
        << program.err();
}
