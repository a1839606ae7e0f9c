// Every example of the control script guide, run through the real program as the guide says.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <locale.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "buffers/buffers.h"
#include "buffers/owned.h"
#include "progress/in_process.h"
#include "progress/progress.h"
#include "support/support.h"

namespace {

const char* const kNoLicence = "Warning:  EULA not found\n";

// The guide's named examples: fenced blocks whose opening line carries "example=NAME".
std::map<std::string, std::string> readExamples() {
    std::istringstream guide(readFile(OSTREL_SOURCE_DIR "/docs/control-script.md"));
    std::map<std::string, std::string> examples;
    std::string line, name, text;
    bool inside = false;
    while (std::getline(guide, line)) {
        if (!inside && line.rfind("```", 0) == 0 && line.find("example=") != std::string::npos) {
            name = line.substr(line.find("example=") + 8);
            size_t space = name.find(' ');
            if (space != std::string::npos)
                name.resize(space);
            text.clear();
            inside = true;
        } else if (inside && line == "```") {
            examples[name] = text;
            inside = false;
        } else if (inside) {
            text += line + "\n";
        }
    }
    return examples;
}

// The examples this file runs; the guide must show exactly these.
const std::set<std::string> kTested = {
    "first-script",
    "title",
    "text",
    "progress",
    "progress-out-of-range",
    "async-block",
    "output-directives",
    "nowait-block",
    "nowait-quiet",
    "blocking-block",
    "exit",
    "payload-records",
    "tar-progress",
    "block-at-end",
    "close-window",
    "visible-failure",
    "close-after-block",
    "exit-in-block",
    "failed-step",
    "chosen-language",
    "root-steps",
    "root-block",
    "outer-dollar",
    "deferred-dollar",
    "outer-substitution",
    "backslashes",
    "comment-expansion",
    "environment-plain",
    "environment-escaped",
    "eof-line",
    "eof-line-fixed",
    "stdin-reader",
    "stdin-reader-fixed",
    "script-end-in-line",
    "directive-in-line",
    "empty-lines",
    "separate-shells",
    "cd-in-subshell",
    "no-final-line-feed",
    "modes",
    "buffered",
    "line-buffered",
    "chatty",
    "chatty-blocking",
    "chatty-trimmed",
    "chatty-summary",
    "long-line",
};

std::string example(const std::string& name) {
    static const std::map<std::string, std::string> examples = readExamples();
    EXPECT_EQ(1u, kTested.count(name)) << name << " is not in the list of tested examples";
    auto found = examples.find(name);
    if (found == examples.end()) {
        ADD_FAILURE() << "the guide has no example named " << name;
        return "";
    }
    return found->second;
}

// The directory the installer runs in, as the program sees it.
std::string realPath(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    std::string result = resolved ? resolved : path;
    free(resolved);
    return result;
}

Result runSilently(const TempDir& dir, const std::vector<std::string>& environment = {}) {
    return runProgram(dir.path(), {"-s"}, environment, 60);
}

// The same installer through both roads.
struct BothModes {
    Result windowed;
    Result silent;
};

// `prepare` puts what the script needs next to it, in each directory.
BothModes runBothWays(const std::string& script, const std::vector<std::string>& environment = {},
                      const std::string& last = "",
                      const std::function<void(const TempDir&)>& prepare = nullptr) {
    TempDir windowed, silent;
    for (const TempDir* dir : {&windowed, &silent}) {
        dir->write("installer", script);
        if (prepare)
            prepare(*dir);
    }
    return {runWithWindows(windowed.path(), environment, last), runSilently(silent, environment)};
}

// Runs a script in this process, with the real progress window and interpreter, so that the
// window's state can be read directly.
class GuideWindow : public InProcessRun {
protected:
    // Lets the main loop run until `done` holds; false if it did not within `seconds`. The
    // interpreter is the test's to tick: the loop runs the output monitor only.
    bool runUntil(const std::function<bool()>& done, double seconds) {
        if (GSource* interpreter = g_main_context_find_source_by_id(nullptr, record->timer))
            g_source_set_ready_time(interpreter, -1);
        double end = now() + seconds * timeScale();
        // One iteration at a time, so that the state is seen before the next timer moves on.
        while (!done()) {
            if (now() > end)
                return false;
            if (!g_main_context_iteration(nullptr, FALSE))
                pause(0.005);
        }
        return true;
    }

    bool finished() const { return gtk_widget_get_visible(record->button); }
    std::string label() const { return labelText(); }
};

TEST(ControlScriptGuide, ShowsExactlyTheExamplesThatAreRun) {
    std::set<std::string> shown;
    for (const auto& entry : readExamples()) {
        shown.insert(entry.first);
        EXPECT_FALSE(entry.second.empty()) << entry.first;
    }
    EXPECT_EQ(kTested, shown);
}

TEST(ControlScriptGuide, FirstScriptCopiesTheDataAndEndsWithOk) {
    TempDir dir;
    dir.write("installer", example("first-script"));
    dir.write("data/readme.txt", "read me\n");
    Program program(dir.path(), {});
    WindowId window = findWindow(program.pid(), "Example Setup", 30);
    ASSERT_NE(0u, window);
    EXPECT_EQ(0, finishWithOk(program, window));
    EXPECT_EQ(std::string(kNoLicence) + "copied the data \n", program.out());
    EXPECT_EQ("read me\n", readFile(dir / "copied/data/readme.txt"));

    TempDir quiet;
    quiet.write("installer", example("first-script"));
    quiet.write("data/readme.txt", "read me\n");
    Result silent = runSilently(quiet);
    EXPECT_EQ(0, silent.status);
    EXPECT_EQ("copied the data\n", silent.out);
    EXPECT_EQ("read me\n", readFile(quiet / "copied/data/readme.txt"));
}

TEST(GuideDirectives, TitleNamesTheProgressWindow) {
    TempDir dir;
    dir.write("installer", example("title"));
    Program program(dir.path(), {});
    WindowId window = findWindow(program.pid(), "Hello Setup", 30);
    ASSERT_NE(0u, window);
    EXPECT_EQ(0, finishWithOk(program, window));
}

TEST_F(GuideWindow, TextStaysOnTheBarWhileTheBlockRunsThenIsCleared) {
    start(example("text"));
    tick();
    EXPECT_EQ("Copying files", barText());
    tick();
    ASSERT_EQ(1, record->running);
    runUntil([] { return false; }, 0.4);
    EXPECT_EQ("Copying files", barText());
    ASSERT_TRUE(runUntil([this] { return record->running == 0; }, 20));
    tick();
    EXPECT_EQ("Done", barText());
    tick();
    EXPECT_TRUE(finished());
    EXPECT_EQ(" ", barText());
}

TEST_F(GuideWindow, ProgressFillsTheBarByTheNumberGivenAndFullyAtTheEnd) {
    start(example("progress"));
    tick();
    tick();
    EXPECT_DOUBLE_EQ(0.25, barFraction());
    tick();
    tick();
    EXPECT_DOUBLE_EQ(0.5, barFraction());
    tick();
    tick();
    EXPECT_FLOAT_EQ(0.75f, record->fraction);
    EXPECT_TRUE(finished());
    EXPECT_DOUBLE_EQ(1.0, barFraction());
}

TEST_F(GuideWindow, ProgressIsWrittenWithADecimalPointWhateverTheLanguage) {
    std::string previous = setlocale(LC_ALL, nullptr);
    ASSERT_NE(nullptr, setlocale(LC_ALL, "de_DE.UTF-8")) << "the German locale is not installed";
    start(example("progress"));
    tick();
    tick();
    EXPECT_DOUBLE_EQ(0.25, barFraction());
    setlocale(LC_ALL, previous.c_str());
}

TEST_F(GuideWindow, ProgressOutsideTheRangeIsHeldToItAndNonsenseIsZero) {
    start(example("progress-out-of-range"));
    tick();
    EXPECT_DOUBLE_EQ(1.0, barFraction());
    tick();
    EXPECT_DOUBLE_EQ(0.0, barFraction());
    EXPECT_FALSE(finished());
    tick();
    EXPECT_FLOAT_EQ(0.0f, record->fraction);
}

TEST_F(GuideWindow, AsyncBlockShowsEachLineUnderTheBarAndHoldsTheScript) {
    start(example("async-block"));
    tick();
    tick();
    ASSERT_TRUE(runUntil([this] { return label() == "Unpacking the archive "; }, 20));
    EXPECT_EQ("Unpacking", barText());
    ASSERT_TRUE(runUntil([this] { return label() == "Unpacked 3 files "; }, 20));
    EXPECT_EQ("Unpacking", barText());
    ASSERT_TRUE(runUntil([this] { return record->running == 0; }, 20));
    EXPECT_EQ("", label());
    tick();
    EXPECT_EQ("Configuring", barText());
}

TEST(GuideBlocks, AsyncBlockEchoesEachLineFollowedByASpace) {
    TempDir dir;
    dir.write("installer", example("async-block"));
    Result result = runWithWindows(dir.path());
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(std::string(kNoLicence) + "Unpacking the archive \nUnpacked 3 files \n", result.out);
}

TEST_F(GuideWindow, OutputDirectivesMoveTheBarWhileTheLastLineShownStays) {
    start(example("output-directives"));
    for (int line = 0; line < 3; ++line)
        tick();
    ASSERT_EQ(1, record->running);
    ASSERT_TRUE(runUntil([this] { return barText() == "Copying the manual"; }, 20));
    EXPECT_DOUBLE_EQ(0.5, barFraction());
    EXPECT_EQ("Copying the program ", label());
    ASSERT_TRUE(runUntil([this] { return record->running == 0; }, 20));
    EXPECT_FLOAT_EQ(0.9f, record->fraction);
    tick();
    EXPECT_EQ("Done", barText());
}

TEST(GuideBlocks, OutputDirectivesAreEchoedWithTheWindowAndPrintedSilently) {
    const std::string lines = "Copying the program\n#progress=0.5\n#text=Copying the manual\n#progress=0.9\n";
    BothModes results = runBothWays(example("output-directives"), {}, "#progress=0.9 \n");
    std::string echoed = kNoLicence;
    for (size_t at = 0, end; (end = lines.find('\n', at)) != std::string::npos; at = end + 1)
        echoed += lines.substr(at, end - at) + " \n";
    EXPECT_EQ(echoed, results.windowed.out);
    EXPECT_EQ(lines, results.silent.out);
}

TEST(GuideBlocks, NoWaitBlockRunsToItsEndAndShowsNothingButPrintsSilently) {
    TempDir dir;
    dir.write("installer", example("nowait-block"));
    Result result = runWithWindows(dir.path());
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(kNoLicence, result.out);
    EXPECT_TRUE(fileExists(dir / "menu/hello.desktop"));

    EXPECT_EQ("Registering the menu entry\n", runSilently(dir).out);
}

TEST(GuideBlocks, NoWaitBlockSentToDevNullPrintsInNeitherMode) {
    for (bool windowed : {true, false}) {
        TempDir dir;
        dir.write("installer", example("nowait-quiet"));
        Result result = windowed ? runWithWindows(dir.path()) : runSilently(dir);
        EXPECT_EQ(windowed ? kNoLicence : "", result.out);
        EXPECT_TRUE(fileExists(dir / "menu/hello.desktop"));
    }
}

TEST(GuideBlocks, BlockingBlockWritesToTheConsoleUnchanged) {
    TempDir dir;
    dir.write("installer", example("blocking-block"));
    Result result = runWithWindows(dir.path());
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(0u, result.out.find(std::string(kNoLicence) + "Free space here:\n")) << result.out;
    // df's own line ends without the space that echoed lines get.
    EXPECT_EQ(std::string::npos, result.out.find(" \n")) << result.out;
}

TEST_F(GuideWindow, BlockingBlockLeavesTheLineUnderTheBarEmpty) {
    start(example("blocking-block"));
    tick();
    tick();
    EXPECT_EQ(0, record->running);
    EXPECT_EQ(" ", label());
    EXPECT_TRUE(finished());
}

TEST(GuideDirectives, ExitEndsTheRunAtOnceButIsOnlyACommentWhenSilent) {
    TempDir dir;
    dir.write("installer", example("exit"));
    Program program(dir.path(), {});
    EXPECT_EQ(0, program.wait(30));
    EXPECT_EQ(std::string(kNoLicence) + "Installed \n", program.out());

    Result silent = runSilently(dir);
    EXPECT_EQ(0, silent.status);
    EXPECT_EQ("Installed\nnever run\n", silent.out);
}

// A game of 40 files and a large one that does not compress, packed as the guide says when the
// installer is built. `damage` cuts the archive short, as a broken download would.
void packGame(const TempDir& dir, bool damage = false) {
    std::string big;
    guint32 seed = 25;
    for (int i = 0; i < 3000000; ++i) {
        seed = seed * 1103515245u + 12345u;
        big += static_cast<char>(seed >> 24);
    }
    dir.write("game-files/data.bin", big);
    dir.write("game-files/readme.txt", "Have fun\n");
    TempDir script;
    script.write("build", example("payload-records"));
    ASSERT_EQ(0, runCommand({"sh", "-c", "cd '" + dir.path() + "' && bash " + (script / "build")}));
    // The records of 10 KiB that the data alone fills, and a few more for the rest.
    int records = atoi(readFile(dir / "payload.records").c_str());
    ASSERT_TRUE(records > 292 && records < 300) << records;
    if (damage) {
        ASSERT_EQ(0, truncate((dir / "payload.tar.gz").c_str(), 1000000));
    }
}

// The bar's fractions in the order they were set, each once.
void noteFraction(GObject* bar, GParamSpec*, gpointer data) {
    auto* fractions = static_cast<std::vector<double>*>(data);
    double fraction = gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(bar));
    if (fractions->empty() || fractions->back() != fraction)
        fractions->push_back(fraction);
}

TEST_F(GuideWindow, TarCheckpointsFillTheBarStepByStepWithinOneBlock) {
    g_setenv("OSTREL_MODE", "window", TRUE);
    packGame(dir);
    start(example("tar-progress"));
    std::vector<double> fractions;
    g_signal_connect(record->bar, "notify::fraction", G_CALLBACK(noteFraction), &fractions);
    std::set<std::string> shown;
    for (int line = 0; line < 5; ++line)
        tick();
    ASSERT_EQ(1, record->running);
    ASSERT_TRUE(runUntil(
        [&] {
            shown.insert(label());
            return record->running == 0;
        },
        60));
    g_unsetenv("OSTREL_MODE");
    // From the tenth the script set to nine tenths, in about a hundred steps up.
    ASSERT_GE(fractions.size(), 50u);
    EXPECT_FLOAT_EQ(0.1f, static_cast<float>(fractions.front()));
    EXPECT_FLOAT_EQ(0.9f, static_cast<float>(fractions.back()));
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
    // Every line the block wrote was a directive.
    shown.erase("");
    shown.erase(" ");
    EXPECT_TRUE(shown.empty()) << *shown.begin();
    tick();
    EXPECT_EQ("Done", barText());
    EXPECT_EQ(readFile(dir / "game-files/data.bin"), readFile(dir / "game/data.bin"));
    EXPECT_EQ("Have fun\n", readFile(dir / "game/readme.txt"));
}

TEST_F(GuideWindow, BrokenArchiveStopsTheRunWithTarsStatusAndItsLastMessage) {
    packGame(dir, true);
    start(example("tar-progress"));
    for (int line = 0; line < 5; ++line)
        tick();
    ASSERT_TRUE(runUntil([this] { return record->running == 0; }, 60));
    tick();
    EXPECT_TRUE(finished());
    EXPECT_EQ(2, m_nStatus);
    EXPECT_EQ("The game could not be unpacked", barText());
    EXPECT_LT(barFraction(), 0.9);
    EXPECT_DOUBLE_EQ(record->fraction, barFraction());
    EXPECT_EQ(0u, label().find("tar: ")) << label();
    EXPECT_EQ("#text=Done\n#progress=1\n", unread());
}

TEST(GuideDirectives, TarProgressIsQuietSilentlyAndABrokenArchiveEndsWithTarsStatus) {
    for (bool damage : {false, true}) {
        SCOPED_TRACE(damage ? "broken" : "whole");
        TempDir dir;
        dir.write("installer", example("tar-progress"));
        packGame(dir, damage);
        Result silent = runSilently(dir, {"LC_ALL=C"});
        EXPECT_EQ(damage ? 2 : 0, silent.status);
        EXPECT_EQ(damage ? "The game could not be unpacked\n" : "", silent.err);
        if (damage) {
            EXPECT_NE(std::string::npos, silent.out.find("tar: Error is not recoverable")) << silent.out;
        } else {
            EXPECT_EQ("", silent.out);
        }
        if (!damage) {
            EXPECT_EQ("Have fun\n", readFile(dir / "game/readme.txt"));
        }
    }
}

// A `sleep` on the PATH of the program under test that sleeps until the test wakes it: call
// N waits for the file "wake-N" in its directory.
class HeldSleeps {
public:
    HeldSleeps() {
        GCharPtr real(g_find_program_in_path("sleep"));
        dir_.write("sleep",
                   "#!/bin/sh\nn=$(( $(cat " + (dir_ / "calls") +
                       " 2>/dev/null || echo 0) + 1 ))\necho $n > " + (dir_ / "calls") + "\nwhile [ ! -e " +
                       (dir_ / "wake-") + "$n ]; do " + real.get() + " 0.01; done\n",
                   0755);
    }
    std::string path() const { return "PATH=" + dir_.path() + ":" + g_getenv("PATH"); }
    // Whether call n has begun.
    bool began(int n) const {
        return waitUntil([&] { return readFile(dir_ / "calls") == std::to_string(n) + "\n"; }, 30);
    }
    void wake(int n) const { dir_.write("wake-" + std::to_string(n), ""); }

private:
    TempDir dir_;
};

TEST(GuideEndOfRun, ClosingTheWindowLetsTheBlockEndAndRunsNoLaterLine) {
    const struct {
        const char* opening;
        const char* before;  // on the console when the window is closed
        const char* after;   // on the console at the end
    } kinds[] = {
        // The next write into the closed window ends the block.
        {"#script_start\n", "Copying the data \n", "Copying the data \n"},
        {"#script_start_blocking\n", "Copying the data\n", "Copying the data\nCopied the data\n"},
        {"#script_start_nowait\n", "", ""},
    };
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.opening);
        const std::string first = "#script_start\n";
        std::string script = example("close-window");
        script.replace(script.find(first), first.size(), kind.opening);
        TempDir dir;
        dir.write("installer", script);
        dir.write("data/readme.txt", "read me\n");
        HeldSleeps sleeps;
        Program program(dir.path(), {}, {sleeps.path()});
        WindowId window = findWindow(program.pid(), "Example Setup", 30);
        ASSERT_NE(0u, window);
        ASSERT_TRUE(sleeps.began(1));
        ASSERT_TRUE(program.waitForOutput(std::string(kNoLicence) + kind.before, 30)) << program.out();
        requestClose(window);
        EXPECT_FALSE(waitUntil([&] { return !program.running(); }, 1)) << "did not wait for the block";
        sleeps.wake(1);
        EXPECT_EQ(0, program.wait(30));
        EXPECT_EQ(std::string(kNoLicence) + kind.after, program.out());
        EXPECT_EQ("read me\n", readFile(dir / "copied/readme.txt"));
        EXPECT_FALSE(fileExists(dir / "registered"));
    }
}

TEST(GuideEndOfRun, FailedStepIsShownAndHeldUnderTheBarAndPrintedSilently) {
    const std::string lines[] = {"cp: cannot stat 'data/.': No such file or directory",
                                 "Copying the data failed", "Not installed: readme.txt licence.txt"};
    TempDir dir;
    dir.write("installer", example("visible-failure"));
    HeldSleeps sleeps;
    Program program(dir.path(), {}, {sleeps.path(), "LC_ALL=C"});
    std::string shown = kNoLicence;
    for (const std::string& line : lines)
        shown += line + " \n";
    // The check step holds its message up: no "OK" until its sleep ends.
    ASSERT_TRUE(sleeps.began(1));
    EXPECT_TRUE(program.waitForOutput(shown, 30)) << program.out();
    WindowId window = findWindow(program.pid(), "", 10);
    ASSERT_NE(0u, window);
    sleeps.wake(1);
    EXPECT_EQ(0, finishWithOk(program, window));
    EXPECT_EQ(shown, program.out());
    EXPECT_EQ("", program.err());

    TempDir quiet;
    quiet.write("installer", example("visible-failure"));
    HeldSleeps quietSleeps;
    quietSleeps.wake(1);
    Result silent = runProgram(quiet.path(), {"-s"}, {quietSleeps.path(), "LC_ALL=C"});
    EXPECT_EQ(lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n", silent.out);
    EXPECT_EQ("", silent.err);
}

TEST(GuideEndOfRun, CloseDuringTheShownLinesOfAnEndedBlockEndsAtOnceWithoutItsCleanup) {
    TempDir dir;
    dir.write("installer", example("close-after-block"));
    Program program(dir.path(), {});
    WindowId window = findWindow(program.pid(), "", 30);
    ASSERT_NE(0u, window);
    // The last file comes after the last line: from here on the block writes nothing.
    ASSERT_TRUE(waitUntil([&] { return fileExists(dir / "unpacked/file100"); }, 30));
    ASSERT_TRUE(program.waitForOutput("Unpacking file1 \n", 30));
    ASSERT_EQ(std::string::npos, program.out().find("file100")) << "every line was shown before the close";
    requestClose(window);
    EXPECT_EQ(0, program.wait(30));
    EXPECT_EQ(std::string::npos, program.out().find("file100")) << program.out();
    EXPECT_TRUE(fileExists(dir / "unpacked/file1"));
    EXPECT_FALSE(fileExists(dir / "registered"));
}

TEST(GuideFailures, ExitEndsItsBlockInTheWindowButTheWholeRunSilently) {
    BothModes results = runBothWays(example("exit-in-block"), {}, "Step 2 \n");
    EXPECT_EQ(0, results.windowed.status);
    EXPECT_EQ(std::string(kNoLicence) + "Step 1 \nStep 2 \n", results.windowed.out);
    EXPECT_EQ(0, results.silent.status);
    EXPECT_EQ("Step 1\n", results.silent.out);
}

TEST(GuideFailures, FailedStepStopsTheRunInBothModesWithItsStatusAndAStepBeforeTheLineDoesNot) {
    const std::string cp = "cp: cannot stat 'data/.': No such file or directory";
    const struct {
        bool data;
        int status;
        const char* out;  // the lines each mode prints, without their line ends
        const char* err;  // silently
    } rows[] = {
        {false, 1, "", "Copying the files failed\n"},
        {true, 0, "Copied the data\nAdded the menu entry\n", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.data ? "with data" : "without data");
        std::string lines = row.data ? row.out : cp + "\n";
        std::string shown;
        for (size_t at = 0, end; (end = lines.find('\n', at)) != std::string::npos; at = end + 1)
            shown += lines.substr(at, end - at) + " \n";
        BothModes results = runBothWays(example("failed-step"), {"LC_ALL=C"}, shown, [&](const TempDir& dir) {
            if (row.data)
                dir.write("data/readme.txt", "read me\n");
        });
        EXPECT_EQ(row.status, results.windowed.status);
        EXPECT_EQ(kNoLicence + shown, results.windowed.out);
        EXPECT_EQ(row.status, results.silent.status);
        EXPECT_EQ(lines, results.silent.out);
        EXPECT_EQ(row.err, results.silent.err);
    }
}

TEST(GuideVariables, BlocksInstallTheMessagesOfTheLicenceLanguageChosenOrEnglishSilently) {
    TempDir dir;
    dir.write("installer", example("chosen-language"));
    dir.write("eula/English", "The licence\n");
    dir.write("eula/Deutsch", "Die Lizenz\n");
    dir.write("messages/English", "Hello\n");
    dir.write("messages/Deutsch", "Hallo\n");
    Result windowed = runWithWindows(dir.path(), {}, "Installed the Deutsch messages \n", "Deutsch");
    EXPECT_EQ(0, windowed.status);
    EXPECT_EQ("Display EULA: English\nDisplay EULA: Deutsch\nInstalled the Deutsch messages \n",
              windowed.out);
    EXPECT_EQ("Hallo\n", readFile(dir / "installed/messages"));

    Result silent = runSilently(dir);
    EXPECT_EQ("Installed the English messages\n", silent.out);
    EXPECT_EQ("Hello\n", readFile(dir / "installed/messages"));
}

// The root section shows the system-wide example's own text, which its tests run as root and as
// a user without root (tests/examples).
TEST(GuideRoot, ShowsTheSystemWideExamplesOwnText) {
    const std::string shipped = OSTREL_SOURCE_DIR "/examples/system-wide/";
    EXPECT_NE(std::string::npos, readFile(shipped + "system-steps").find(example("root-steps")));
    EXPECT_NE(std::string::npos, readFile(shipped + "installer").find(example("root-block")));
}

TEST(GuidePitfalls, OuterShellEmptiesAVariableTheBlockSets) {
    BothModes results = runBothWays(example("outer-dollar"), {"greeting"}, ", world \n");
    EXPECT_EQ(std::string(kNoLicence) + ", world \n", results.windowed.out);
    EXPECT_EQ(", world\n", results.silent.out);
}

TEST(GuidePitfalls, EscapedDollarReachesBashAndSoDoesTheEnvironment) {
    TempDir home;
    std::vector<std::string> environment = {"greeting", "USER=tester", "HOME=" + home.path()};
    std::string installing = "Installing for tester into " + home.path();
    BothModes results = runBothWays(example("deferred-dollar"), environment, installing + " \n");
    EXPECT_EQ(std::string(kNoLicence) + "Hello, world \n" + installing + " \n", results.windowed.out);
    EXPECT_EQ("Hello, world\n" + installing + "\n", results.silent.out);
}

TEST(GuidePitfalls, PlainEnvironmentVariableBecomesShellTextButEscapedKeepsItsValue) {
    const std::string prefix = "/opt/my \"app\" $(id -un)";
    std::string user = commandOutput({"id", "-un"});
    ASSERT_FALSE(user.empty());
    user.pop_back();
    const std::vector<std::string> environment = {"APP_PREFIX=" + prefix};

    const std::string pasted = "Installing into /opt/my app " + user;
    BothModes plain = runBothWays(example("environment-plain"), environment, pasted + " \n");
    EXPECT_EQ(std::string(kNoLicence) + pasted + " \n", plain.windowed.out);
    EXPECT_EQ(pasted + "\n", plain.silent.out);

    const std::string kept = "Installing into " + prefix;
    BothModes escaped = runBothWays(example("environment-escaped"), environment, kept + " \n");
    EXPECT_EQ(std::string(kNoLicence) + kept + " \n", escaped.windowed.out);
    EXPECT_EQ(kept + "\n", escaped.silent.out);

    TempDir dir, home;
    dir.write("installer", example("environment-escaped"));
    EXPECT_EQ("Installing into " + home.path() + "/.local\n",
              runSilently(dir, {"APP_PREFIX", "HOME=" + home.path()}).out);
}

TEST(GuidePitfalls, OuterShellRunsCommandSubstitutionsFirst) {
    TempDir dir;
    dir.write("installer", example("outer-substitution"));
    Result silent = runSilently(dir);
    EXPECT_EQ("early: " + realPath(dir.path()) + "\nlate: /tmp\nlate too: /tmp\n", silent.out);

    Result windowed = runWithWindows(dir.path(), {}, "late too: /tmp \n");
    EXPECT_EQ(
        std::string(kNoLicence) + "early: " + realPath(dir.path()) + " \nlate: /tmp \nlate too: /tmp \n",
        windowed.out);
}

TEST(GuidePitfalls, OuterShellTakesOneBackslashOfTwo) {
    BothModes results = runBothWays(example("backslashes"), {}, "one\ttwo \n");
    EXPECT_EQ("Price: $5\nC:\\Games\none\ttwo\n", results.silent.out);
    EXPECT_EQ(std::string(kNoLicence) + "Price: $5 \nC:\\Games \none\ttwo \n", results.windowed.out);
}

TEST(GuidePitfalls, CommentsAreExpandedInSilentMode) {
    TempDir windowed;
    windowed.write("installer", example("comment-expansion"));
    Program program(windowed.path(), {});
    WindowId window = findWindow(program.pid(), "Comments", 30);
    ASSERT_NE(0u, window);
    EXPECT_EQ(0, finishWithOk(program, window));
    EXPECT_FALSE(fileExists(windowed / "surprise"));

    TempDir silent;
    silent.write("installer", example("comment-expansion"));
    EXPECT_EQ(0, runSilently(silent).status);
    EXPECT_TRUE(fileExists(silent / "surprise"));
}

TEST(GuidePitfalls, LineThatIsExactlyEofHandsTheRestToTheOuterShell) {
    BothModes results = runBothWays(example("eof-line"), {}, "");
    for (const Result& result : {results.windowed, results.silent}) {
        EXPECT_EQ(0, result.status);
        EXPECT_EQ(std::string::npos, result.out.find("notes written")) << result.out;
        EXPECT_NE(std::string::npos, result.err.find("[[: not found")) << result.err;
        EXPECT_NE(std::string::npos, result.err.find("EOF: not found")) << result.err;
    }
}

TEST(GuidePitfalls, AnyOtherHereDocumentWordWorks) {
    auto check = [](bool windowed) {
        TempDir dir;
        dir.write("installer", example("eof-line-fixed"));
        Result result = windowed ? runWithWindows(dir.path(), {}, "notes written \n") : runSilently(dir);
        EXPECT_NE(std::string::npos, result.out.find("notes written")) << result.out;
        EXPECT_EQ("", result.err);
        EXPECT_EQ("Installed by Example Setup\n", readFile(dir / "notes.txt"));
    };
    check(true);
    check(false);
}

TEST(GuidePitfalls, ACommandThatReadsStandardInputTakesTheBlocksNextLines) {
    BothModes taken = runBothWays(example("stdin-reader"), {}, "Choosing a language \n");
    EXPECT_EQ(std::string(kNoLicence) + "Choosing a language \n", taken.windowed.out);
    EXPECT_EQ("Choosing a language\n", taken.silent.out);

    BothModes given = runBothWays(example("stdin-reader-fixed"), {}, "Language: Deutsch \n",
                                  [](const TempDir& dir) { dir.write("language.txt", "Deutsch\n"); });
    EXPECT_EQ(std::string(kNoLicence) + "Choosing a language \nLanguage: Deutsch \n", given.windowed.out);
    EXPECT_EQ("Choosing a language\nLanguage: Deutsch\n", given.silent.out);
}

TEST(GuidePitfalls, ScriptEndInsideALineEndsTheBlockThere) {
    BothModes results = runBothWays(example("script-end-in-line"), {}, "Step 1 done \n");
    EXPECT_EQ(std::string(kNoLicence) + "Step 1 done \n", results.windowed.out);
    EXPECT_EQ("Step 1 done\nthe block ends at #script_end\nStep 2 done\n", results.silent.out);
}

TEST(GuidePitfalls, TextBeforeADirectiveIsIgnoredWithAWindowAndRunSilently) {
    TempDir dir;
    dir.write("installer", example("directive-in-line"));
    Program program(dir.path(), {});
    WindowId window = findWindow(program.pid(), "Preparing", 30);
    ASSERT_NE(0u, window);
    EXPECT_TRUE(program.waitForOutput("working \n", 30));
    EXPECT_EQ(0, finishWithOk(program, window));
    EXPECT_EQ(std::string(kNoLicence) + "working \n", program.out());

    EXPECT_EQ("preparing\nworking\n", runSilently(dir).out);
}

TEST(GuidePitfalls, BlocksLoseTheirEmptyLinesOnlyWithAWindow) {
    TempDir windowed;
    windowed.write("installer", example("empty-lines"));
    EXPECT_EQ(0, runWithWindows(windowed.path()).status);
    EXPECT_EQ("Welcome\nEnjoy\n", readFile(windowed / "motd.txt"));

    TempDir silent;
    silent.write("installer", example("empty-lines"));
    EXPECT_EQ(0, runSilently(silent).status);
    EXPECT_EQ("Welcome\n\nEnjoy\n", readFile(silent / "motd.txt"));
}

TEST(GuidePitfalls, EveryBlockIsANewShellWithAWindowButNotSilently) {
    TempDir dir;
    dir.write("installer", example("separate-shells"));
    Result windowed = runWithWindows(dir.path(), {"STAGE"}, "stage  \n");
    EXPECT_EQ(std::string(kNoLicence) + "in " + realPath(dir.path()) + ", stage  \n", windowed.out);
    EXPECT_EQ("in /tmp, stage unpacked\n", runSilently(dir, {"STAGE"}).out);
}

TEST(GuidePitfalls, CdInASubshellLeavesTheNextBlockWhereItWasInBothModes) {
    BothModes results = runBothWays(example("cd-in-subshell"), {}, "readme.txt \n",
                                    [](const TempDir& dir) { dir.write("data/readme.txt", "read me\n"); });
    EXPECT_EQ(std::string(kNoLicence) + "readme.txt \n", results.windowed.out);
    EXPECT_EQ("readme.txt\n", results.silent.out);
}

TEST_F(GuideWindow, LastLineWithoutLineFeedIsNeverReadButTheRunFinishes) {
    std::string script = example("no-final-line-feed");
    ASSERT_EQ('\n', script.back());
    script.pop_back();
    start(script);
    tick();
    EXPECT_FALSE(finished());
    tick();
    EXPECT_TRUE(finished());
    EXPECT_EQ("Copying", title());
}

TEST(GuidePitfalls, SilentModeRunsLinesOutsideBlocks) {
    BothModes results = runBothWays(example("modes"), {}, "inside a block \n");
    EXPECT_EQ(std::string(kNoLicence) + "inside a block \n", results.windowed.out);
    EXPECT_EQ("outside any block\ninside a block\n", results.silent.out);
}

TEST(GuidePitfalls, BufferingProgramHoldsItsLinesUntilItEnds) {
    TempDir dir;
    dir.write("installer", example("buffered"));
    HeldSleeps sleeps;
    Program program(dir.path(), {}, {sleeps.path()});
    ASSERT_TRUE(program.waitForOutput("Starting \n", 30));
    // Each step goes into sed before its sleep, and sed keeps them all.
    for (int step = 1; step <= 3; ++step) {
        ASSERT_TRUE(sleeps.began(step));
        if (step == 3) {
            EXPECT_FALSE(program.waitForOutput("Installing", 1)) << program.out();
        }
        sleeps.wake(step);
    }
    EXPECT_TRUE(program.waitForOutput("Installing step 1 \nInstalling step 2 \nInstalling step 3 \n", 30));
}

TEST(GuidePitfalls, LineBufferedProgramShowsEachLineWhenItComes) {
    TempDir dir;
    dir.write("installer", example("line-buffered"));
    HeldSleeps sleeps;
    Program program(dir.path(), {}, {sleeps.path()});
    ASSERT_TRUE(program.waitForOutput("Starting \n", 30));
    for (int step = 1; step <= 3; ++step) {
        ASSERT_TRUE(sleeps.began(step));
        EXPECT_TRUE(program.waitForOutput("Installing step " + std::to_string(step) + " \n", 30))
            << program.out();
        sleeps.wake(step);
    }
}

// The names of the archive's files, f01 to f40, each followed by `end`.
std::string payloadNames(const std::string& end) {
    std::string names;
    for (int i = 1; i <= 40; ++i)
        names += (i < 10 ? "f0" : "f") + std::to_string(i) + end;
    return names;
}

// An archive of those 40 small files, as payload.tar next to the installer.
void writePayload(const TempDir& dir) {
    std::vector<std::string> command = {"tar", "-cf", dir / "payload.tar", "-C", dir / "files"};
    std::istringstream names(payloadNames("\n"));
    for (std::string name; std::getline(names, name);) {
        dir.write("files/" + name, name);
        command.push_back(name);
    }
    ASSERT_EQ(0, runCommand(command));
}

TEST(GuidePitfalls, ChattyCommandHoldsTheInstallerUpLongAfterItHasEnded) {
    TempDir dir;
    dir.write("installer", example("chatty"));
    writePayload(dir);
    Program program(dir.path(), {});
    ASSERT_TRUE(waitUntil([&] { return fileExists(dir / "unpacked/f40"); }, 30));
    // tar is done; its lines are still to be shown one at a time.
    EXPECT_EQ(std::string::npos, program.out().find("f40")) << program.out();
    WindowId window = findWindow(program.pid(), "", 10);
    ASSERT_NE(0u, window);
    EXPECT_EQ(0, finishWithOk(program, window));
    EXPECT_EQ(kNoLicence + payloadNames(" \n"), program.out());
}

TEST(GuidePitfalls, ChattyCommandInABlockingBlockWritesToTheConsole) {
    TempDir dir;
    dir.write("installer", example("chatty-blocking"));
    writePayload(dir);
    Result result = runWithWindows(dir.path());
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(kNoLicence + payloadNames("\n"), result.out);
    EXPECT_EQ("f40", readFile(dir / "unpacked/f40"));
}

TEST(GuidePitfalls, TrimmedChattyCommandShowsOnlyItsLastLine) {
    TempDir dir;
    dir.write("installer", example("chatty-trimmed"));
    writePayload(dir);
    Result result = runWithWindows(dir.path(), {}, "f40 \n");
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(std::string(kNoLicence) + "f40 \n", result.out);
    EXPECT_EQ("f01", readFile(dir / "unpacked/f01"));
}

TEST(GuidePitfalls, SummaryLineSaysWhatAChattyCommandDid) {
    TempDir dir;
    dir.write("installer", example("chatty-summary"));
    writePayload(dir);
    Result result = runWithWindows(dir.path(), {}, "Unpacked 40 files \n");
    EXPECT_EQ(std::string(kNoLicence) + "Unpacked 40 files \n", result.out);
    EXPECT_EQ("f40", readFile(dir / "unpacked/f40"));
}

TEST_F(GuideWindow, LongLineIsCutAtTheWindowsEdgeAndTheWindowKeepsItsWidth) {
    start(example("long-line"));
    tick();
    tick();
    auto textWidth = [this] {
        int width = 0;
        pango_layout_get_pixel_size(gtk_label_get_layout(GTK_LABEL(record->label)), &width, nullptr);
        return width;
    };
    ASSERT_TRUE(
        runUntil([this] { return label() == "Installing /usr/share/doc/example/changelog.gz "; }, 20));
    GtkRequisition asked;
    gtk_widget_size_request(record->window, &asked);
    EXPECT_LE(asked.width, 300);
    EXPECT_GT(textWidth(), 300);
    ASSERT_TRUE(runUntil([this] { return label() == "Installing changelog.gz "; }, 20));
    // Inside the window's border of 10 pixels on each side.
    EXPECT_LT(textWidth(), 300 - 2 * 10);
}

TEST_F(GuideWindow, BlockAtTheVeryEndHoldsOkBackUntilItHasEnded) {
    start(example("block-at-end"));
    tick();
    tick();
    EXPECT_EQ(1, record->running);
    ASSERT_TRUE(runUntil([this] { return label() == "installed "; }, 20));
    tick();
    EXPECT_FALSE(finished());
    ASSERT_TRUE(runUntil([this] { return record->running == 0; }, 20));
    EXPECT_FALSE(finished());
    tick();
    EXPECT_TRUE(finished());
    EXPECT_DOUBLE_EQ(1.0, barFraction());
}

TEST_F(GuideWindow, ReadsOneLineEveryFiftyMilliseconds) {
    start("#text=Step 1\n#text=Step 2\n");
    EXPECT_EQ(50, firingInterval(record->timer, 10));
    EXPECT_EQ("Step 1", barText());
}

}  // namespace
