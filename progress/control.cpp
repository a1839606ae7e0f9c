// What a line of the control script means, decided without a window.
#include "progress/control.h"

#include <glib.h>
#include <math.h>
#include <string.h>

#include "buffers/buffers.h"

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
