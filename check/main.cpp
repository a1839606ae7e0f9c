// ostrel-check: tells an installer's author, before shipping, how its control script and
// files will misbehave under Ostrel.
#include <errno.h>
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

// Whether some block or stray line follows a block, that is, runs after it in silent mode.
bool runsLater(const Script& script, const Block& block) {
    int end = block.end ? block.end : 0;
    if (end == 0)
        return false;
    for (guint i = static_cast<guint>(end); i < script.lines->len; ++i) {
        const ScriptLine& line = g_array_index(script.lines, ScriptLine, i);
        const char* start = line.text + strspn(line.text, " \t");
        if (line.role == LineRole::BlockOpen ||
            (line.role == LineRole::Outside && *start && *start != '#' && *start != '\r'))
            return true;
    }
    return false;
}

void checkBlocks(const Script& script) {
    guint count = script.blocks->len;
    ShellView* views = g_new0(ShellView, count);
    JsonParser** trees = g_new0(JsonParser*, count);
    GHashTable* assigned = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, nullptr);
    bool namesKnown = true;
    for (guint i = 0; i < count; ++i) {
        const Block& block = g_array_index(script.blocks, Block, i);
        if (block.length == 0)
            continue;
        buildView(block, &views[i]);
        trees[i] = parseBlock(script, block, views[i]);
        if (trees[i])
            collectAssignedNames(views[i], trees[i], assigned);
        namesKnown &= trees[i] != nullptr;
    }
    for (guint i = 0; i < count; ++i) {
        const Block& block = g_array_index(script.blocks, Block, i);
        if (block.length == 0)
            continue;
        checkOuterShell(script, block, namesKnown ? assigned : nullptr);
        if (trees[i]) {
            checkCommands(script, block, views[i], trees[i], runsLater(script, block));
            g_object_unref(trees[i]);
        }
        checkWithShellCheck(script, block, views[i]);
        releaseView(&views[i]);
    }
    g_hash_table_destroy(assigned);
    g_free(trees);
    g_free(views);
}

// Checks one control script; false when it cannot be read.
bool checkScript(const char* path, const char* shown) {
    Script script;
    if (!loadScript(path, shown, &script)) {
        fprintf(stderr, "ostrel-check: cannot read %s: %s\n", shown, g_strerror(errno));
        freeScript(&script);
        return false;
    }
    checkLines(script);
    if (script.size != 0) {
        checkSilentOuterShell(script);
        checkBlocks(script);
    }
    freeScript(&script);
    return true;
}

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
