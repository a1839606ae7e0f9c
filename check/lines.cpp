// The findings about the control script's lines: directives, blocks, values and bytes.
#include <math.h>
#include <string.h>

#include "buffers/owned.h"
#include "check/check.h"

namespace {

// The words an author writes for the directives, from the table: every directive, and beside
// "#script_start" its block kinds and "#script_end". nullptr after the last.
const char* directiveWordAt(guint index) {
    const guint kinds = G_N_ELEMENTS(kBlockKinds);
    for (const DirectiveWord& word : kDirectives) {
        if (word.directive != Directive::ScriptStart) {
            if (index-- == 0)
                return word.text;
            continue;
        }
        if (index < kinds)
            return kBlockKinds[index].text;
        if (index == kinds)
            return word.text;
        if (index == kinds + 1)
            return kScriptEnd;
        index -= kinds + 2;
    }
    return nullptr;
}

// The name that a comment line begins with, as in "# Title =": the letters, digits, "_" and
// "-" after the "#" and blanks.
struct CommentName {
    const char* hash;   // the "#"
    const char* word;   // the name
    size_t length;      // its bytes
    const char* after;  // what follows it and its blanks
    GCharPtr written;   // the name in lower case, "-" as "_"
};

// False when the line is no comment or its "#" is followed by no name.
bool commentName(const char* text, CommentName* name) {
    name->hash = skipBlanks(text);
    if (*name->hash != '#')
        return false;
    name->word = skipBlanks(name->hash + 1);
    name->length = 0;
    while (g_ascii_isalnum(name->word[name->length]) || name->word[name->length] == '_' ||
           name->word[name->length] == '-')
        ++name->length;
    if (name->length == 0)
        return false;
    name->after = skipBlanks(name->word + name->length);
    name->written.reset(g_ascii_strdown(name->word, static_cast<gssize>(name->length)));
    g_strdelimit(name->written.get(), "-", '_');
    return true;
}

// "#Title=", "# text=", "#script-end": a comment that reads like a directive but is none.
// Returns the directive it resembles, or nullptr.
const char* resembledDirective(const char* text) {
    CommentName comment;
    if (!commentName(text, &comment) ||
        !(*comment.after == '=' || *comment.after == '\0' || *comment.after == '\r'))
        return nullptr;
    for (guint i = 0; const char* name = directiveWordAt(i); ++i) {
        size_t nameLength = strcspn(name + 1, "=");
        bool takesValue = name[1 + nameLength] == '=';
        if (nameLength != comment.length ||
            g_ascii_strncasecmp(comment.written.get(), name + 1, nameLength) != 0)
            continue;
        if (takesValue && *comment.after != '=')
            return nullptr;
        bool exact = comment.word == comment.hash + 1 && strncmp(comment.word, name + 1, nameLength) == 0 &&
                     (!takesValue || comment.after == comment.word + nameLength);
        return exact ? nullptr : name;
    }
    return nullptr;
}

// Edits (insert, delete, change a byte, swap two neighbours) that turn a into b.
int editDistance(const char* a, const char* b) {
    size_t m = strlen(a);
    size_t n = strlen(b);
    GArray* table = g_array_sized_new(FALSE, TRUE, sizeof(int), static_cast<guint>((m + 1) * (n + 1)));
    g_array_set_size(table, static_cast<guint>((m + 1) * (n + 1)));
    auto at = [&](size_t i, size_t j) -> int& { return g_array_index(table, int, i*(n + 1) + j); };
    for (size_t i = 0; i <= m; ++i)
        at(i, 0) = static_cast<int>(i);
    for (size_t j = 0; j <= n; ++j)
        at(0, j) = static_cast<int>(j);
    for (size_t i = 1; i <= m; ++i) {
        for (size_t j = 1; j <= n; ++j) {
            int best = MIN(at(i - 1, j) + 1, at(i, j - 1) + 1);
            best = MIN(best, at(i - 1, j - 1) + (a[i - 1] != b[j - 1]));
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                best = MIN(best, at(i - 2, j - 2) + 1);
            at(i, j) = best;
        }
    }
    int distance = at(m, n);
    g_array_free(table, TRUE);
    return distance;
}

// "#progres=0.9", "#titel=A", "#script_stat": a comment whose name is within two edits of a
// directive's (a fifth of a longer name's bytes), written the way that directive is (with "="
// for those that take a value, alone on its line for the others). The directive meant, or
// nullptr. inBlock: only #script_end counts, as the only directive read there.
const char* nearMiss(const char* text, bool inBlock) {
    CommentName comment;
    if (!commentName(text, &comment))
        return nullptr;
    bool value = *comment.after == '=';
    if (!(value || *comment.after == '\0' || (*comment.after == '\r' && comment.after[1] == '\0')))
        return nullptr;
    const char* meant = nullptr;
    int closest = G_MAXINT;
    for (guint i = 0; const char* name = directiveWordAt(i); ++i) {
        size_t nameLength = strcspn(name + 1, "=");
        bool takesValue = name[1 + nameLength] == '=';
        if (takesValue != value || (inBlock && strcmp(name, kScriptEnd) != 0))
            continue;
        GCharPtr directive(g_ascii_strdown(name + 1, static_cast<gssize>(nameLength)));
        int distance = editDistance(comment.written.get(), directive.get());
        int tolerance = MAX(2, static_cast<int>(nameLength) / 5);
        // Outside blocks a mere change of case or spacing has a finding of its own.
        if (distance <= tolerance && distance < closest && (distance > 0 || inBlock)) {
            closest = distance;
            meant = name;
        }
    }
    return meant;
}

void checkProgressValue(const Script& script, int line, const char* value) {
    GCharPtr shown(quoted(value, strlen(value)));
    char* end = nullptr;
    double number = g_ascii_strtod(value, &end);
    double read = readFraction(value);
    if (end == value)
        report(script.path, line, Severity::Warning,
               "`%s` is not a number: the bar reads it as 0; write a number from 0 to 1 with a "
               "decimal point, e.g. `#progress=0.5`",
               shown.get());
    else if (*end == ',' && g_ascii_isdigit(end[1]))
        report(script.path, line, Severity::Warning,
               "`%s` has a decimal comma: the bar reads it as %g; the decimal point is always `.`, "
               "e.g. `#progress=0.5`",
               shown.get(), read);
    else if (isnan(number) || number < 0 || number > 1)
        report(script.path, line, Severity::Warning,
               "`%s` lies outside 0..1: the bar is held at %g; write a fraction, e.g. "
               "`#progress=0.5` for half",
               shown.get(), read);
    else if (end[strspn(end, " \t\r")] != '\0')
        report(script.path, line, Severity::Warning,
               "`%s` is not a number: the bar reads it as %g and ignores what follows; write the "
               "number alone, e.g. `#progress=0.5`",
               shown.get(), read);
}

void checkDirectiveLine(const Script& script, const ScriptLine& line) {
    ControlLine control = parseControlLine(line.text);
    const char* token = directiveWord(control.directive)->text;
    const char* found = strstr(line.text, token);
    const char* start = skipBlanks(line.text);
    bool directiveBefore = false;
    for (const DirectiveWord& other : kDirectives) {
        const char* at = strstr(start, other.text);
        directiveBefore |= at && at < found;
    }
    // Another directive in front is reported as two directives on one line.
    if (found != start && !directiveBefore) {
        GCharPtr before(quoted(start, static_cast<size_t>(found - start)));
        if (*start == '#')
            report(script.path, line.number, Severity::Warning,
                   "`%s` counts anywhere in a line: the window applies it although the line looks "
                   "commented out; remove the line, or break the directive's name",
                   token);
        else
            report(script.path, line.number, Severity::Warning,
                   "`%s` is not at the start of the line: the window ignores `%s` in front of it, "
                   "but in silent mode bash runs it; put the directive alone on its line",
                   token, before.get());
    }
    for (const DirectiveWord& other : kDirectives) {
        const char* at = strstr(line.text, other.text);
        if (other.directive != control.directive && at && at != found) {
            GCharPtr list(directiveList());
            report(script.path, line.number, Severity::Warning,
                   "only `%s` of this line is applied, and `%s` is not (the first of %s wins); give "
                   "each directive a line of its own",
                   token, other.text, list.get());
            break;
        }
    }
    if ((control.directive == Directive::Title || control.directive == Directive::Text) &&
        !g_utf8_validate(control.value, -1, nullptr))
        report(script.path, line.number, Severity::Warning,
               "the value of `%s` is not valid UTF-8: the window cannot show it as written; save "
               "the file as UTF-8",
               token);
    if (control.directive == Directive::Progress)
        checkProgressValue(script, line.number, control.value);
    if (control.directive == Directive::ScriptStart) {
        const char* kind = found + strlen(token);
        bool isKind = false;
        for (const BlockKind& block : kBlockKinds)
            isKind |= g_str_has_prefix(found, block.text);
        if (!isKind && (g_ascii_isalnum(*kind) || *kind == '_' || *kind == '-')) {
            GCharPtr word(g_strndup(found, strcspn(found, " \t\r")));
            report(script.path, line.number, Severity::Warning,
                   "`%s` is no kind of block: it opens an ordinary `#script_start` block; the kinds "
                   "are `#script_start_nowait` and `#script_start_blocking`",
                   word.get());
        }
    }
}

void checkOutsideLine(const Script& script, const ScriptLine& line) {
    if (isBlank(line.text))
        return;
    if (strstr(line.text, kScriptEnd)) {
        report(script.path, line.number, Severity::Warning,
               "`#script_end` with no open block: the window ignores it (did an earlier line end the "
               "block already?); remove it");
        return;
    }
    const char* start = skipBlanks(line.text);
    if (*start == '#') {
        if (const char* name = resembledDirective(line.text))
            report(script.path, line.number, Severity::Warning,
                   "this is not a directive but a comment (directives are case-sensitive and take "
                   "no blanks): the window ignores it; write `%s`",
                   name);
        else if (const char* meant = nearMiss(line.text, false))
            report(script.path, line.number, Severity::Warning,
                   "this is no directive but a comment, which the window ignores: write `%s`, the "
                   "directive that it misspells",
                   meant);
        return;
    }
    // The silent-mode finding about the outer shell says what this line does.
    if (strcmp(line.text, "EOF") == 0)
        return;
    report(script.path, line.number, Severity::Warning,
           "this line is outside any block: the window ignores it, but in silent mode bash runs it; "
           "put it between `#script_start` and `#script_end`, or make it a comment");
}

// A directive that the block's output may carry, within a command (echo "#progress=0.5"): an
// ordinary block's output applies it, and the commands' walk tells where output is not read.
bool printedDirective(const ScriptLine& line, const ControlLine& control) {
    const DirectiveWord* word = directiveWord(control.directive);
    return word->fromOutput && strstr(line.text, word->text) != skipBlanks(line.text);
}

void checkBlockLine(const Script& script, const ScriptLine& line) {
    const Block& block = g_array_index(script.blocks, Block, line.block);
    if (line.role == LineRole::BlockEnd) {
        const char* start = skipBlanks(line.text);
        if (strstr(line.text, kScriptEnd) != start)
            report(script.path, line.number, Severity::Warning,
                   "`#script_end` counts anywhere in a line: in the window this line ends the block "
                   "and does not run, but in silent mode bash runs it; put `#script_end` alone on "
                   "its line");
        return;
    }
    if (line.length == 0)
        return;
    ControlLine control = parseControlLine(line.text);
    if (control.directive == Directive::None && nearMiss(line.text, true))
        report(script.path, line.number, Severity::Warning,
               "this is no `#script_end` but a comment, so the block goes on past it (up to the next "
               "`#script_end`); write `#script_end`");
    else if (control.directive == Directive::ScriptStart)
        report(script.path, line.number, Severity::Warning,
               "`#script_start` inside the block opened on line %d: it is shell text there and "
               "opens nothing; close the first block with `#script_end` before it",
               block.open);
    else if (control.directive != Directive::None && !printedDirective(line, control))
        report(script.path, line.number, Severity::Warning,
               "`%s` inside a block is shell text for bash and is not applied; put it outside the "
               "block, before `#script_start` or after `#script_end`",
               directiveWord(control.directive)->text);
}

void checkBlock(const Script& script, const Block& block) {
    // The window never reads a block after the exit directive; silent mode runs it as it is.
    if (script.exitLine && block.open > script.exitLine)
        return;
    // A block cut short by a NUL byte or a last line without line feed has its own finding.
    bool cut = script.nulLine || script.unfinished;
    if (block.end == 0 && !cut)
        report(script.path, block.open, Severity::Warning,
               "this block has no `#script_end`: every following line of the file belongs to it, "
               "directives too; close it with `#script_end`");
    if (block.text[strspn(block.text, " \t\r\n")] == '\0') {
        report(script.path, block.open, Severity::Warning,
               "this block is empty: nothing runs; put commands between `#script_start` and "
               "`#script_end`, or remove it");
        return;
    }
}

void checkExit(const Script& script, guint index) {
    int later = 0;
    for (guint i = index + 1; i < script.lines->len; ++i) {
        const ScriptLine& line = g_array_index(script.lines, ScriptLine, i);
        if (runsInSilentMode(line) || line.role == LineRole::Directive)
            ++later;
    }
    if (later)
        report(script.path, g_array_index(script.lines, ScriptLine, index).number, Severity::Warning,
               "the window ends here and never reads the %d line%s after it, but silent mode runs "
               "%s; remove %s, or end the script with `#Ostrel_Exit`",
               later, later == 1 ? "" : "s", later == 1 ? "it" : "them", later == 1 ? "it" : "them");
}

// #stop_on_failure= guards the blocks that run after its line.
void checkStopOnFailure(const Script& script, guint index) {
    const ScriptLine& directive = g_array_index(script.lines, ScriptLine, index);
    if (parseControlLine(directive.text).directive != Directive::StopOnFailure)
        return;
    for (guint i = index + 1; i < script.lines->len; ++i) {
        if (g_array_index(script.lines, ScriptLine, i).role == LineRole::BlockOpen)
            return;
    }
    report(script.path, directive.number, Severity::Note,
           "`%s` comes after the last block: it stops the run only when a block after its line "
           "fails, so it stops nothing; put it before the blocks it should guard",
           directiveWord(Directive::StopOnFailure)->text);
}

}  // namespace

void checkLines(const Script& script) {
    if (script.size == 0) {
        report(script.path, 1, Severity::Error,
               "the file is empty: Ostrel stops with \"Error:  Script File Required\" and status 1");
        return;
    }
    if (script.nulLine)
        report(script.path, script.nulLine, Severity::Error,
               "a NUL byte: Ostrel stops reading the script here in the window, and in silent mode "
               "bash gets only the text before it; ship binary data as a file of its own");
    if (script.unfinished)
        report(script.path, script.unfinished, Severity::Warning,
               "the file does not end with a line feed: the window never reads this last line (silent "
               "mode runs it); end the line with a line feed");
    int crlf = 0;
    int firstCrlf = 0;
    for (guint i = 0; i < script.lines->len; ++i) {
        const ScriptLine& line = g_array_index(script.lines, ScriptLine, i);
        if (line.length && line.text[line.length - 1] == '\r' && crlf++ == 0)
            firstCrlf = line.number;
    }
    if (crlf)
        report(script.path, firstCrlf, Severity::Error,
               "CR LF line ends (%d line%s, the first here): every directive's value keeps the carriage "
               "return and bash sees it at the end of each command (`cd dir\\r` fails); save the file "
               "with plain line feeds, e.g. `sed -i 's/\\r$//' FILE`",
               crlf, crlf == 1 ? "" : "s");
    for (guint i = 0; i < script.lines->len; ++i) {
        const ScriptLine& line = g_array_index(script.lines, ScriptLine, i);
        switch (line.role) {
            case LineRole::Outside:
                checkOutsideLine(script, line);
                break;
            case LineRole::Directive:
            case LineRole::BlockOpen:
                checkDirectiveLine(script, line);
                checkStopOnFailure(script, i);
                if (line.number == script.exitLine)
                    checkExit(script, i);
                if (line.role == LineRole::BlockOpen)
                    checkBlock(script, g_array_index(script.blocks, Block, line.block));
                break;
            case LineRole::BlockBody:
            case LineRole::BlockEnd:
                checkBlockLine(script, line);
                break;
        }
    }
}
