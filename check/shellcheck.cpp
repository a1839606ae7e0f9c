// ShellCheck run on the text that bash gets for each block, its findings moved to the script.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <iterator>

#include "buffers/owned.h"
#include "check/check.h"

namespace {

// Findings that say nothing about the block as Ostrel runs it. SC1090 and SC1091: sourced
// files cannot be followed from a block checked on its own. SC1017: the carriage returns of
// CR LF line ends, reported once for the whole file instead of on every line. (SC2148, no
// shebang, never comes up: the shell is named with -s bash.)
const char* const kNoise[] = {"SC1090", "SC1091", "SC1017"};

bool noise(const char* message) {
    return std::any_of(std::begin(kNoise), std::end(kNoise), [message](const char* code) {
        GCharPtr tag(g_strdup_printf("[%s]", code));
        return strstr(message, tag.get()) != nullptr;
    });
}

// The findings of shellcheck's gcc format, "FILE:LINE:COLUMN: SEVERITY: MESSAGE [SCnnnn]".
void reportOutput(const Script& script, const ShellView& view, const char* file, const char* output) {
    GCharPtr prefix(g_strconcat(file, ":", nullptr));
    size_t prefixLength = strlen(prefix.get());
    char** lines = g_strsplit(output, "\n", -1);
    for (char** line = lines; *line; ++line) {
        if (strncmp(*line, prefix.get(), prefixLength) != 0)
            continue;
        char* end = nullptr;
        long number = strtol(*line + prefixLength, &end, 10);
        if (number < 1 || *end != ':')
            continue;
        strtol(end + 1, &end, 10);  // the column
        if (*end != ':')
            continue;
        const char* severity = end + 1 + strspn(end + 1, " ");
        const char* colon = strchr(severity, ':');
        if (!colon)
            continue;
        const char* message = colon + 1 + strspn(colon + 1, " ");
        if (noise(message))
            continue;
        int scriptLine = scriptLineOf(view, number);
        Severity level = strncmp(severity, "error:", 6) == 0     ? Severity::Error
                         : strncmp(severity, "warning:", 8) == 0 ? Severity::Warning
                                                                 : Severity::Note;
        report(script.path, scriptLine, level, "ShellCheck: %s", message);
    }
    g_strfreev(lines);
}

}  // namespace

namespace {

// Looked up once: the note that it is missing is given once for the whole script. Plain
// globals, as a function's static would need the C++ runtime for its guard.
char* program = nullptr;
bool lookedUp = false;

}  // namespace

void checkWithShellCheck(const Script& script, const Block& block, const ShellView& view) {
    if (!lookedUp) {
        program = g_find_program_in_path("shellcheck");
        lookedUp = true;
    }
    if (!program) {
        static const Script* noted = nullptr;
        if (noted != &script)
            report(script.path, block.open, Severity::Note,
                   "shellcheck is not installed: the shell text of the blocks was not checked; install "
                   "the package `shellcheck`");
        noted = &script;
        return;
    }
    // "-": the text comes on standard input, and the findings name the file "-".
    char* argv[] = {program,
                    const_cast<char*>("-s"),
                    const_cast<char*>("bash"),
                    const_cast<char*>("-f"),
                    const_cast<char*>("gcc"),
                    const_cast<char*>("-"),
                    nullptr};
    double seconds = helperSeconds();
    Ran ran;
    GError* error = nullptr;
    if (!runLimited(argv, view.text->str, view.text->len, seconds, &ran, &error)) {
        report(script.path, block.open, Severity::Note, "the block was not given to shellcheck: %s",
               error->message);
        g_error_free(error);
        return;
    }
    if (ran.timedOut)
        report(script.path, block.open, Severity::Note,
               "shellcheck did not check this block: it took longer than %g seconds "
               "(OSTREL_CHECK_SECONDS sets the limit)",
               seconds);
    // 0: nothing found, 1: findings; anything else means it could not check the text.
    else if (ran.status != 0 && ran.status != 1)
        report(script.path, block.open, Severity::Note, "shellcheck could not check this block");
    else
        reportOutput(script, view, "-", ran.out->str);
    releaseRan(&ran);
}
