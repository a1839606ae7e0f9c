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

// The command of the menu entry, read as a desktop reads its Exec key; "" when unreadable.
std::string menuCommand(const std::string& entry) {
    GKeyFile* file = g_key_file_new();
    std::string command;
    char* exec = g_key_file_load_from_file(file, entry.c_str(), G_KEY_FILE_NONE, nullptr)
                     ? g_key_file_get_string(file, "Desktop Entry", "Exec", nullptr)
                     : nullptr;
    int argc = 0;
    char** argv = nullptr;
    if (exec && g_shell_parse_argv(exec, &argc, &argv, nullptr) && argc == 1)
        command = argv[0];
    g_strfreev(argv);
    g_free(exec);
    g_key_file_free(file);
    return command;
}

// Checks the three files that the installer puts below `prefix`, the command greeting in
// English unless `greeting` and `world` are said in another language.
void expectInstalled(const std::string& prefix, const std::string& greeting = "Hello",
                     const std::string& world = "world") {
    std::string command = prefix + "/bin/hello";
    EXPECT_EQ(0755, modeOf(command));
    EXPECT_EQ(greeting + ", " + world + "!\n", commandOutput({command}));
    EXPECT_EQ(greeting + ", Ada!\n", commandOutput({command, "Ada"}));

    std::string entry = prefix + "/share/applications/hello.desktop";
    EXPECT_EQ(0644, modeOf(entry));
    std::string text = readFile(entry);
    size_t exec = text.find("\nExec=");
    ASSERT_NE(std::string::npos, exec) << text;
    text.erase(exec, text.find('\n', exec + 1) - exec);
    EXPECT_EQ(
        "[Desktop Entry]\nType=Application\nName=Hello\nComment=Says hello\nIcon=hello\nTerminal=true\n"
        "Categories=Utility;\n",
        text);
    EXPECT_EQ(command, menuCommand(entry));

    std::string icon = prefix + "/share/icons/hicolor/48x48/apps/hello.png";
    EXPECT_EQ(0644, modeOf(icon));
    EXPECT_EQ(readFile(kExample + "/korvalen-48x48.png"), readFile(icon));
}

// What the installer prints, each line followed by `end`; the block that adds the icon and the
// menu entry moves the bar on with two directive lines of its own.
std::string progressLines(const std::string& prefix, const std::string& end) {
    return "Installing into " + prefix + end + "Installed " + prefix + "/bin/hello" + end +
           "#text=Adding the menu entry" + end + "#progress=0.75" + end + "Added the menu entry" + end;
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

TEST(HelloExample, InstallsIntoAPrefixWithBlanksQuotesAndDollarSignsInBothModes) {
    TempDir home, base;
    const std::string prefix = base / "my \"app\" it's $(id -un) `id`";
    const std::vector<std::string> environment = {"HOME=" + home.path(), "HELLO_PREFIX=" + prefix};
    Result silent = runProgram(kExample, {"-s"}, environment);
    EXPECT_EQ(0, silent.status);
    EXPECT_EQ(progressLines(prefix, "\n"), silent.out);
    EXPECT_EQ("", silent.err);
    expectInstalled(prefix);

    ASSERT_EQ(0, runCommand({"rm", "-rf", prefix}));
    Result window = runWithWindows(kExample, environment, "Added the menu entry \n");
    EXPECT_EQ(0, window.status);
    EXPECT_EQ("Display EULA: English\n" + progressLines(prefix, " \n"), window.out);
    expectInstalled(prefix);
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

TEST(HelloExample, GreetsInGermanAfterTheGermanLicenceWasAcceptedThroughTheWindows) {
    TempDir home, prefix;
    Result result = runWithWindows(kExample, {"HOME=" + home.path(), "HELLO_PREFIX=" + prefix.path()},
                                   "Added the menu entry \n", "Deutsch");
    EXPECT_EQ(0, result.status);
    EXPECT_EQ("Display EULA: English\nDisplay EULA: Deutsch\n" + progressLines(prefix.path(), " \n"),
              result.out);
    expectInstalled(prefix.path(), "Hallo", "Welt");
}

// A command that cannot be written, since a folder has its name: the run stops at that step.
TEST(HelloExample, StopsAtAFailedStepInBothModesWithItsStatus) {
    for (bool windowed : {true, false}) {
        SCOPED_TRACE(windowed ? "window" : "silent");
        TempDir home, prefix;
        ASSERT_EQ(0, runCommand({"mkdir", "-p", prefix / "bin/hello"}));
        const std::vector<std::string> environment = {"HOME=" + home.path(), "HELLO_PREFIX=" + prefix.path()};
        const std::string first = "Installing into " + prefix.path();
        Result result = windowed ? runWithWindows(kExample, environment, first + " \n")
                                 : runProgram(kExample, {"-s"}, environment);
        EXPECT_EQ(1, result.status);
        EXPECT_EQ(windowed ? "Display EULA: English\n" + first + " \n" : first + "\n", result.out);
        // Bash's message, then silently the directive's text.
        const std::string said =
            std::string("/bin/hello: Is a directory\n") + (windowed ? "" : "Hello is not installed\n");
        EXPECT_TRUE(g_str_has_suffix(result.err.c_str(), said.c_str())) << result.err;
        EXPECT_FALSE(fileExists(prefix / "share/applications/hello.desktop"));
    }
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
