// Helpers for the tests: files, processes, the test's own X display and GLib sources.
#include "support/support.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "buffers/owned.h"
#include "toolkit/toolkit.h"

// Xlib's macros (None, Bool, Status) would clash with the test framework: include it last.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace {

std::vector<char*> argvOf(const std::vector<std::string>& words) {
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (const std::string& word : words)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    return argv;
}

int statusOf(int raw) {
    if (WIFEXITED(raw))
        return WEXITSTATUS(raw);
    return 128 + WTERMSIG(raw);
}

// In the child: a process group of its own, so that it can be ended with all it started, and
// an end of its own should this test process die first.
void ownGroup(gpointer signal) {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, GPOINTER_TO_INT(signal));
}

// Starts argv in directory with the given descriptors (-1: this process's own); the child's
// pid, or -1. With `group`, the child leads a process group of its own.
pid_t spawn(const std::vector<std::string>& words, const std::string& directory, char** environment, int in,
            int out, int err, bool group = false, bool keepDescriptors = false) {
    std::vector<char*> argv = argvOf(words);
    GPid pid = -1;
    GError* error = nullptr;
    auto flags = static_cast<GSpawnFlags>(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_SEARCH_PATH |
                                          (keepDescriptors ? G_SPAWN_LEAVE_DESCRIPTORS_OPEN : 0));
    if (!g_spawn_async_with_fds(directory.empty() ? nullptr : directory.c_str(), argv.data(), environment,
                                flags, group ? ownGroup : nullptr, GINT_TO_POINTER(SIGKILL), &pid, in, out,
                                err, &error)) {
        ADD_FAILURE() << "cannot start " << words[0] << ": " << error->message;
        g_error_free(error);
        return -1;
    }
    return pid;
}

int waitFor(pid_t pid) {
    int raw = 0;
    while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    return statusOf(raw);
}

std::string capture(const std::vector<std::string>& words) {
    TempDir scratch;
    std::string path = scratch / "out";
    int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = spawn(words, "", nullptr, -1, out, -1);
    close(out);
    if (pid < 0)
        return "";
    waitFor(pid);
    return readFile(path);
}

// What runs the program under test, e.g. valgrind: the words of $OSTREL_WRAPPER.
std::vector<std::string> wrapperWords() {
    std::vector<std::string> words;
    const char* wrapper = getenv("OSTREL_WRAPPER");
    char** parsed = nullptr;
    if (wrapper && *wrapper && g_shell_parse_argv(wrapper, nullptr, &parsed, nullptr)) {
        for (char** word = parsed; *word; ++word)
            words.emplace_back(*word);
        g_strfreev(parsed);
    }
    return words;
}

// A sanitizer or valgrind report on the program's standard error fails the test, whatever
// exit status the test expects.
void checkForMemoryErrors(const std::string& err) {
    static const char* const markers[] = {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                                          "runtime error:"};
    for (const char* marker : markers) {
        if (err.find(marker) != std::string::npos)
            ADD_FAILURE() << "the program reported a memory error:\n" << err;
    }
    // valgrind --quiet writes nothing but its findings, each line starting "==<pid>== ".
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        size_t mark = line.find("== ", 2);
        if (line.compare(0, 2, "==") == 0 && mark != std::string::npos && mark > 2 &&
            line.find_first_not_of("0123456789", 2) == mark) {
            ADD_FAILURE() << "valgrind found errors in the program:\n" << err;
            break;
        }
    }
}

// --- The display -------------------------------------------------------------------------

Display* connection = nullptr;
XErrorHandler toolkitErrorHandler = nullptr;

// Windows of the program under test vanish between two requests about them: an error on our
// own connection means "gone", while the toolkit's connection keeps its own handler.
int errorHandler(Display* display, XErrorEvent* error) {
    if (display == connection)
        return 0;
    return toolkitErrorHandler ? toolkitErrorHandler(display, error) : 0;
}

Display* display() {
    if (!connection) {
        fprintf(stderr, "this test needs a display: it must not be labelled as running without one\n");
        abort();
    }
    return connection;
}

Atom atom(const char* name) {
    return XInternAtom(display(), name, False);
}

// The value of a CARDINAL property, or -1.
long cardinal(Window window, const char* name) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    long value = -1;
    if (XGetWindowProperty(display(), window, atom(name), 0, 1, False, XA_CARDINAL, &type, &format, &count,
                           &after, &data) == Success &&
        data && count == 1)
        value = *reinterpret_cast<long*>(data);
    if (data)
        XFree(data);
    return value;
}

pid_t xvfb = -1;

void stopXvfb() {
    if (xvfb > 0) {
        kill(xvfb, SIGTERM);
        waitFor(xvfb);
    }
}

void startXvfb() {
    int fds[2];
    if (pipe(fds) != 0)
        abort();
    // Ended with this process even when it is killed, so that no server outlives its test.
    xvfb = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24", "-nolisten",
                  "tcp", "-noreset"},
                 "", nullptr, -1, -1, -1, true, true);
    close(fds[1]);
    char number[16] = {0};
    ssize_t got = read(fds[0], number, sizeof number - 1);
    close(fds[0]);
    if (xvfb < 0 || got <= 0) {
        fprintf(stderr, "Xvfb could not be started: is it installed (package xvfb)?\n");
        abort();
    }
    atexit(stopXvfb);
    std::string name = ":" + std::string(number, strcspn(number, "\n"));
    setenv("DISPLAY", name.c_str(), 1);
}

// Where the window's point (x, y) is on the screen; false when the window is gone.
bool onScreen(WindowId window, int x, int y, int* rootX, int* rootY) {
    Window child;
    return XTranslateCoordinates(display(), window, DefaultRootWindow(display()), x, y, rootX, rootY, &child);
}

}  // namespace

// --- Files and time ------------------------------------------------------------------------

TempDir::TempDir() {
    char pattern[] = "/tmp/ostrel-test-XXXXXX";
    // Every test writes its files here: without it nothing can be tested.
    if (!mkdtemp(pattern)) {
        fprintf(stderr, "cannot make a scratch directory %s: %s\n", pattern, strerror(errno));
        abort();
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    runCommand({"chmod", "-R", "u+rwx", path_});
    runCommand({"rm", "-rf", path_});
}

void TempDir::write(const std::string& name, const std::string& bytes, mode_t mode) const {
    std::string path = *this / name;
    std::string folder = path.substr(0, path.rfind('/'));
    g_mkdir_with_parents(folder.c_str(), 0755);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
    file.close();
    chmod(path.c_str(), mode);
}

InDirectory::InDirectory(const std::string& path) {
    GCharPtr old(g_get_current_dir());
    old_ = old.get();
    EXPECT_EQ(0, chdir(path.c_str())) << path;
}

InDirectory::~InDirectory() {
    EXPECT_EQ(0, chdir(old_.c_str()));
}

double timeScale() {
    const char* text = getenv("OSTREL_TIME_SCALE");
    double scale = text ? g_ascii_strtod(text, nullptr) : 1.0;
    if (scale < 1.0)
        scale = 1.0;
    return strlen(OSTREL_EMULATOR) != 0 ? 6 * scale : scale;
}

double now() {
    struct timespec time;
    clock_gettime(CLOCK_MONOTONIC, &time);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

void pause(double seconds) {
    g_usleep(static_cast<gulong>(seconds * 1e6));
}

bool waitUntil(const std::function<bool()>& condition, double seconds) {
    double end = now() + seconds * timeScale();
    while (!condition()) {
        if (now() > end)
            return false;
        pause(0.02);
    }
    return true;
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool fileExists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

size_t occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

// --- Processes -----------------------------------------------------------------------------

Program::Program(const std::string& directory, const std::vector<std::string>& arguments,
                 const std::vector<std::string>& environment) {
    start(programCommand(arguments).words, directory, environment);
}

Command programCommand(const std::vector<std::string>& arguments) {
    Command command{wrapperWords()};
    if (strlen(OSTREL_EMULATOR) != 0)
        command.words.emplace_back(OSTREL_EMULATOR);
    command.words.emplace_back(OSTREL_PROGRAM);
    command.words.insert(command.words.end(), arguments.begin(), arguments.end());
    return command;
}

Command checkerCommand(const std::vector<std::string>& arguments) {
    Command command;
    if (strlen(OSTREL_EMULATOR) != 0)
        command.words.emplace_back(OSTREL_EMULATOR);
    command.words.emplace_back(OSTREL_CHECK);
    command.words.insert(command.words.end(), arguments.begin(), arguments.end());
    return command;
}

Program::Program(const Command& command, const std::string& directory,
                 const std::vector<std::string>& environment) {
    start(command.words, directory, environment);
}

void Program::start(const std::vector<std::string>& words, const std::string& directory,
                    const std::vector<std::string>& environment) {
    char** env = g_get_environ();
    for (const std::string& entry : environment) {
        size_t equals = entry.find('=');
        if (equals == std::string::npos)
            env = g_environ_unsetenv(env, entry.c_str());
        else
            env = g_environ_setenv(env, entry.substr(0, equals).c_str(), entry.c_str() + equals + 1, TRUE);
    }
    int in = open("/dev/null", O_RDONLY);
    int out = open((files_ / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open((files_ / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_ = spawn(words, directory, env, in, out, err, true);
    close(in);
    close(out);
    close(err);
    g_strfreev(env);
}

Program::~Program() {
    if (pid_ < 0)
        return;
    // The shells and whatever they left behind are in the program's group.
    kill(-pid_, SIGKILL);
    if (status_ < 0)
        waitFor(pid_);
}

std::string Program::out() const {
    return readFile(files_ / "stdout");
}

std::string Program::err() const {
    return readFile(files_ / "stderr");
}

bool Program::waitForOutput(const std::string& text, double seconds) const {
    return waitUntil([&] { return out().find(text) != std::string::npos; }, seconds);
}

bool Program::running() {
    if (pid_ < 0 || status_ >= 0)
        return false;
    int raw = 0;
    if (waitpid(pid_, &raw, WNOHANG) == pid_) {
        status_ = statusOf(raw);
        checkForMemoryErrors(err());
        return false;
    }
    return true;
}

int Program::wait(double seconds) {
    if (waitUntil([this] { return !running(); }, seconds))
        return status_;
    kill(-pid_, SIGKILL);
    status_ = waitFor(pid_);
    return -1;
}

Result runProgram(const std::string& directory, const std::vector<std::string>& arguments,
                  const std::vector<std::string>& environment, double seconds) {
    Program program(directory, arguments, environment);
    int status = program.wait(seconds);
    return {status, program.out(), program.err()};
}

int runCommand(const std::vector<std::string>& argv) {
    pid_t pid = spawn(argv, "", nullptr, -1, -1, -1);
    return pid < 0 ? -1 : waitFor(pid);
}

std::string commandOutput(const std::vector<std::string>& argv) {
    return capture(argv);
}

namespace {

int capturing = 0;

// The test framework reports on standard output: while a test captures it, failures would go
// unseen, so they are written to standard error as well.
class FailuresWhileCapturing : public testing::EmptyTestEventListener {
    void OnTestPartResult(const testing::TestPartResult& result) override {
        if (capturing && result.failed())
            fprintf(stderr, "%s:%d: Failure (while standard output was captured)\n%s\n",
                    result.file_name() ? result.file_name() : "?", result.line_number(), result.message());
    }
};

}  // namespace

void reportFailuresWhileCapturing() {
    testing::UnitTest::GetInstance()->listeners().Append(new FailuresWhileCapturing);
}

CapturedStdout::CapturedStdout() {
    ++capturing;
    fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    int file = open((files_ / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(file, STDOUT_FILENO);
    close(file);
}

CapturedStdout::~CapturedStdout() {
    fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    --capturing;
}

std::string CapturedStdout::text() const {
    fflush(stdout);
    return readFile(files_ / "stdout");
}

// --- The display and its windows -----------------------------------------------------------

void prepareDisplay(int* argc, char*** argv) {
    if (getenv("OSTREL_NO_DISPLAY")) {
        unsetenv("DISPLAY");
        return;
    }
    startXvfb();
    if (!openToolkit()) {
        fprintf(stderr, "the tests need GTK+ 2 and GTK 3 (packages libgtk2.0-0 and libgtk-3-0): %s",
                noToolkitMessage());
        abort();
    }
    gtk_init(argc, argv);
    connection = XOpenDisplay(nullptr);
    if (!connection) {
        fprintf(stderr, "cannot open the test display %s\n", getenv("DISPLAY"));
        abort();
    }
    toolkitErrorHandler = XSetErrorHandler(errorHandler);
}

namespace {

// The parent of a process, 0 when it has gone.
pid_t parentOf(pid_t pid) {
    std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    size_t end = stat.rfind(')');
    pid_t parent = 0;
    if (end != std::string::npos)
        sscanf(stat.c_str() + end + 1, " %*c %d", &parent);
    return parent;
}

// The first mapped top-level window whose process `ours` accepts, with the title when one is
// given; 0 when none appeared within `seconds`.
WindowId findWindowOf(const std::function<bool(pid_t)>& ours, const std::string& title, double seconds,
                      pid_t* owner) {
    WindowId found = 0;
    waitUntil(
        [&] {
            Window root, parent, *children = nullptr;
            unsigned int count = 0;
            XSync(display(), False);
            XQueryTree(display(), DefaultRootWindow(display()), &root, &parent, &children, &count);
            for (unsigned int i = 0; i < count && !found; ++i) {
                auto pid = static_cast<pid_t>(cardinal(children[i], "_NET_WM_PID"));
                if (pid > 0 && ours(pid) && windowMapped(children[i]) &&
                    (title.empty() || windowTitle(children[i]) == title)) {
                    found = children[i];
                    if (owner)
                        *owner = pid;
                }
            }
            if (children)
                XFree(children);
            return found != 0;
        },
        seconds);
    return found;
}

}  // namespace

WindowId findWindow(pid_t pid, const std::string& title, double seconds) {
    return findWindowOf([pid](pid_t owner) { return owner == pid; }, title, seconds, nullptr);
}

WindowId findWindowBelow(pid_t ancestor, const std::string& title, double seconds, pid_t* owner) {
    return findWindowOf(
        [ancestor](pid_t pid) {
            for (; pid > 1; pid = parentOf(pid))
                if (pid == ancestor)
                    return true;
            return false;
        },
        title, seconds, owner);
}

std::string windowTitle(WindowId window) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display(), window, atom("_NET_WM_NAME"), 0, 1 << 16, False, atom("UTF8_STRING"),
                           &type, &format, &count, &after, &data) == Success &&
        data)
        title.assign(reinterpret_cast<char*>(data), count);
    if (data)
        XFree(data);
    return title;
}

Geometry windowGeometry(WindowId window) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display(), window, &attributes))
        return {0, 0, 0, 0};
    return {attributes.x, attributes.y, attributes.width, attributes.height};
}

bool windowMapped(WindowId window) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(display(), window, &attributes) && attributes.map_state == IsViewable;
}

std::string windowProperty(WindowId window, const std::string& name) {
    return capture({"xprop", "-id", std::to_string(window), name});
}

bool clickAt(WindowId window, int x, int y) {
    int rootX, rootY;
    if (!onScreen(window, x, y, &rootX, &rootY))
        return false;
    XTestFakeMotionEvent(display(), -1, rootX, rootY, CurrentTime);
    XTestFakeButtonEvent(display(), 1, True, CurrentTime);
    XTestFakeButtonEvent(display(), 1, False, CurrentTime);
    XSync(display(), False);
    return true;
}

bool pressKey(WindowId window, const std::string& key) {
    KeyCode code = XKeysymToKeycode(display(), XStringToKeysym(key.c_str()));
    if (code == 0) {
        ADD_FAILURE() << "no key " << key;
        return false;
    }
    XSetInputFocus(display(), window, RevertToParent, CurrentTime);
    XSync(display(), False);
    Window focus;
    int revert;
    XGetInputFocus(display(), &focus, &revert);
    if (focus != window)
        return false;
    XTestFakeKeyEvent(display(), code, True, CurrentTime);
    XTestFakeKeyEvent(display(), code, False, CurrentTime);
    XSync(display(), False);
    return true;
}

void requestClose(WindowId window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = atom("WM_PROTOCOLS");
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(atom("WM_DELETE_WINDOW"));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display(), window, False, NoEventMask, &event);
    // Once this returns the server has queued the close for the program.
    XSync(display(), False);
}

void floodWithEvents(WindowId window, int count) {
    KeyCode code = XKeysymToKeycode(display(), XK_x);
    XSetInputFocus(display(), window, RevertToParent, CurrentTime);
    for (int i = 0; i < count; ++i) {
        XTestFakeKeyEvent(display(), code, True, CurrentTime);
        XTestFakeKeyEvent(display(), code, False, CurrentTime);
    }
    XSync(display(), False);
}

bool screenshot(WindowId window, const std::string& path) {
    return runCommand({"import", "-window", std::to_string(window), path}) == 0;
}

std::string pixelColour(WindowId window, int x, int y) {
    XImage* image = XGetImage(display(), window, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image)
        return "";
    unsigned long pixel = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    char text[8];
    snprintf(text, sizeof text, "#%06lx", pixel & 0xffffff);
    return text;
}

// --- The installer's windows ---------------------------------------------------------------

bool gtk3Windows() {
    const char* toolkit = getenv("OSTREL_TOOLKIT");
    return toolkit && strcmp(toolkit, "gtk3") == 0;
}

bool okShown(WindowId progress) {
    // The button's right border stands where, without it, the window is plain background.
    Geometry window = windowGeometry(progress);
    return window.width > 0 && pixelColour(progress, window.width - 11, window.height - 20) !=
                                   pixelColour(progress, window.width - 4, window.height - 20);
}

int finishWithOk(Program& program, WindowId progress) {
    if (!waitUntil([&] { return okShown(progress) || !program.running(); }, 60) || !program.running())
        return -1;
    // A click that comes while the window is busy is lost: click until the program ends.
    waitUntil(
        [&] {
            Geometry window = windowGeometry(progress);
            clickAt(progress, window.width / 2, window.height - 18);
            return waitUntil([&] { return !program.running(); }, 1);
        },
        60);
    return program.wait(1);
}

bool acceptLicence(WindowId dialog) {
    return waitUntil(
        [dialog] {
            Geometry window = windowGeometry(dialog);
            clickAt(dialog, window.width / 2, window.height - 27);
            return waitUntil([dialog] { return !windowMapped(dialog); }, 1);
        },
        60);
}

Result runWithWindows(const std::string& directory, const std::vector<std::string>& environment,
                      const std::string& last, const std::string& licence) {
    Program program(directory, {}, environment);
    if (fileExists(directory + "/eula/English")) {
        WindowId dialog = findWindow(program.pid(), "License Agreement", 30);
        EXPECT_NE(0u, dialog) << "no licence dialog";
        if (!licence.empty()) {
            // The chooser has the focus and starts at English; each step up shows the licence.
            EXPECT_TRUE(program.waitForOutput("Display EULA: English\n", 10)) << program.out();
            bool shown = false;
            for (int step = 0; step < 20 && !shown; ++step) {
                pressKey(dialog, "Up");
                shown = program.waitForOutput("Display EULA: " + licence + "\n", 5);
            }
            EXPECT_TRUE(shown) << program.out();
        }
        EXPECT_TRUE(dialog && acceptLicence(dialog)) << "the licence dialog did not go";
    }
    WindowId window = findWindow(program.pid(), "", 30);
    EXPECT_NE(0u, window) << "no progress window";
    if (!last.empty()) {
        EXPECT_TRUE(program.waitForOutput(last, 60)) << program.out();
    }
    int status = window ? finishWithOk(program, window) : program.wait(5);
    return {status, program.out(), program.err()};
}

// --- The licence dialog in this process ----------------------------------------------------

LicenceParts licenceParts(GtkWidget* dialog) {
    LicenceParts parts;
    GList* children =
        gtk_container_get_children(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(dialog))));
    for (GList* node = children; node; node = node->next) {
        GtkWidget* child = GTK_WIDGET(node->data);
        if (GTK_IS_COMBO_BOX(child))
            parts.chooser = child;
        else if (GTK_IS_SCROLLED_WINDOW(child))
            parts.scrolled = child;
        else if (GTK_IS_BUTTON(child))
            parts.button = child;
    }
    g_list_free(children);
    if (parts.scrolled)
        parts.textView = gtk_bin_get_child(GTK_BIN(parts.scrolled));
    return parts;
}

std::vector<std::string> entries(GtkWidget* chooser) {
    std::vector<std::string> names;
    GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(chooser));
    GtkTreeIter iter;
    for (gboolean more = gtk_tree_model_get_iter_first(model, &iter); more;
         more = gtk_tree_model_iter_next(model, &iter)) {
        gchar* name = nullptr;
        gtk_tree_model_get(model, &iter, 0, &name, -1);
        names.emplace_back(name ? name : "");
        g_free(name);
    }
    return names;
}

std::string activeEntry(GtkWidget* chooser) {
    GCharPtr name(gtk_combo_box_get_active_text(GTK_COMBO_BOX(chooser)));
    return name ? name.get() : "";
}

std::string shownText(GtkWidget* textView) {
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(textView));
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    GCharPtr text(gtk_text_buffer_get_text(buffer, &start, &end, FALSE));
    return text.get();
}

// --- GLib sources --------------------------------------------------------------------------

gboolean fireSource(guint id) {
    GSource* source = g_main_context_find_source_by_id(nullptr, id);
    if (!source) {
        ADD_FAILURE() << "no source with id " << id;
        return FALSE;
    }
    // The callback may remove its own source: keep it alive until we are done with it.
    g_source_ref(source);
    GSourceFunc callback = nullptr;
    gpointer data = nullptr;
    source->callback_funcs->get(source->callback_data, source, &callback, &data);
    gboolean again = callback(data);
    if (!again && !g_source_is_destroyed(source))
        g_source_destroy(source);
    g_source_unref(source);
    return again;
}

bool sourceExists(guint id) {
    return id != 0 && g_main_context_find_source_by_id(nullptr, id) != nullptr;
}

int firingInterval(guint id, double seconds) {
    GSource* source = g_main_context_find_source_by_id(nullptr, id);
    if (!source)
        return -1;
    g_source_ref(source);
    // An idle source of the same priority is dispatched in every iteration the timeout fires in,
    // and reads the clock of that iteration, from which the timeout counts its next due time.
    gint64 clock = 0;
    guint idle = g_idle_add_full(
        g_source_get_priority(source),
        [](gpointer time) -> gboolean {
            *static_cast<gint64*>(time) = g_source_get_time(g_main_current_source());
            return TRUE;
        },
        &clock, nullptr);
    gint64 due = g_source_get_ready_time(source);
    int interval = -1;
    double end = now() + seconds * timeScale();
    while (now() < end && !g_source_is_destroyed(source)) {
        g_main_context_iteration(nullptr, FALSE);
        gint64 next = g_source_get_ready_time(source);
        if (next != due && !g_source_is_destroyed(source)) {
            interval = static_cast<int>((next - clock) / 1000);
            break;
        }
    }
    g_source_remove(idle);
    g_source_unref(source);
    return interval;
}

void processEvents() {
    while (gtk_events_pending())
        gtk_main_iteration_do(FALSE);
}

bool runMainLoop(double seconds) {
    bool timedOut = false;
    guint guard = g_timeout_add(
        static_cast<guint>(seconds * 1000 * timeScale()),
        [](gpointer flag) -> gboolean {
            *static_cast<bool*>(flag) = true;
            gtk_main_quit();
            return FALSE;
        },
        &timedOut);
    gtk_main();
    if (!timedOut)
        g_source_remove(guard);
    return !timedOut;
}
