// What /bin/sh does to a block's here-document before bash reads it (expansions, backslashes,
// "EOF"), the text bash then reads, and the mapping between its lines and the script's.
#include <string.h>

#include "buffers/owned.h"
#include "check/check.h"
#include "shell/shell.h"

namespace {

// The entry for line (from 1) of a table of lines; past its end, its last; 1 when it is empty.
int lineAt(const GArray* lines, gint64 line) {
    if (lines->len == 0)
        return 1;
    guint index = line > 0 ? static_cast<guint>(line - 1) : 0;
    return g_array_index(lines, int, index < lines->len ? index : lines->len - 1);
}

// Walks a here-document body as dash reads it for "bash <<EOF": the body is the command after
// its first line. Hands each finding to `found` and, when view is given, builds bash's text.
class HereDocument {
public:
    HereDocument(const char* body, const GArray* map, ShellView* view) : s_(body), map_(map), view_(view) {
        if (view_)
            newViewLine();
    }
    // The pieces, in order, up to the end of the here-document or to what makes /bin/sh give
    // up. Caller g_array_frees.
    GArray* scan();

private:
    int line() const { return lineAt(map_, bodyLine_); }
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

GArray* HereDocument::scan() {
    GArray* pieces = g_array_new(FALSE, FALSE, sizeof(OuterPiece));
    auto found = [pieces](OuterPiece piece) { g_array_append_val(pieces, piece); };
    size_t i = 0;
    bool lineStart = true;
    while (s_[i]) {
        if (lineStart && strncmp(s_ + i, "EOF", 3) == 0 && (s_[i + 3] == '\n' || s_[i + 3] == '\0')) {
            // The last line is the command's own end marker.
            if (s_[i + 3] == '\n')
                found(OuterPiece{Outer::EofLine, line(), s_ + i, 3});
            return pieces;
        }
        lineStart = false;
        char c = s_[i];
        if (c == '\\' && s_[i + 1] == '\n') {
            found(OuterPiece{Outer::Join, line(), s_ + i, 1});
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
            found(OuterPiece{Outer::Unterminated, line(), s_ + i, strlen(s_ + i)});
            return pieces;
        }
        found(OuterPiece{kind, line(), s_ + i, end - i});
        if (kind == Outer::BadSubstitution)
            return pieces;
        copy(s_ + i, end - i);
        i = end;
    }
    return pieces;
}

// The body of the here-document that the shell command runs: after "bash <<EOF\n".
const char* bodyOf(const char* command) {
    return strchr(command, '\n') + 1;
}

}  // namespace

GArray* blockLines(const Block& block) {
    // Its leading empty line belongs to the opening line, the end marker to the closing line.
    GArray* lines = g_array_new(FALSE, FALSE, sizeof(int));
    g_array_append_val(lines, block.open);
    g_array_append_vals(lines, block.kept->data, block.kept->len);
    int end = block.end ? block.end : g_array_index(block.kept, int, block.kept->len - 1);
    g_array_append_val(lines, end);
    return lines;
}

GArray* outerPieces(const char* command, const GArray* lines) {
    return HereDocument(bodyOf(command), lines, nullptr).scan();
}

void buildView(const Block& block, ShellView* view) {
    view->text = g_string_new(nullptr);
    view->lines = g_array_new(FALSE, FALSE, sizeof(int));
    GCharPtr command(shellCommand(block.text));
    GArray* lines = blockLines(block);
    GArray* pieces = HereDocument(bodyOf(command.get()), lines, view).scan();
    view->cut = false;
    for (guint i = 0; i < pieces->len; ++i) {
        Outer kind = g_array_index(pieces, OuterPiece, i).kind;
        view->cut |= kind == Outer::EofLine || kind == Outer::Unterminated || kind == Outer::BadSubstitution;
    }
    g_array_free(pieces, TRUE);
    g_array_free(lines, TRUE);
}

void releaseView(ShellView* view) {
    if (view->text)
        g_string_free(view->text, TRUE);
    if (view->lines)
        g_array_free(view->lines, TRUE);
    view->text = nullptr;
    view->lines = nullptr;
}

int scriptLineOf(const ShellView& view, gint64 viewLine) {
    return lineAt(view.lines, viewLine);
}

gint64 viewLineBefore(const ShellView& view, int scriptLine) {
    guint before = 0;
    while (before + 1 < view.lines->len && g_array_index(view.lines, int, before + 1) < scriptLine)
        ++before;
    return before + 1;
}
