// ShellCheck run on the text that bash gets for each block, its findings (its json1 format)
// moved to the script's lines.
#include <json-glib/json-glib.h>
#include <string.h>

#include <algorithm>
#include <iterator>

#include "check/check.h"

namespace {

// Findings that say nothing about the block as Ostrel runs it. SC1090 and SC1091: sourced
// files cannot be followed from a block checked on its own. SC1017: the carriage returns of
// CR LF line ends, reported once for the whole file instead of on every line. (SC2148, no
// shebang, never comes up: the shell is named with -s bash.)
const gint64 kNoise[] = {1090, 1091, 1017};

Helper m_shellcheck = {"shellcheck", nullptr, false, 0};

bool noise(gint64 code) {
    return std::any_of(std::begin(kNoise), std::end(kNoise), [code](gint64 quiet) { return quiet == code; });
}

gint64 numberAt(JsonObject* node, const char* name) {
    JsonNode* member = json_object_get_member(node, name);
    return member && JSON_NODE_HOLDS_VALUE(member) && json_node_get_value_type(member) == G_TYPE_INT64
               ? json_node_get_int(member)
               : 0;
}

// {"comments": [{"line": 2, "level": "warning", "code": 2086, "message": "…"}, …]}; error and
// warning as they are, info and style as notes.
void reportOutput(const Script& script, const Block& block, const ShellView& view, const GString* output) {
    JsonParser* parser = json_parser_new();
    if (!json_parser_load_from_data(parser, output->str, static_cast<gssize>(output->len), nullptr)) {
        report(script.path, block.open, Severity::Note, "shellcheck could not check this block");
        g_object_unref(parser);
        return;
    }
    JsonArray* comments = arrayAt(treeRoot(parser), "comments");
    for (guint i = 0; i < lengthOf(comments); ++i) {
        JsonObject* comment = elementAt(comments, i);
        const char* level = stringAt(comment, "level");
        const char* message = stringAt(comment, "message");
        gint64 code = numberAt(comment, "code");
        gint64 line = numberAt(comment, "line");
        if (!level || !message || line < 1 || noise(code))
            continue;
        Severity severity = strcmp(level, "error") == 0     ? Severity::Error
                            : strcmp(level, "warning") == 0 ? Severity::Warning
                                                            : Severity::Note;
        report(script.path, scriptLineOf(view, line), severity, "ShellCheck: %s [SC%" G_GINT64_FORMAT "]",
               message, code);
    }
    g_object_unref(parser);
}

}  // namespace

void checkWithShellCheck(const Script& script, const Block& block, const ShellView& view) {
    const char* program = helperPath(&m_shellcheck);
    if (!program) {
        if (firstTimeFor(&m_shellcheck, script))
            report(script.path, block.open, Severity::Note,
                   "shellcheck is not installed: the shell text of the blocks was not checked; install "
                   "the package `shellcheck`");
        return;
    }
    // "-": the text comes on standard input.
    char* argv[] = {const_cast<char*>(program),
                    const_cast<char*>("-s"),
                    const_cast<char*>("bash"),
                    const_cast<char*>("-f"),
                    const_cast<char*>("json1"),
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
        reportOutput(script, block, view, ran.out);
    releaseRan(&ran);
}
