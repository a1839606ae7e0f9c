// Helpers for the tests: scratch directories, the built program run as a user would run it,
// its windows on the test's own display, the licence dialog's parts, and GLib sources fired by
// hand.
#pragma once

#include <glib.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

typedef struct _GtkWidget GtkWidget;

// A fresh directory, removed with everything in it at the end of the scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // Writes bytes to a file below the directory, creating the folders on the way.
    void write(const std::string& name, const std::string& bytes, mode_t mode = 0644) const;

private:
    std::string path_;
};

// Makes a directory the working directory while the object lives.
class InDirectory {
public:
    explicit InDirectory(const std::string& path);
    ~InDirectory();
    InDirectory(const InDirectory&) = delete;
    InDirectory& operator=(const InDirectory&) = delete;

private:
    std::string old_;
};

// How much slower than natively the program under test runs: $OSTREL_TIME_SCALE (at least 1,
// e.g. under valgrind), times 6 under an emulator. Every wait below is stretched by it.
double timeScale();
// Seconds on a monotonic clock.
double now();
// Sleeps without handling any event.
void pause(double seconds);
// Checks `condition` until it holds, for up to `seconds` times timeScale(); whether it held.
bool waitUntil(const std::function<bool()>& condition, double seconds);

std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
// How often `part` occurs in `text`, not overlapping.
size_t occurrences(const std::string& text, const std::string& part);

// The words of a command started in place of the built program, e.g. one that starts it
// somewhere else: no emulator or wrapper is put before them.
struct Command {
    std::vector<std::string> words;
};
// The built ostrel-check with these arguments, under the emulator for a foreign architecture.
Command checkerCommand(const std::vector<std::string>& arguments);
// The built Ostrel with these arguments as Program starts it (wrapper and emulator included),
// for a command that starts it in turn, e.g. as another user.
Command programCommand(const std::vector<std::string>& arguments);

// The built Ostrel (under the emulator for a foreign architecture, and under the words of
// $OSTREL_WRAPPER, e.g. valgrind, when set), started in a directory, in a process group of its
// own, with standard input from /dev/null and standard output and error going to files.
// Environment entries are "NAME=value" to set and "NAME" to remove. A sanitizer or valgrind
// report on its standard error fails the test.
class Program {
public:
    Program(const std::string& directory, const std::vector<std::string>& arguments,
            const std::vector<std::string>& environment = {});
    // Starts the command instead, with the same standard input, output and error.
    Program(const Command& command, const std::string& directory,
            const std::vector<std::string>& environment = {});
    ~Program();  // kills the program and everything it started that still runs
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    pid_t pid() const { return pid_; }
    std::string out() const;  // standard output so far
    std::string err() const;  // standard error so far
    bool waitForOutput(const std::string& text, double seconds) const;
    bool running();
    // Waits for the end; the exit status, or -1 when it still ran after `seconds` (then it is
    // killed).
    int wait(double seconds);

private:
    void start(const std::vector<std::string>& words, const std::string& directory,
               const std::vector<std::string>& environment);

    TempDir files_;
    pid_t pid_ = -1;
    int status_ = -1;
};

struct Result {
    int status;
    std::string out;
    std::string err;
};
Result runProgram(const std::string& directory, const std::vector<std::string>& arguments,
                  const std::vector<std::string>& environment = {}, double seconds = 60);

// Runs a command from the PATH and waits; its exit status.
int runCommand(const std::vector<std::string>& argv);
// Runs a command from the PATH and waits; what it wrote to standard output.
std::string commandOutput(const std::vector<std::string>& argv);

// Sends this process's standard output (descriptor 1) to a file while the object lives, so
// that what the code under test prints can be checked without the test framework's output.
// Failures meanwhile also go to standard error, once reportFailuresWhileCapturing() is set up.
void reportFailuresWhileCapturing();
class CapturedStdout {
public:
    CapturedStdout();
    ~CapturedStdout();  // flushes and puts the old standard output back
    CapturedStdout(const CapturedStdout&) = delete;
    CapturedStdout& operator=(const CapturedStdout&) = delete;

    std::string text() const;  // everything printed so far, flushed first

private:
    TempDir files_;
    int saved_ = -1;
};

// The test's display and its windows, as an X client sees them. A window that has gone is an
// answer (no title, not mapped, a failed click), never an error.
using WindowId = unsigned long;
struct Geometry {
    int x, y, width, height;
};
// Starts an Xvfb of this process's own and the toolkit on it, or, with $OSTREL_NO_DISPLAY,
// makes sure that nothing can reach a display.
void prepareDisplay(int* argc, char*** argv);
// A mapped top-level window of the process whose title is `title` (any title when empty);
// 0 when none appeared within `seconds`.
WindowId findWindow(pid_t pid, const std::string& title, double seconds);
// The same for a window of the process or of one it started, directly or not (a .run archive
// starts Ostrel as its child); that window's process in *owner, when owner is not null.
WindowId findWindowBelow(pid_t ancestor, const std::string& title, double seconds, pid_t* owner = nullptr);
std::string windowTitle(WindowId window);
Geometry windowGeometry(WindowId window);
bool windowMapped(WindowId window);
// A property of the window as xprop prints it, e.g. "_NET_WM_STATE".
std::string windowProperty(WindowId window, const std::string& name);
// A left click at a point inside the window, as the pointer makes it; false when it is gone.
bool clickAt(WindowId window, int x, int y);
// Focuses the window and presses a key, e.g. "Escape" or "Up"; false when it is gone.
bool pressKey(WindowId window, const std::string& key);
// Asks the window to close as a window manager's close button does (WM_DELETE_WINDOW).
void requestClose(WindowId window);
// Sends the window `count` key presses of a key it has no use for, as fast as the X server
// takes them: a backlog that takes the program a while to work through.
void floodWithEvents(WindowId window, int count);
// Writes a PNG of the window; true on success.
bool screenshot(WindowId window, const std::string& path);
// The colour of one pixel of the window, as "#rrggbb".
std::string pixelColour(WindowId window, int x, int y);

// Whether the program under test shows its windows with GTK 3 (OSTREL_TOOLKIT=gtk3), whose
// widgets are drawn in other places and colours than GTK+ 2's.
bool gtk3Windows();

// The finished progress window's "OK" button is drawn.
bool okShown(WindowId progress);
// Waits for "OK" in the progress window and clicks it until the program ends; its exit status,
// or -1 when the button never came or clicking did not end the program.
int finishWithOk(Program& program, WindowId progress);
// Clicks "Accept" in the licence dialog until it has gone; whether it went.
bool acceptLicence(WindowId dialog);
// Runs the installer in `directory` with its windows: accepts the licence when there is one
// (after stepping the chooser up to the licence named `licence`, when given), waits for `last` on
// the output when given (clicking "OK" early would cut short a block that still runs), then
// clicks "OK".
Result runWithWindows(const std::string& directory, const std::vector<std::string>& environment = {},
                      const std::string& last = "", const std::string& licence = "");

// The licence dialog built in this process: its widgets, its entries and what it shows.
struct LicenceParts {
    GtkWidget* chooser = nullptr;
    GtkWidget* scrolled = nullptr;
    GtkWidget* textView = nullptr;
    GtkWidget* button = nullptr;
};
LicenceParts licenceParts(GtkWidget* dialog);
std::vector<std::string> entries(GtkWidget* chooser);
std::string activeEntry(GtkWidget* chooser);
std::string shownText(GtkWidget* textView);

// Runs the callback of a registered GLib source once, as the main loop would, and removes
// the source when the callback asks to stop. Returns the callback's result.
gboolean fireSource(guint id);
// Whether a source with this id is still registered.
bool sourceExists(guint id);
// Runs the main loop until the timeout source `id` has fired once and asked to be called
// again; how many milliseconds after that iteration's clock it then comes due: its interval,
// exactly. -1 when it stopped instead, or did not fire within `seconds`.
int firingInterval(guint id, double seconds);
// Handles the toolkit's pending events without waiting.
void processEvents();
// Runs the toolkit's main loop until a handler quits it; false when none did within `seconds`
// (then the loop is quit all the same).
bool runMainLoop(double seconds);
