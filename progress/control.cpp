// What a line of the control script means, decided without a window.
#include "progress/control.h"

#include <glib.h>
#include <math.h>
#include <string.h>

#include <algorithm>
#include <iterator>

#include "buffers/buffers.h"
#include "buffers/owned.h"

const DirectiveWord* directiveWord(Directive directive) {
    for (const DirectiveWord& word : kDirectives) {
        if (word.directive == directive)
            return &word;
    }
    return nullptr;
}

ControlLine parseControlLine(const char* line) {
    for (const DirectiveWord& word : kDirectives) {
        if (const char* found = strstr(line, word.text))
            return {word.directive, word.hasValue ? found + strlen(word.text) : nullptr};
    }
    return {Directive::None, nullptr};
}

ControlLine parseOutputLine(const char* line) {
    for (const DirectiveWord& word : kDirectives) {
        if (word.fromOutput && g_str_has_prefix(line, word.text))
            return {word.directive, line + strlen(word.text)};
    }
    return {Directive::None, nullptr};
}

bool mayBeOutputDirective(const char* start) {
    size_t length = strlen(start);
    return std::any_of(std::begin(kDirectives), std::end(kDirectives), [&](const DirectiveWord& word) {
        return word.fromOutput && strncmp(start, word.text, MIN(length, strlen(word.text))) == 0;
    });
}

namespace {

// What the closing line of a block after "#stop_on_failure=" runs first: the run ends with the
// block's status unless that is 0. "\$" leaves the "$" to bash.
const char kStatusTest[] = "case \\$? in 0) ;; *) builtin exit ;; esac; ";

// text as a word that bash reads back unchanged once /bin/sh has expanded the here-document:
// in single quotes, with a backslash before each of the three characters /bin/sh takes one from.
void appendWord(GString* out, const char* text) {
    g_string_append_c(out, '\'');
    for (const char* c = text; *c; ++c) {
        if (*c == '\'') {
            g_string_append(out, "'\\''");
            continue;
        }
        if (strchr("$`\\", *c))
            g_string_append_c(out, '\\');
        g_string_append_c(out, *c);
    }
    g_string_append_c(out, '\'');
}

void appendLine(GString* out, const char* line) {
    g_string_append(out, line);
    g_string_append_c(out, '\n');
}

}  // namespace

char* silentScript(const char* script, int stops) {
    // Most scripts have no such line, and a long one is not walked line by line for nothing.
    if (!strstr(script, directiveWord(Directive::StopOnFailure)->text))
        return nullptr;
    GString* out = g_string_new(nullptr);
    bool armed = false;
    bool open = false;  // the script ends inside a block
    char* cursor = const_cast<char*>(script);
    size_t length = 0;
    while (GCharPtr line{getLine(&cursor, &length)}) {
        ControlLine control =
            length != 0 ? parseControlLine(line.get()) : ControlLine{Directive::None, nullptr};
        if (control.directive == Directive::StopOnFailure) {
            g_string_append(out, "builtin printf '%s\\n' ");
            appendWord(out, control.value);
            g_string_append_printf(out, " >&%d; ", stops);
            armed = true;
        }
        open = control.directive == Directive::ScriptStart;
        appendLine(out, line.get());
        // The block's lines, up to the one that closes it as the interpreter reads them.
        while (open) {
            GCharPtr body(getLine(&cursor, &length));
            if (!body)
                break;
            bool closes = strstr(body.get(), kScriptEnd) != nullptr;
            if (closes && armed)
                g_string_append(out, kStatusTest);
            appendLine(out, body.get());
            open = !closes;
        }
    }
    // A last line without a line feed runs too. After the last line, only a block's failure
    // ends the run otherwise than with 0: a command outside the blocks, which the window never
    // runs, does not. The empty line keeps a backslash at the very end from joining the two.
    g_string_append(out, cursor);
    g_string_append(out, "\n\n");
    if (open)
        g_string_append(out, kStatusTest);
    g_string_append(out, "builtin exit 0");
    return g_string_free(out, !armed);
}

BlockMode blockMode(const char* line) {
    for (const BlockKind& kind : kBlockKinds) {
        if (strstr(line, kind.text))
            return kind.mode;
    }
    return BlockMode::Async;
}

float readFraction(const char* value) {
    // g_ascii_strtod reads like atof in the C locale, whatever locale the toolkit selected.
    double number = g_ascii_strtod(value, nullptr);
    if (isnan(number) || number < 0.0)
        return 0.0f;
    if (number > 1.0)
        return 1.0f;
    return static_cast<float>(number);
}

char* collectBlock(char** cursor, size_t* length) {
    GString* text = g_string_new(nullptr);
    size_t lineLength = 0;
    while (char* line = getLine(cursor, &lineLength)) {
        bool end = strstr(line, kScriptEnd) != nullptr;
        if (!end && lineLength != 0) {
            g_string_append_c(text, '\n');
            g_string_append_len(text, line, static_cast<gssize>(lineLength));
        }
        g_free(line);
        if (end)
            break;
    }
    *length = text->len;
    return g_string_free(text, FALSE);
}

bool scriptFinished(const char* cursor, const char* script, size_t length) {
    return length == 0 || cursor >= script + length - 1 || strchr(cursor, '\n') == nullptr;
}
