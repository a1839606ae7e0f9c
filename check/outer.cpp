// What /bin/sh does to a here-document before bash reads it: expansions, backslashes, "EOF".
#include <string.h>

#include "buffers/owned.h"
#include "check/check.h"
#include "shell/shell.h"

namespace {

enum class Outer {
    Name,
    Special,
    Braced,
    Command,
    Arithmetic,
    Backquote,
    Unterminated,
    BadSubstitution,
    Join,
    EofLine
};

struct Found {
    Outer kind;
    int line;           // script line where it starts
    const char* start;  // the construct as written
    size_t length;
};

// Walks a here-document body as dash reads it for "bash <<EOF": the body is the command after
// its first line. Hands each finding to `found` and, when view is given, builds bash's text.
class HereDocument {
public:
    HereDocument(const char* body, const GArray* map, ShellView* view) : s_(body), map_(map), view_(view) {
        if (view_)
            newViewLine();
    }
    // Calls found(context, finding) for each finding, in order; stops at the end of the
    // here-document or at what makes /bin/sh give up.
    template <typename F>
    void scan(F found);

private:
    int line() const {
        guint index = static_cast<guint>(bodyLine_ - 1);
        if (map_->len == 0)
            return 1;
        return g_array_index(map_, int, index < map_->len ? index : map_->len - 1);
    }
    void newViewLine() {
        int at = line();
        g_array_append_val(view_->lines, at);
    }
    void copy(const char* from, size_t length) {
        for (size_t k = 0; k < length; ++k) {
            if (view_) {
                g_string_append_c(view_->text, from[k]);
            }
            if (from[k] == '\n') {
                ++bodyLine_;
                if (view_)
                    newViewLine();
            }
        }
    }
    size_t matchParen(size_t i) const;
    size_t matchBrace(size_t i) const;
    size_t matchBackquote(size_t i) const;
    size_t matchArithmetic(size_t i) const;
    static bool badSubstitution(const char* inside, size_t length);

    const char* s_;
    const GArray* map_;
    ShellView* view_;
    int bodyLine_ = 1;
};

const size_t kOpen = static_cast<size_t>(-1);

bool isNameStart(char c) {
    return g_ascii_isalpha(c) || c == '_';
}
bool isNameChar(char c) {
    return g_ascii_isalnum(c) || c == '_';
}

size_t HereDocument::matchBackquote(size_t i) const {
    for (; s_[i]; ++i) {
        if (s_[i] == '\\' && s_[i + 1])
            ++i;
        else if (s_[i] == '`')
            return i + 1;
    }
    return kOpen;
}

// From just inside "$(" to just after its ")", quotes and nesting respected. Recursive, as
// substitutions nest; the text bounds the depth.
size_t HereDocument::matchParen(size_t i) const {  // NOLINT(misc-no-recursion)
    int depth = 1;
    while (s_[i]) {
        char c = s_[i];
        if (c == '\\' && s_[i + 1]) {
            i += 2;
        } else if (c == '\'') {
            const char* close = strchr(s_ + i + 1, '\'');
            if (!close)
                return kOpen;
            i = static_cast<size_t>(close - s_) + 1;
        } else if (c == '"') {
            for (++i; s_[i] && s_[i] != '"'; ++i) {
                if (s_[i] == '\\' && s_[i + 1])
                    ++i;
                else if (s_[i] == '$' && s_[i + 1] == '(') {
                    i = matchParen(i + 2);
                    if (i == kOpen)
                        return kOpen;
                    --i;
                }
            }
            if (!s_[i])
                return kOpen;
            ++i;
        } else if (c == '`') {
            i = matchBackquote(i + 1);
            if (i == kOpen)
                return kOpen;
        } else {
            if (c == '(')
                ++depth;
            else if (c == ')' && --depth == 0)
                return i + 1;
            ++i;
        }
    }
    return kOpen;
}

// From just inside "$((" to just after its "))".
size_t HereDocument::matchArithmetic(size_t i) const {
    int depth = 2;
    for (; s_[i]; ++i) {
        if (s_[i] == '(')
            ++depth;
        else if (s_[i] == ')' && --depth == 0)
            return i + 1;
    }
    return kOpen;
}

// From just inside "${" to just after its "}".
size_t HereDocument::matchBrace(size_t i) const {
    int depth = 1;
    while (s_[i]) {
        if (s_[i] == '\\' && s_[i + 1]) {
            i += 2;
        } else if (s_[i] == '$' && s_[i + 1] == '{') {
            ++depth;
            i += 2;
        } else if (s_[i] == '$' && s_[i + 1] == '(') {
            i = matchParen(i + 2);
            if (i == kOpen)
                return kOpen;
        } else if (s_[i] == '`') {
            i = matchBackquote(i + 1);
            if (i == kOpen)
                return kOpen;
        } else if (s_[i] == '}' && --depth == 0) {
            return i + 1;
        } else {
            ++i;
        }
    }
    return kOpen;
}

// dash knows ${NAME}, ${#NAME}, ${NAME OP word} with OP one of - = ? + % # (and : before the
// first four); anything else (bash's ${x/a/b}, ${!x}, ${a[0]}, ${x:1}) stops it.
bool HereDocument::badSubstitution(const char* inside, size_t length) {
    const char* p = inside;
    const char* end = inside + length;
    if (p < end && *p == '#' && p + 1 < end)
        ++p;
    if (p < end && isNameStart(*p)) {
        while (p < end && isNameChar(*p))
            ++p;
    } else if (p < end && g_ascii_isdigit(*p)) {
        while (p < end && g_ascii_isdigit(*p))
            ++p;
    } else if (p < end && strchr("@*#?-$!", *p)) {
        ++p;
    } else {
        return true;
    }
    if (p == end)
        return false;
    if (*p == ':')
        return !(p + 1 < end && strchr("-=?+", p[1]));
    return !strchr("-=?+%#", *p);
}

template <typename F>
void HereDocument::scan(F found) {
    size_t i = 0;
    bool lineStart = true;
    while (s_[i]) {
        if (lineStart && strncmp(s_ + i, "EOF", 3) == 0 && (s_[i + 3] == '\n' || s_[i + 3] == '\0')) {
            // The last line is the command's own end marker.
            if (s_[i + 3] == '\n')
                found(Found{Outer::EofLine, line(), s_ + i, 3});
            return;
        }
        lineStart = false;
        char c = s_[i];
        if (c == '\\' && s_[i + 1] == '\n') {
            found(Found{Outer::Join, line(), s_ + i, 1});
            ++bodyLine_;
            i += 2;
            continue;
        }
        if (c == '\\' && s_[i + 1] && strchr("$`\\", s_[i + 1])) {
            copy(s_ + i + 1, 1);
            i += 2;
            continue;
        }
        size_t end = i + 1;
        Outer kind = Outer::Name;
        bool expansion = true;
        if (c == '`') {
            kind = Outer::Backquote;
            end = matchBackquote(i + 1);
        } else if (c == '$' && s_[i + 1] == '(' && s_[i + 2] == '(') {
            kind = Outer::Arithmetic;
            end = matchArithmetic(i + 3);
        } else if (c == '$' && s_[i + 1] == '(') {
            kind = Outer::Command;
            end = matchParen(i + 2);
        } else if (c == '$' && s_[i + 1] == '{') {
            kind = Outer::Braced;
            end = matchBrace(i + 2);
            if (end != kOpen && badSubstitution(s_ + i + 2, end - i - 3))
                kind = Outer::BadSubstitution;
        } else if (c == '$' && isNameStart(s_[i + 1])) {
            for (end = i + 1; isNameChar(s_[end]); ++end) {
            }
        } else if (c == '$' && s_[i + 1] && strchr("@*#?-$!0123456789", s_[i + 1])) {
            kind = Outer::Special;
            end = i + 2;
        } else {
            expansion = false;
        }
        if (!expansion) {
            lineStart = c == '\n';
            copy(s_ + i, 1);
            ++i;
            continue;
        }
        if (end == kOpen) {
            found(Found{Outer::Unterminated, line(), s_ + i, strlen(s_ + i)});
            return;
        }
        found(Found{kind, line(), s_ + i, end - i});
        if (kind == Outer::BadSubstitution)
            return;
        copy(s_ + i, end - i);
        i = end;
    }
}

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

// The body of the here-document that the shell command runs: after "bash <<EOF\n".
const char* bodyOf(const char* command) {
    return strchr(command, '\n') + 1;
}

// Script lines of the body lines of a block's command: its leading empty line belongs to
// the opening line, the end marker to the closing line.
GArray* blockMap(const Block& block) {
    GArray* map = g_array_new(FALSE, FALSE, sizeof(int));
    g_array_append_val(map, block.open);
    g_array_append_vals(map, block.kept->data, block.kept->len);
    int end = block.end ? block.end : g_array_index(block.kept, int, block.kept->len - 1);
    g_array_append_val(map, end);
    return map;
}

void reportBlockFinding(const Script& script, const Found& found, GHashTable* assigned) {
    const char* path = script.path;
    GCharPtr text(quoted(found.start, found.length));
    GCharPtr fixed(escaped(found.start, found.length));
    switch (found.kind) {
        case Outer::Name:
        case Outer::Braced: {
            size_t skip = found.kind == Outer::Name ? 1 : 2;
            size_t length = 0;
            while (skip + length < found.length && isNameChar(found.start[skip + length]))
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

void releaseView(ShellView* view) {
    if (view->text)
        g_string_free(view->text, TRUE);
    if (view->lines)
        g_array_free(view->lines, TRUE);
    view->text = nullptr;
    view->lines = nullptr;
}

int scriptLineOf(const ShellView& view, gint64 viewLine) {
    guint index = viewLine > 0 ? static_cast<guint>(viewLine - 1) : 0;
    return g_array_index(view.lines, int, index < view.lines->len ? index : view.lines->len - 1);
}

void buildView(const Block& block, ShellView* view) {
    view->text = g_string_new(nullptr);
    view->lines = g_array_new(FALSE, FALSE, sizeof(int));
    GCharPtr command(shellCommand(block.text));
    GArray* map = blockMap(block);
    view->cut = false;
    HereDocument(bodyOf(command.get()), map, view).scan([view](const Found& found) {
        view->cut |= found.kind == Outer::EofLine || found.kind == Outer::Unterminated ||
                     found.kind == Outer::BadSubstitution;
    });
    g_array_free(map, TRUE);
}

void checkOuterShell(const Script& script, const Block& block, GHashTable* assigned) {
    GCharPtr command(shellCommand(block.text));
    GArray* map = blockMap(block);
    HereDocument(bodyOf(command.get()), map, nullptr).scan([&](const Found& found) {
        reportBlockFinding(script, found, assigned);
    });
    g_array_free(map, TRUE);
}

void checkSilentOuterShell(const Script& script) {
    const char* bytes = script.bytes;
    GCharPtr command(shellCommand(bytes));
    GArray* map = g_array_new(FALSE, FALSE, sizeof(int));
    int lines = 1;
    for (const char* c = bytes; *c; ++c)
        lines += *c == '\n';
    for (int line = 1; line <= lines + 1; ++line)
        g_array_append_val(map, line);
    HereDocument(bodyOf(command.get()), map, nullptr).scan([&](const Found& found) {
        bool inBlock = found.line <= static_cast<int>(script.lines->len) &&
                       g_array_index(script.lines, ScriptLine, found.line - 1).role == LineRole::BlockBody;
        if (inBlock)
            return;
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
    });
    g_array_free(map, TRUE);
}
