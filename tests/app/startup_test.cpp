// The option scan and the exit status, with the built program run as a user would run it.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/app.h"
#include "buffers/buffers.h"
#include "support/support.h"

namespace {

const char* const kHelp = "Ostrel Help...\n";
const char* const kNoScript = "Error:  Script File Required (-f /some/File.sh)\n";
const std::vector<std::string> kHelpSpellings = {"-h", "-H", "-help"};

// Notices whether anything opened a file after the watch was set up.
class OpenWatch {
public:
    explicit OpenWatch(const std::string& path) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        watching_ = fd_ >= 0 && inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_ACCESS) >= 0;
    }
    ~OpenWatch() {
        if (fd_ >= 0)
            close(fd_);
    }
    bool watching() const { return watching_; }
    bool opened() const {
        char events[4096];
        return read(fd_, events, sizeof events) > 0;
    }

private:
    int fd_;
    bool watching_ = false;
};

// A directory with an "installer" that would announce itself and leave a mark.
void writeInstaller(const TempDir& dir) {
    dir.write("installer", "echo installer\ntouch installer-ran\n");
}

}  // namespace

TEST(Help, PrintsOnlyTheHelpLineInEverySpelling) {
    for (const std::string& spelling : kHelpSpellings) {
        SCOPED_TRACE(spelling);
        TempDir dir;
        writeInstaller(dir);
        Result silent = runProgram(dir.path(), {"-s", spelling}, {}, 30);
        EXPECT_EQ(0, silent.status);
        EXPECT_EQ(kHelp, silent.out);
        // Without -s a window would follow: ending at all shows that nothing else started.
        Result interactive = runProgram(dir.path(), {spelling, "-s"}, {}, 30);
        EXPECT_EQ(0, interactive.status);
        EXPECT_EQ(kHelp, interactive.out);
        EXPECT_FALSE(fileExists(dir / "installer-ran"));
    }
}

TEST(Help, BeforeAScriptOptionLeavesTheScriptUnread) {
    for (const std::string& spelling : kHelpSpellings) {
        SCOPED_TRACE(spelling);
        TempDir dir;
        dir.write("script", "touch script-ran\n");
        OpenWatch watch(dir / "script");
        ASSERT_TRUE(watch.watching());
        Result result = runProgram(dir.path(), {"-s", spelling, "-f", "script"}, {}, 30);
        EXPECT_EQ(0, result.status);
        EXPECT_EQ(kHelp, result.out);
        EXPECT_FALSE(watch.opened());
        EXPECT_FALSE(fileExists(dir / "script-ran"));
    }
}

TEST(Help, AfterAScriptOptionReadsTheScriptButRunsNothing) {
    for (const std::string& spelling : kHelpSpellings) {
        SCOPED_TRACE(spelling);
        TempDir dir;
        dir.write("script", "touch script-ran\n");
        OpenWatch watch(dir / "script");
        ASSERT_TRUE(watch.watching());
        Result result = runProgram(dir.path(), {"-s", "-f", "script", spelling}, {}, 30);
        EXPECT_EQ(0, result.status);
        EXPECT_EQ(kHelp, result.out);
        EXPECT_TRUE(watch.opened());
        EXPECT_FALSE(fileExists(dir / "script-ran"));
    }
}

TEST(Help, AfterAScriptOptionReleasesTheLoadedScript) {
    TempDir dir;
    dir.write("script", "touch script-ran\n");
    std::string path = dir / "script";
    std::vector<char*> argv = {const_cast<char*>("Ostrel"), const_cast<char*>("-f"), path.data(),
                               const_cast<char*>("-H")};
    CapturedStdout output;
    EXPECT_EQ(0, startup(static_cast<int>(argv.size()), argv.data()));
    EXPECT_EQ(kHelp, output.text());
    EXPECT_EQ(nullptr, m_pBuffer);
    EXPECT_EQ(0u, m_nBuffer);
    EXPECT_FALSE(fileExists(dir / "script-ran"));
}

TEST(ScriptOption, UsesTheSecondFileWhenTheFirstIsMissing) {
    TempDir dir;
    writeInstaller(dir);
    dir.write("second", "echo second\n");
    Result result = runProgram(dir.path(), {"-s", "-f", "missing", "-f", "second"}, {}, 30);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ("second\n", result.out);
}

TEST(ScriptOption, KeepsTheFirstFileWhenTheSecondIsMissing) {
    TempDir dir;
    writeInstaller(dir);
    dir.write("first", "echo first\n");
    Result result = runProgram(dir.path(), {"-s", "-f", "first", "-f", "missing"}, {}, 30);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ("first\n", result.out);
}

TEST(ScriptOption, ReportsNoScriptAndRunsNoInstallerWhenALaterFileGivesNoText) {
    for (const char* later : {"empty", "folder"}) {
        SCOPED_TRACE(later);
        TempDir dir;
        writeInstaller(dir);
        dir.write("first", "echo first\ntouch first-ran\n");
        dir.write("empty", "");
        dir.write("folder/inside", "echo inside\n");
        Result result = runProgram(dir.path(), {"-s", "-f", "first", "-f", later}, {}, 30);
        EXPECT_EQ(1, result.status);
        EXPECT_EQ(kNoScript, result.out);
        EXPECT_FALSE(fileExists(dir / "first-ran"));
        EXPECT_FALSE(fileExists(dir / "installer-ran"));
    }
}

// A misspelt name must not run the installation instead, with a window or without.
TEST(ScriptOption, ReportsAMissingNamedScriptInsteadOfRunningTheInstaller) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"-s", "-f", "uninstal"}, std::vector<std::string>{"-f", "uninstal"}}) {
        SCOPED_TRACE(arguments.size() == 3 ? "silent" : "with a window");
        TempDir dir;
        writeInstaller(dir);
        // Ending at all shows that no window was opened.
        Result result = runProgram(dir.path(), arguments, {}, 30);
        EXPECT_EQ(1, result.status);
        EXPECT_EQ(kNoScript, result.out);
        EXPECT_FALSE(fileExists(dir / "installer-ran"));
    }
}

TEST(ScriptOption, UsesTheInstallerWhenTheOptionIsTheLastArgument) {
    TempDir dir;
    writeInstaller(dir);
    Result result = runProgram(dir.path(), {"-s", "-f"}, {}, 30);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ("installer\n", result.out);
    EXPECT_TRUE(fileExists(dir / "installer-ran"));
}

TEST(ScriptOption, ExaminesTheFileNameAsAnOptionOfItsOwn) {
    TempDir dir;
    dir.write("-s", "echo named dash s\n");
    // The name after -f is also the silent option: a window would keep the program running.
    Result result = runProgram(dir.path(), {"-f", "-s"}, {}, 30);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ("named dash s\n", result.out);
}

TEST(ScriptOption, AcceptsTheCapitalSpellings) {
    TempDir dir;
    writeInstaller(dir);
    dir.write("script", "echo capital\n");
    Result result = runProgram(dir.path(), {"-S", "-F", "script"}, {}, 30);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ("capital\n", result.out);
}

TEST(ScriptOption, GivesNoTextForAFifoWithoutWaitingForAWriter) {
    TempDir dir;
    ASSERT_EQ(0, mkfifo((dir / "fifo").c_str(), 0600));
    Program program(dir.path(), {"-s", "-f", "fifo"});
    EXPECT_EQ(1, program.wait(30));
    EXPECT_EQ(kNoScript, program.out());
}

TEST(Startup, IgnoresUnknownArgumentsAndTwoDashHelp) {
    TempDir dir;
    writeInstaller(dir);
    Result result = runProgram(dir.path(), {"--help", "-x", "-s", "help", "--sync"}, {}, 30);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ("installer\n", result.out);
}

TEST(Startup, ReportsAMissingScriptAndEndsWithStatusOne) {
    TempDir dir;
    // Interactive mode: ending at all shows that no window was opened.
    Result result = runProgram(dir.path(), {}, {}, 30);
    EXPECT_EQ(1, result.status);
    EXPECT_EQ(kNoScript, result.out);

    Result silent = runProgram(dir.path(), {"-s", "-f", "missing"}, {}, 30);
    EXPECT_EQ(1, silent.status);
    EXPECT_EQ(kNoScript, silent.out);
}
