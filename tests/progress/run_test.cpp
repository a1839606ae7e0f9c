// The built program run interactively on control scripts, watched through its window on the
// test display: what it shows, what it echoes, how it ends.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <locale.h>
#include <stdlib.h>

#include <functional>
#include <set>
#include <string>

#include "support/support.h"

namespace {

const char kWarning[] = "Warning:  EULA not found\n";

// Waits and bounds grow under an emulator, and with $OSTREL_TIME_SCALE (e.g. under valgrind).
double patience(double seconds) {
    const char* scale = getenv("OSTREL_TIME_SCALE");
    double factor = scale ? g_ascii_strtod(scale, nullptr) : 1.0;
    return seconds * OSTREL_SLOWNESS * (factor > 1.0 ? factor : 1.0);
}

bool eventually(const std::function<bool()>& condition, double seconds) {
    double end = now() + seconds;
    while (!condition()) {
        if (now() > end)
            return false;
        pause(0.05);
    }
    return true;
}

// A scratch directory with the control script as "./installer" and no licence directory, so
// the progress window opens straight after the warning.
struct Installer {
    explicit Installer(const std::string& script) { dir.write("installer", script); }
    TempDir dir;
};

// A row of the bar above its text, in window coordinates of the 300-pixel-wide window.
const int kBarY = 13;
const int kBarLeft = 11;
const int kBarRight = 288;

// How much of the bar's width is drawn in the dark fill colour.
double barFill(WindowId window) {
    int filled = 0;
    for (int x = kBarLeft; x <= kBarRight; ++x) {
        unsigned int rgb = std::stoul(pixelColour(window, x, kBarY).substr(1), nullptr, 16);
        double luminance =
            (0.3 * ((rgb >> 16) & 0xff) + 0.59 * ((rgb >> 8) & 0xff) + 0.11 * (rgb & 0xff)) / 255.0;
        if (luminance < 0.65)
            ++filled;
    }
    return static_cast<double>(filled) / (kBarRight - kBarLeft + 1);
}

bool barNear(WindowId window, double fraction) {
    double fill = barFill(window);
    return fill > fraction - 0.05 && fill < fraction + 0.05;
}

std::string barRow(WindowId window) {
    std::string row;
    for (int x = kBarLeft; x <= kBarRight; x += 2)
        row += pixelColour(window, x, kBarY);
    return row;
}

// The "OK" button's right border stands where, without it, the window is plain background.
bool okShown(WindowId window) {
    return pixelColour(window, 289, 80) != pixelColour(window, 296, 80);
}

// The programs under test open centred on a display that other tests share: move this one to
// a place of its own before reading its pixels or clicking it.
void moveAside(WindowId window, pid_t pid) {
    int slot = static_cast<int>(pid % 16);
    int x = 10 + 315 * (slot % 4);
    int y = (slot < 8 ? 10 : 790) + 115 * ((slot / 4) % 2);
    std::string id = std::to_string(window);
    runCommand({"xdotool", "windowmove", "--sync", id, std::to_string(x), std::to_string(y)});
    runCommand({"xdotool", "windowraise", id});
}

// The window of a freshly started program, moved aside; fails the test when none appears.
WindowId progressWindow(Program& program, const std::string& title = "") {
    EXPECT_TRUE(program.waitForOutput(kWarning, patience(20)));
    WindowId window = findWindow(program.pid(), title, patience(20));
    EXPECT_NE(0u, window) << "no window titled \"" << title << "\"";
    if (window)
        moveAside(window, program.pid());
    return window;
}

void clickOk(WindowId window) {
    clickAt(window, 150, 82);
}

int countOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

}  // namespace

TEST(InteractiveRun, OpensACentredWindowAboveOthersTitledInstallingAt300By100) {
    Installer installer("#script_start\nwhile [ ! -e go ]; do sleep 0.02; done\n#script_end\n#title=Later\n");
    Program program(installer.dir.path(), {});
    ASSERT_TRUE(program.waitForOutput(kWarning, patience(20)));
    WindowId window = findWindow(program.pid(), "Installing...", patience(20));
    ASSERT_NE(0u, window);
    Geometry geometry = windowGeometry(window);
    EXPECT_EQ(300, geometry.width);
    EXPECT_EQ(100, geometry.height);
    GdkScreen* screen = gdk_screen_get_default();
    EXPECT_NEAR((gdk_screen_get_width(screen) - 300) / 2.0, geometry.x, 1);
    EXPECT_NEAR((gdk_screen_get_height(screen) - 100) / 2.0, geometry.y, 1);
    EXPECT_NE(std::string::npos, windowProperty(window, "_NET_WM_STATE").find("_NET_WM_STATE_ABOVE"));
    installer.dir.write("go", "");
    requestClose(window);
    EXPECT_EQ(0, program.wait(patience(20)));
    EXPECT_EQ(kWarning, program.out());
}

TEST(InteractiveRun, ShowsTheExampleScriptAndEchoesItsOutputLine) {
    Installer installer(
        "#title=Example Setup\n"
        "#text=Copying files\n"
        "#progress=0.25\n"
        "#script_start\n"
        "cp -r data example-copy\n"
        "sleep 1.5\n"
        "echo copied\n"
        "#script_end\n"
        "#progress=1\n");
    installer.dir.write("data/file", "payload");
    Program program(installer.dir.path(), {});
    WindowId window = progressWindow(program, "Example Setup");
    ASSERT_NE(0u, window);
    // While the block runs the bar is a quarter full.
    ASSERT_TRUE(eventually([&] { return fileExists(installer.dir / "example-copy/file"); }, patience(10)));
    EXPECT_TRUE(eventually([&] { return barNear(window, 0.25); }, patience(1))) << barFill(window);
    EXPECT_FALSE(okShown(window));

    ASSERT_TRUE(program.waitForOutput("copied \n", patience(10)));
    EXPECT_TRUE(eventually([&] { return okShown(window) && barNear(window, 1.0); }, patience(5)))
        << barFill(window);
    EXPECT_EQ("Example Setup", windowTitle(window));
    clickOk(window);
    EXPECT_EQ(0, program.wait(patience(10)));
    EXPECT_EQ(std::string(kWarning) + "copied \n", program.out());
    EXPECT_EQ("payload", readFile(installer.dir / "example-copy/file"));
}

TEST(InteractiveRun, EchoesEveryOutputLineEndingInASpaceWithCarriageReturnsBlanked) {
    Installer installer(
        "#script_start\n"
        "echo one\n"
        "echo 'two  '\n"
        "printf 'car\\rriage\\r\\n'\n"
        "echo\n"
        "printf 'no line feed'\n"
        "#script_end\n");
    Program program(installer.dir.path(), {});
    WindowId window = progressWindow(program);
    ASSERT_NE(0u, window);
    std::string expected = std::string(kWarning) + "one \ntwo   \ncar riage  \n \nno line feed\n";
    ASSERT_TRUE(program.waitForOutput("no line feed\n", patience(10))) << program.out();
    pause(0.3);
    requestClose(window);
    EXPECT_EQ(0, program.wait(patience(10)));
    EXPECT_EQ(expected, program.out());
    EXPECT_EQ("", program.err());
}

TEST(InteractiveRun, ExpandsVariablesInTheOuterShellBeforeTheBlockRuns) {
    Installer installer("#script_start\nX=1\necho \"[$X]\"\n#script_end\n");
    Program program(installer.dir.path(), {}, {"X"});
    WindowId window = progressWindow(program);
    ASSERT_NE(0u, window);
    ASSERT_TRUE(program.waitForOutput("] \n", patience(10)));
    requestClose(window);
    EXPECT_EQ(0, program.wait(patience(10)));
    EXPECT_EQ(std::string(kWarning) + "[] \n", program.out());
}

TEST(InteractiveRun, ClosedMidRunEndsWithStatus0AndRunsNoLaterBlock) {
    Installer installer(
        "#title=Closing\n"
        "#script_start\n"
        "echo ready\n"
        "sleep 3\n"
        "#script_end\n"
        "#script_start_blocking\n"
        "touch later\n"
        "#script_end\n"
        "#title=Never\n");
    Program program(installer.dir.path(), {});
    WindowId window = progressWindow(program, "Closing");
    ASSERT_NE(0u, window);
    ASSERT_TRUE(program.waitForOutput("ready \n", patience(10)));
    requestClose(window);
    EXPECT_EQ(0, program.wait(patience(15)));
    pause(0.5);
    EXPECT_FALSE(fileExists(installer.dir / "later"));
    EXPECT_EQ(std::string(kWarning) + "ready \n", program.out());
}

TEST(InteractiveRun, ClosingTheWindowEndsARunningBlockAtItsNextWrite) {
    // Left alone the loop would print for half a minute and then make the file.
    Installer installer(
        "#title=Looping\n"
        "#script_start\n"
        "for n in \\$(seq 1 300); do echo line \\$n; sleep 0.1; done\n"
        "touch finished\n"
        "#script_end\n");
    Program program(installer.dir.path(), {});
    WindowId window = progressWindow(program, "Looping");
    ASSERT_NE(0u, window);
    ASSERT_TRUE(program.waitForOutput("line 1 \n", patience(10)));
    requestClose(window);
    EXPECT_EQ(0, program.wait(patience(10)));
    EXPECT_FALSE(fileExists(installer.dir / "finished"));
    EXPECT_EQ("", program.err());
}

TEST(InteractiveRun, OkButtonEndsTheFinishedRunWithStatus0) {
    Installer installer("#title=Short\n#progress=0.3\n");
    Program program(installer.dir.path(), {});
    WindowId window = progressWindow(program, "Short");
    ASSERT_NE(0u, window);
    ASSERT_TRUE(eventually([&] { return okShown(window) && barNear(window, 1.0); }, patience(10)))
        << barFill(window);
    EXPECT_TRUE(program.running());
    clickOk(window);
    EXPECT_EQ(0, program.wait(patience(10)));
    EXPECT_EQ(kWarning, program.out());
    EXPECT_EQ("", program.err());
}

TEST(InteractiveRun, ShowsOkWhileALastAsynchronousBlockStillPrints) {
    // The loop ends at the first echo that finds nobody reading any more.
    std::string loop = "for n in";
    for (int i = 0; i < 40; ++i)
        loop += " " + std::to_string(i);
    Installer installer("#progress=0.5\n#script_start\n" + loop +
                        "; do echo tick || break; sleep 0.25; done\n#script_end\n");
    Program program(installer.dir.path(), {});
    WindowId window = progressWindow(program);
    ASSERT_NE(0u, window);
    ASSERT_TRUE(program.waitForOutput("tick \n", patience(10)));
    ASSERT_TRUE(eventually([&] { return okShown(window); }, patience(5)));
    // The bar shows the stored fraction again after the block's lines, not the full bar.
    EXPECT_TRUE(eventually([&] { return barNear(window, 0.5); }, patience(3))) << barFill(window);
    int ticks = countOf(program.out(), "tick \n");
    EXPECT_TRUE(eventually([&] { return countOf(program.out(), "tick \n") > ticks; }, patience(3)))
        << "the block should still be printing";
    clickOk(window);
    EXPECT_EQ(0, program.wait(patience(15)));
    // The click ended the echo before the block's end.
    EXPECT_LT(countOf(program.out(), "tick \n"), 40);
}

TEST(InteractiveRun, PulsesTheBarWhileABlockIsQuietAndShowsTheFractionAgainAtItsNextLine) {
    Installer installer(
        "#progress=0.5\n#script_start\nwhile [ ! -e go ]; do sleep 0.02; done\necho quiet\nsleep 7\necho "
        "again\n"
        "sleep 1\n#script_end\n#title=After\n");
    Program program(installer.dir.path(), {});
    WindowId window = progressWindow(program);
    ASSERT_NE(0u, window);
    installer.dir.write("go", "");
    ASSERT_TRUE(program.waitForOutput("quiet \n", patience(10)));
    double lineAt = now();
    ASSERT_TRUE(eventually([&] { return barNear(window, 0.5); }, patience(1))) << barFill(window);
    std::string still = barRow(window);
    // Less than two quiet seconds: the bar keeps its fraction.
    while (now() - lineAt < 1.5) {
        EXPECT_EQ(still, barRow(window));
        pause(0.2);
    }
    // More than three: it moves, though nothing is printed.
    while (now() - lineAt < 3.2)
        pause(0.1);
    std::set<std::string> rows;
    for (int i = 0; i < 6; ++i) {
        rows.insert(barRow(window));
        pause(0.2);
    }
    rows.erase(still);
    EXPECT_GE(rows.size(), 2u) << "the bar should pulse";
    EXPECT_EQ(std::string(kWarning) + "quiet \n", program.out());

    ASSERT_TRUE(program.waitForOutput("again \n", patience(10)));
    EXPECT_TRUE(eventually([&] { return barRow(window) == still; }, patience(1)));
    requestClose(window);
    EXPECT_EQ(0, program.wait(patience(10)));
}

TEST(InteractiveRun, ReadsAPointAsDecimalSeparatorUnderADecimalCommaLocale) {
    std::string old = setlocale(LC_NUMERIC, nullptr);
    ASSERT_NE(nullptr, setlocale(LC_NUMERIC, "de_DE.UTF-8")) << "the de_DE.UTF-8 locale is missing";
    setlocale(LC_NUMERIC, old.c_str());

    Installer installer("#progress=0.5\n#script_start\necho shown\n#script_end\n");
    Program program(installer.dir.path(), {}, {"LC_ALL=de_DE.UTF-8"});
    WindowId window = progressWindow(program);
    ASSERT_NE(0u, window);
    ASSERT_TRUE(program.waitForOutput("shown \n", patience(10)));
    EXPECT_TRUE(eventually([&] { return okShown(window) && barNear(window, 0.5); }, patience(5)))
        << barFill(window);
    clickOk(window);
    EXPECT_EQ(0, program.wait(patience(10)));
    EXPECT_EQ("", program.err());
}

TEST(InteractiveRun, ShowsOutOfRangeProgressAsAFullOrEmptyBarWithoutWarnings) {
    struct Case {
        const char* value;
        double fill;
    };
    for (const Case& c : {Case{"7", 1.0}, Case{"-3", 0.0}, Case{"nan", 0.0}}) {
        SCOPED_TRACE(c.value);
        Installer installer(std::string("#progress=") + c.value +
                            "\n#script_start\necho shown\n#script_end\n");
        Program program(installer.dir.path(), {});
        WindowId window = progressWindow(program);
        ASSERT_NE(0u, window);
        ASSERT_TRUE(program.waitForOutput("shown \n", patience(10)));
        EXPECT_TRUE(eventually([&] { return okShown(window) && barNear(window, c.fill); }, patience(5)))
            << barFill(window);
        clickOk(window);
        EXPECT_EQ(0, program.wait(patience(10)));
        EXPECT_EQ("", program.err());
    }
}

TEST(InteractiveRun, FinishesWhenTheLastLineHasNoLineFeed) {
    Installer installer("#title=Tail\n#progress=0.2\n#title=Never");
    Program program(installer.dir.path(), {});
    WindowId window = progressWindow(program, "Tail");
    ASSERT_NE(0u, window);
    ASSERT_TRUE(eventually([&] { return okShown(window) && barNear(window, 1.0); }, patience(10)))
        << barFill(window);
    EXPECT_EQ("Tail", windowTitle(window));
    clickOk(window);
    EXPECT_EQ(0, program.wait(patience(10)));
    EXPECT_EQ(kWarning, program.out());
}

TEST(InteractiveRun, AppliesTenDirectiveLinesInAboutHalfASecond) {
    std::string script =
        "#title=Waiting\n#script_start\nwhile [ ! -e go ]; do sleep 0.02; done\n#script_end\n";
    for (int i = 1; i <= 10; ++i)
        script += "#title=T" + std::to_string(i) + "\n";
    Installer installer(script);
    Program program(installer.dir.path(), {});
    WindowId window = progressWindow(program, "Waiting");
    ASSERT_NE(0u, window);
    pause(0.2);
    double started = now();
    installer.dir.write("go", "");
    ASSERT_TRUE(eventually([&] { return windowTitle(window) == "T10"; }, patience(10)));
    double took = now() - started;
    EXPECT_GE(took, 0.3);
    EXPECT_LE(took, patience(3.0));
    requestClose(window);
    EXPECT_EQ(0, program.wait(patience(10)));
}
