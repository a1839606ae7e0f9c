// ostrel-check: tells an installer's author, before shipping, how its control script and
// files will misbehave under Ostrel.
#include <glib-object.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include "buffers/owned.h"
#include "check/check.h"

namespace {

const char kUsage[] =
    "Usage: ostrel-check [DIR]\n"
    "       ostrel-check -f FILE\n"
    "Checks the Ostrel installer in DIR (default: the current directory): its control script\n"
    "`installer`, the licences in `eula/`, the icon `korvalen-48x48.png` and `Ostrel`; or, with\n"
    "-f, the control script FILE alone. Findings are printed as PATH:LINE: error|warning|note:.\n"
    "Exit status: 0 without errors and warnings, 1 with one, 2 when the script cannot be read.\n";

}  // namespace

int main(int argc, char** argv) {
    // A helper that stops reading a block early must not end the checker.
    signal(SIGPIPE, SIG_IGN);
    // GLib before 2.36 needs this before the JSON parser's objects can be made.
    g_type_init();
    const char* file = nullptr;
    const char* directory = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
            fputs(kUsage, stdout);
            return 0;
        }
        if (strcmp(argv[i], "-f") == 0 && i + 1 < argc && !file && !directory) {
            file = argv[++i];
        } else if (argv[i][0] != '-' && !file && !directory) {
            directory = argv[i];
        } else {
            fputs(kUsage, stderr);
            return 2;
        }
    }
    if (file) {
        bool read = checkScript(file, file);
        printReports();
        return read ? anyFailure() : 2;
    }

    GCharPtr shown(g_strdup(directory ? directory : "."));
    // "installer" for the current directory, "DIR/installer" for another.
    size_t length = strlen(shown.get());
    while (length > 1 && shown.get()[length - 1] == '/')
        shown.get()[--length] = '\0';
    if (strcmp(shown.get(), ".") == 0)
        shown.get()[0] = '\0';
    const char* where = directory ? directory : ".";
    GCharPtr script(g_build_filename(where, "installer", nullptr));
    GCharPtr shownScript(*shown ? g_strconcat(shown.get(), "/installer", nullptr) : g_strdup("installer"));
    bool read = checkScript(script.get(), shownScript.get());
    checkLicences(where, shown.get());
    checkIcon(where, shown.get());
    checkProgram(where, shown.get());
    printReports();
    return read ? anyFailure() : 2;
}
