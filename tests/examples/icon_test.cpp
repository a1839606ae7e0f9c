// The examples' window icon: drawn by tools/make-icon, and loaded by the program as its icon.
#include <gtest/gtest.h>

#include "support/support.h"

namespace {

const std::string kSource = OSTREL_SOURCE_DIR;

TEST(ExampleIcon, IsExactlyWhatTheDrawingScriptMakes) {
    TempDir scratch;
    std::string drawn = scratch / "icon.png";
    ASSERT_EQ(0, runCommand({"bash", kSource + "/tools/make-icon", drawn}));
    for (const char* example : {"hello", "minimal"})
        EXPECT_EQ(readFile(drawn), readFile(kSource + "/examples/" + example + "/korvalen-48x48.png"))
            << example;
}

TEST(ExampleIcon, BecomesTheIconOfTheInstallersWindows) {
    TempDir home;
    Program program(kSource + "/examples/hello", {},
                    {"HOME=" + home.path(), "HELLO_PREFIX=" + (home / "prefix")});
    WindowId dialog = findWindow(program.pid(), "License Agreement", 30);
    ASSERT_NE(0u, dialog);
    EXPECT_NE(std::string::npos, windowProperty(dialog, "_NET_WM_ICON").find("Icon (48 x 48)"));
    requestClose(dialog);
    EXPECT_EQ(1, program.wait(30));
}

}  // namespace
