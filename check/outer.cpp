// The outer /bin/sh's findings: what it expands, runs or stops at in a block before bash reads
// it, and in the whole file as silent mode hands it to /bin/sh.
#include <string.h>

#include "buffers/owned.h"
#include "check/check.h"
#include "shell/shell.h"

namespace {

// The construct with every "$" and "`" escaped for /bin/sh, capped for a message.
char* escaped(const char* text, size_t length) {
    GCharPtr shown(quoted(text, length));
    GString* out = g_string_new(nullptr);
    for (const char* c = shown.get(); *c; ++c) {
        if (*c == '$' || *c == '`')
            g_string_append_c(out, '\\');
        g_string_append_c(out, *c);
    }
    return g_string_free(out, FALSE);
}

void reportBlockFinding(const Script& script, const OuterPiece& found, GHashTable* assigned) {
    const char* path = script.path;
    GCharPtr text(quoted(found.start, found.length));
    GCharPtr fixed(escaped(found.start, found.length));
    switch (found.kind) {
        case Outer::Name:
        case Outer::Braced: {
            size_t skip = found.kind == Outer::Name ? 1 : 2;
            size_t length = 0;
            while (skip + length < found.length &&
                   (g_ascii_isalnum(found.start[skip + length]) || found.start[skip + length] == '_'))
                ++length;
            GCharPtr name(g_strndup(found.start + skip, length));
            if (found.kind == Outer::Name)
                fixed.reset(g_strdup_printf("\\${%s}", name.get()));
            if (!assigned)
                report(path, found.line, Severity::Warning,
                       "/bin/sh replaces `%s` before bash runs the block, with its value in Ostrel's "
                       "environment or with nothing; write `%s` so that bash expands it",
                       text.get(), fixed.get());
            else if (g_hash_table_lookup(assigned, name.get()))
                report(path, found.line, Severity::Warning,
                       "/bin/sh replaces `%s` before bash runs the block, while the script's own `%s` "
                       "is not set yet: it becomes empty; write `%s` so that bash expands it",
                       text.get(), name.get(), fixed.get());
            else
                report(path, found.line, Severity::Warning,
                       "/bin/sh pastes the value of `%s` from Ostrel's environment into the text bash "
                       "reads, where its spaces, quotes and `$` become shell syntax; write `%s` so "
                       "that bash expands it",
                       text.get(), fixed.get());
            break;
        }
        case Outer::Special:
            report(path, found.line, Severity::Warning,
                   "/bin/sh replaces `%s` with its own value before bash runs the block; write `%s`",
                   text.get(), fixed.get());
            break;
        case Outer::Command:
        case Outer::Backquote:
            report(path, found.line, Severity::Warning,
                   "/bin/sh runs `%s` in Ostrel's directory before any line of the block, and bash "
                   "reads its output as text; write `%s` so that bash runs it in its place",
                   text.get(), fixed.get());
            break;
        case Outer::Arithmetic:
            report(path, found.line, Severity::Warning,
                   "/bin/sh computes `%s` before bash runs the block, without the block's variables; "
                   "write `%s`",
                   text.get(), fixed.get());
            break;
        case Outer::Unterminated:
            report(path, found.line, Severity::Error,
                   "/bin/sh finds no end to `%s` and stops with a syntax error: nothing of the block "
                   "runs; close it, or write `\\$` and `\\`` for bash",
                   text.get());
            break;
        case Outer::BadSubstitution:
            report(path, found.line, Severity::Error,
                   "/bin/sh cannot expand `%s` (Bad substitution) and runs nothing of the block; "
                   "write `%s` so that bash expands it",
                   text.get(), fixed.get());
            break;
        case Outer::Join:
            report(path, found.line, Severity::Warning,
                   "/bin/sh removes the backslash at the end of this line and the line feed after "
                   "it, so bash reads this line and the next as one (in a comment or quotes too); "
                   "write `\\\\` where bash should see a backslash");
            break;
        case Outer::EofLine:
            report(path, found.line, Severity::Error,
                   "a line that is exactly `EOF` ends the here-document that feeds the block to "
                   "bash: /bin/sh runs the lines after it itself (in silent mode, the rest of the "
                   "file); end your own here-documents with another word, e.g. `END`");
            break;
    }
}

}  // namespace

void checkOuterShell(const Script& script, const Block& block, GHashTable* assigned) {
    GCharPtr command(shellCommand(block.text));
    GArray* lines = blockLines(block);
    GArray* pieces = outerPieces(command.get(), lines);
    for (guint i = 0; i < pieces->len; ++i)
        reportBlockFinding(script, g_array_index(pieces, OuterPiece, i), assigned);
    g_array_free(pieces, TRUE);
    g_array_free(lines, TRUE);
}

void checkSilentOuterShell(const Script& script) {
    const char* bytes = script.bytes;
    GCharPtr command(shellCommand(bytes));
    GArray* lines = g_array_new(FALSE, FALSE, sizeof(int));
    int last = lineOfOffset(bytes, strlen(bytes));
    for (int line = 1; line <= last + 1; ++line)
        g_array_append_val(lines, line);
    GArray* pieces = outerPieces(command.get(), lines);
    for (guint i = 0; i < pieces->len; ++i) {
        const OuterPiece& found = g_array_index(pieces, OuterPiece, i);
        bool inBlock = found.line <= static_cast<int>(script.lines->len) &&
                       g_array_index(script.lines, ScriptLine, found.line - 1).role == LineRole::BlockBody;
        if (inBlock)
            continue;
        GCharPtr text(quoted(found.start, found.length));
        GCharPtr fixed(escaped(found.start, found.length));
        switch (found.kind) {
            case Outer::Command:
            case Outer::Backquote:
                report(script.path, found.line, Severity::Warning,
                       "in silent mode the whole file goes through /bin/sh, comments and directives "
                       "too, and it runs `%s`; write `%s`, or leave it out",
                       text.get(), fixed.get());
                break;
            case Outer::Unterminated:
            case Outer::BadSubstitution:
                report(script.path, found.line, Severity::Error,
                       "in silent mode the whole file goes through /bin/sh, comments and directives "
                       "too, and `%s` stops it with an error: nothing runs; write `%s`",
                       text.get(), fixed.get());
                break;
            case Outer::EofLine:
                report(script.path, found.line, Severity::Error,
                       "in silent mode a line that is exactly `EOF` ends the here-document that "
                       "feeds the file to bash: /bin/sh runs the rest of the file itself; remove it");
                break;
            default:
                break;
        }
    }
    g_array_free(pieces, TRUE);
    g_array_free(lines, TRUE);
}
