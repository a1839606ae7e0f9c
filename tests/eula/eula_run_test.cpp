// The licence step of the built program, driven on the test display as a user would.
#include <gdk/gdk.h>
#include <gtest/gtest.h>

#include <string>

#include "support/support.h"

namespace {

const double kAppear = 30;
const double kEnd = 30;

// Each block leaves a marker, so a test can tell whether any of them ran.
const char* const kInstaller =
    "#title=Test Setup\n"
    "#script_start_blocking\n"
    "touch blocking-ran\n"
    "#script_end\n"
    "#script_start_nowait\n"
    "touch nowait-ran\n"
    "#script_end\n"
    "#script_start\n"
    "touch async-ran\n"
    "echo \"async finished \\$OSTREL_MODE \\${OSTREL_LANGUAGE-unset}\"\n"
    "#script_end\n";

const char* const kMarkers[] = {"blocking-ran", "nowait-ran", "async-ran"};

class LicenceRun : public testing::Test {
protected:
    void SetUp() override { dir.write("installer", kInstaller); }

    void expectNoBlockRan() {
        for (const char* marker : kMarkers)
            EXPECT_FALSE(fileExists(dir / marker)) << marker;
    }

    // Lets the control script run to its end, then presses "OK"; the exit status.
    static int finish(Program& program, WindowId progress) {
        EXPECT_TRUE(program.waitForOutput("async finished", kAppear)) << program.out();
        return finishWithOk(program, progress);
    }

    TempDir dir;
};

TEST_F(LicenceRun, WarnsAndOpensTheProgressWindowWhenEnglishIsMissing) {
    dir.write("eula/Deutsch", "Deutscher Lizenztext.\n");
    Program program(dir.path(), {}, {"OSTREL_LANGUAGE=Klingon"});
    WindowId progress = findWindow(program.pid(), "Test Setup", kAppear);
    ASSERT_NE(0u, progress) << program.out() << program.err();
    EXPECT_EQ(0, program.out().rfind("Warning:  EULA not found\n", 0)) << program.out();

    EXPECT_EQ(0, finish(program, progress));
    for (const char* marker : kMarkers)
        EXPECT_TRUE(fileExists(dir / marker)) << marker;
    EXPECT_EQ(std::string::npos, program.out().find("Display EULA")) << program.out();
    EXPECT_NE(std::string::npos, program.out().find("async finished window unset \n")) << program.out();
}

TEST_F(LicenceRun, WarnsAndOpensTheProgressWindowWhenEnglishIsEmpty) {
    dir.write("eula/English", "");
    Program program(dir.path(), {});
    WindowId progress = findWindow(program.pid(), "Test Setup", kAppear);
    ASSERT_NE(0u, progress) << program.out() << program.err();
    EXPECT_EQ(0, program.out().rfind("Warning:  EULA not found\n", 0)) << program.out();
    requestClose(progress);
    EXPECT_EQ(0, program.wait(kEnd));
}

TEST_F(LicenceRun, AcceptHidesTheDialogAndRunsTheInstaller) {
    dir.write("eula/English", "English licence text.\n");
    Program program(dir.path(), {});
    WindowId dialog = findWindow(program.pid(), "License Agreement", kAppear);
    ASSERT_NE(0u, dialog) << program.out() << program.err();
    ASSERT_TRUE(program.waitForOutput("Display EULA: English\n", kEnd));
    expectNoBlockRan();
    EXPECT_TRUE(acceptLicence(dialog));

    WindowId progress = findWindow(program.pid(), "Test Setup", kAppear);
    ASSERT_NE(0u, progress) << program.out();
    EXPECT_EQ(0, finish(program, progress));
    for (const char* marker : kMarkers)
        EXPECT_TRUE(fileExists(dir / marker)) << marker;
    EXPECT_EQ(0, program.out().rfind("Display EULA: English\n", 0)) << program.out();
    EXPECT_EQ(1u, occurrences(program.out(), "Display EULA: "));
    EXPECT_EQ(std::string::npos, program.out().find("Error")) << program.out();
    EXPECT_NE(std::string::npos, program.out().find("async finished window English \n")) << program.out();
}

TEST_F(LicenceRun, ClosingByTheWindowManagerRefusesTheLicence) {
    dir.write("eula/English", "English licence text.\n");
    Program program(dir.path(), {});
    WindowId dialog = findWindow(program.pid(), "License Agreement", kAppear);
    ASSERT_NE(0u, dialog) << program.out() << program.err();

    requestClose(dialog);
    EXPECT_EQ(1, program.wait(kEnd));
    EXPECT_EQ("Display EULA: English\nError:  EULA not accepted\n", program.out());
    expectNoBlockRan();
    // No icon file here, and its absence goes unreported.
    EXPECT_EQ("", program.err());
}

TEST_F(LicenceRun, ShowsALicenceThatIsNotUtf8WithoutToolkitWarnings) {
    dir.write("eula/English",
              "Licence fran\xe7"
              "aise \x80 \x81\n");
    Program program(dir.path(), {});
    WindowId dialog = findWindow(program.pid(), "License Agreement", kAppear);
    ASSERT_NE(0u, dialog) << program.out() << program.err();
    ASSERT_TRUE(program.waitForOutput("Display EULA: English\n", kEnd));

    requestClose(dialog);
    EXPECT_EQ(1, program.wait(kEnd));
    EXPECT_EQ("", program.err());
}

TEST_F(LicenceRun, EscapeRefusesTheLicence) {
    dir.write("eula/English", "English licence text.\n");
    Program program(dir.path(), {});
    WindowId dialog = findWindow(program.pid(), "License Agreement", kAppear);
    ASSERT_NE(0u, dialog) << program.out() << program.err();

    pressKey(dialog, "Escape");
    EXPECT_EQ(1, program.wait(kEnd));
    EXPECT_EQ("Display EULA: English\nError:  EULA not accepted\n", program.out());
    expectNoBlockRan();
}

TEST_F(LicenceRun, OpensCentredAtItsSizeAndKeptAbove) {
    dir.write("eula/English", "English licence text.\n");
    Program program(dir.path(), {});
    WindowId dialog = findWindow(program.pid(), "License Agreement", kAppear);
    ASSERT_NE(0u, dialog) << program.out() << program.err();

    Geometry geometry = windowGeometry(dialog);
    EXPECT_EQ(600, geometry.width);
    EXPECT_EQ(600, geometry.height);
    GdkScreen* screen = gdk_screen_get_default();
    EXPECT_NEAR((gdk_screen_get_width(screen) - 600) / 2.0, geometry.x, 1);
    EXPECT_NEAR((gdk_screen_get_height(screen) - 600) / 2.0, geometry.y, 1);
    EXPECT_NE(std::string::npos, windowProperty(dialog, "_NET_WM_STATE").find("_NET_WM_STATE_ABOVE"));
    requestClose(dialog);
    EXPECT_EQ(1, program.wait(kEnd));
}

// The blocks learn the language of the licence accepted.
TEST_F(LicenceRun, ChoosingDeutschWithTheKeyboardShowsItAndTellsTheBlocks) {
    dir.write("eula/English", "English licence text.\n");
    dir.write("eula/Deutsch", "Deutscher Lizenztext.\n");
    Program program(dir.path(), {}, {"OSTREL_LANGUAGE=Klingon"});
    WindowId dialog = findWindow(program.pid(), "License Agreement", kAppear);
    ASSERT_NE(0u, dialog) << program.out() << program.err();
    ASSERT_TRUE(program.waitForOutput("Display EULA: English\n", kEnd));

    // The chooser holds the focus first; Deutsch is the entry above English.
    pressKey(dialog, "Up");
    EXPECT_TRUE(program.waitForOutput("Display EULA: Deutsch\n", kEnd)) << program.out();
    EXPECT_TRUE(acceptLicence(dialog));
    WindowId progress = findWindow(program.pid(), "Test Setup", kAppear);
    ASSERT_NE(0u, progress) << program.out();
    EXPECT_EQ(0, finish(program, progress));
    EXPECT_EQ("Display EULA: English\nDisplay EULA: Deutsch\nasync finished window Deutsch \n",
              program.out());
}

}  // namespace
