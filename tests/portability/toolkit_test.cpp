// How the program finds the toolkit and calls it, on this system: as a linked program would,
// so that a library preloaded by the user comes before the toolkit's own function (this also
// runs with GTK 3), and with a warning for a toolkit name it does not know.
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

TEST(ToolkitChoice, IgnoresANameItDoesNotKnowWithAWarning) {
    TempDir dir;
    dir.write("installer", "#title=Chosen\n");
    Program program(dir.path(), {}, {"OSTREL_TOOLKIT=qt"});
    WindowId window = findWindow(program.pid(), "Chosen", 30);
    ASSERT_NE(0u, window) << program.out();
    EXPECT_EQ(0, finishWithOk(program, window));
    EXPECT_EQ("Warning:  OSTREL_TOOLKIT=qt is neither gtk2 nor gtk3: ignored\nWarning:  EULA not found\n",
              program.out());
}
