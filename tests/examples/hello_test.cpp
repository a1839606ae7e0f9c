// The hello example installer, run end to end with its windows and silently.
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/support.h"

namespace {

const std::string kExample = OSTREL_SOURCE_DIR "/examples/hello";

int modeOf(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return -1;
    return static_cast<int>(info.st_mode & 07777);
}

// What the installed command prints when run with these arguments.
std::string runHello(const std::string& prefix, const std::string& arguments) {
    TempDir scratch;
    runCommand({"sh", "-c", prefix + "/bin/hello " + arguments + " > " + (scratch / "out")});
    return readFile(scratch / "out");
}

// Checks the three files that the installer puts below `prefix`.
void expectInstalled(const std::string& prefix) {
    std::string command = prefix + "/bin/hello";
    EXPECT_EQ(0755, modeOf(command));
    EXPECT_EQ("Hello, world!\n", runHello(prefix, ""));
    EXPECT_EQ("Hello, Ada!\n", runHello(prefix, "Ada"));

    std::string entry = prefix + "/share/applications/hello.desktop";
    EXPECT_EQ(0644, modeOf(entry));
    EXPECT_EQ("[Desktop Entry]\nType=Application\nName=Hello\nComment=Says hello\nExec=" + command +
                  "\nIcon=hello\nTerminal=true\nCategories=Utility;\n",
              readFile(entry));

    std::string icon = prefix + "/share/icons/hicolor/48x48/apps/hello.png";
    EXPECT_EQ(0644, modeOf(icon));
    EXPECT_EQ(readFile(kExample + "/korvalen-48x48.png"), readFile(icon));
}

std::string progressLines(const std::string& prefix, const std::string& end) {
    return "Installing into " + prefix + end + "Installed " + prefix + "/bin/hello" + end +
           "Added the menu entry" + end;
}

TEST(HelloExample, InstallsItsCommandMenuEntryAndIconThroughTheWindows) {
    TempDir home, prefix;
    Result result = runWithWindows(kExample, {"HOME=" + home.path(), "HELLO_PREFIX=" + prefix.path()},
                                   "Added the menu entry \n");
    EXPECT_EQ(0, result.status);
    EXPECT_EQ("Display EULA: English\n" + progressLines(prefix.path(), " \n"), result.out);
    expectInstalled(prefix.path());
}

TEST(HelloExample, InstallsTheSameFilesSilently) {
    TempDir home, prefix;
    Result result = runProgram(kExample, {"-s"}, {"HOME=" + home.path(), "HELLO_PREFIX=" + prefix.path()});
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(progressLines(prefix.path(), "\n"), result.out);
    EXPECT_EQ("", result.err);
    expectInstalled(prefix.path());
}

TEST(HelloExample, InstallsBelowDotLocalInTheHomeFolderByDefault) {
    TempDir home;
    Result result = runProgram(kExample, {"-s"}, {"HOME=" + home.path(), "HELLO_PREFIX"});
    EXPECT_EQ(0, result.status);
    expectInstalled(home / ".local");
}

TEST(HelloExample, InstallsNothingWhenTheLicenceIsRefused) {
    TempDir home, prefix;
    Program program(kExample, {}, {"HOME=" + home.path(), "HELLO_PREFIX=" + prefix.path()});
    WindowId dialog = findWindow(program.pid(), "License Agreement", 30);
    ASSERT_NE(0u, dialog);
    requestClose(dialog);
    EXPECT_EQ(1, program.wait(30));
    EXPECT_EQ("Display EULA: English\nError:  EULA not accepted\n", program.out());
    EXPECT_FALSE(fileExists(prefix / "bin"));
}

TEST(HelloExample, ShowsItsLicenceInEnglishFirstAndOffersGerman) {
    TempDir home, prefix;
    Program program(kExample, {}, {"HOME=" + home.path(), "HELLO_PREFIX=" + prefix.path()});
    WindowId dialog = findWindow(program.pid(), "License Agreement", 30);
    ASSERT_NE(0u, dialog);
    EXPECT_TRUE(program.waitForOutput("Display EULA: English\n", 10));
    // The chooser lists Deutsch before English: one step up.
    pressKey(dialog, "Up");
    EXPECT_TRUE(program.waitForOutput("Display EULA: Deutsch\n", 10)) << program.out();
    std::string german = readFile(kExample + "/eula/Deutsch");
    EXPECT_TRUE(g_utf8_validate(german.data(), static_cast<gssize>(german.size()), nullptr));
    requestClose(dialog);
    EXPECT_EQ(1, program.wait(30));
}

}  // namespace
