// A block's bash text parsed by shfmt, whose syntax tree comes as JSON, read with json-glib.
#include <json-glib/json-glib.h>
#include <stdio.h>
#include <string.h>

#include "buffers/owned.h"
#include "check/check.h"

namespace {

Helper m_shfmt = {"shfmt", nullptr, false, 0};
// How the installed shfmt prints a tree that this checker reads, found once per run.
const char* m_jsonFlag = nullptr;
bool m_probed = false;

// The line of a parse error that begins "LINE:COLUMN: " at text, with *rest set to what
// follows; 0 when it begins otherwise.
int placeOf(const char* text, const char** rest) {
    char* end = nullptr;
    gint64 line = g_ascii_strtoll(text, &end, 10);
    if (end == text || *end != ':' || line <= 0 || line > G_MAXINT)
        return 0;
    const char* column = end + 1;
    g_ascii_strtoll(column, &end, 10);
    if (end == column || *end != ':')
        return 0;
    for (++end; g_ascii_isspace(*end); ++end) {
    }
    *rest = end;
    return static_cast<int>(line);
}

// shfmt 3.6 reads "--to-json", older 3.x spell it "-tojson"; either must number the operators
// as the checks read them.
const char* findJsonFlag(const char* shfmt) {
    static const char* const kFlags[] = {"--to-json", "-tojson"};
    const char probe[] = "a | b\n";
    for (const char* flag : kFlags) {
        char* argv[] = {const_cast<char*>(shfmt), const_cast<char*>(flag), nullptr};
        Ran ran;
        bool works =
            runLimited(argv, probe, strlen(probe), helperSeconds(), &ran, nullptr) && ran.status == 0;
        JsonParser* parser = json_parser_new();
        works =
            works &&
            json_parser_load_from_data(parser, ran.out->str, static_cast<gssize>(ran.out->len), nullptr) &&
            knowsOperators(treeRoot(parser));
        g_object_unref(parser);
        releaseRan(&ran);
        if (works)
            return flag;
    }
    return nullptr;
}

}  // namespace

JsonParser* parseBlock(const Script& script, const Block& block, const ShellView& view) {
    const char* shfmt = helperPath(&m_shfmt);
    if (!m_probed) {
        m_jsonFlag = shfmt ? findJsonFlag(shfmt) : nullptr;
        m_probed = true;
    }
    if (!m_jsonFlag) {
        if (firstTimeFor(&m_shfmt, script))
            report(script.path, block.open, Severity::Warning,
                   "%s: the blocks' commands were not checked (standard input, cd, sudo, background "
                   "jobs, output); install the package `shfmt`, which brings the bash parser",
                   shfmt ? "shfmt cannot print a syntax tree" : "shfmt is not installed");
        return nullptr;
    }
    char* argv[] = {const_cast<char*>(shfmt), const_cast<char*>("-ln"), const_cast<char*>("bash"),
                    const_cast<char*>(m_jsonFlag), nullptr};
    double seconds = helperSeconds();
    Ran ran;
    GError* error = nullptr;
    if (!runLimited(argv, view.text->str, view.text->len, seconds, &ran, &error)) {
        report(script.path, block.open, Severity::Note, "the block's commands were not checked: %s",
               error->message);
        g_error_free(error);
        return nullptr;
    }
    JsonParser* parser = nullptr;
    if (ran.timedOut) {
        report(script.path, block.open, Severity::Note,
               "the block's commands were not checked: the bash parser took longer than %g seconds "
               "(OSTREL_CHECK_SECONDS sets the limit)",
               seconds);
    } else if (ran.status != 0 && view.cut) {
        // The outer shell's error on the block says why bash gets broken text.
    } else if (ran.status != 0) {
        // "3:5: reached EOF without matching ( with )", on a line of the view; a file name
        // may come first.
        GCharPtr message(g_strdup(ran.err->str));
        g_strchomp(message.get());
        const char* named = strstr(message.get(), ">:");
        const char* rest = nullptr;
        int viewLine = placeOf(named ? named + 2 : message.get(), &rest);
        bool inView = viewLine > 0 && static_cast<guint>(viewLine) <= view.lines->len;
        int line = inView ? scriptLineOf(view, viewLine) : block.open;
        report(script.path, line, Severity::Note,
               "the block's commands were not checked: the bash parser cannot read it (%s)",
               viewLine > 0 ? rest : message.get());
    } else {
        parser = json_parser_new();
        if (!json_parser_load_from_data(parser, ran.out->str, static_cast<gssize>(ran.out->len), &error)) {
            report(script.path, block.open, Severity::Note,
                   "the block's commands were not checked: the syntax tree cannot be read (%s)",
                   error->message);
            g_error_free(error);
            g_object_unref(parser);
            parser = nullptr;
        }
    }
    releaseRan(&ran);
    return parser;
}
