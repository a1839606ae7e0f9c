// Findings in the compilers' form, printed in the order of their files and lines, and the
// count of those that fail the check.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "check/check.h"

namespace {

struct Finding {
    char* path;
    int line;
    Severity severity;
    char* message;
    guint order;  // reporting order of its path, then of itself
    guint pathOrder;
};

GArray* pending = nullptr;
int failures = 0;

gint byPlace(gconstpointer a, gconstpointer b) {
    const Finding* x = static_cast<const Finding*>(a);
    const Finding* y = static_cast<const Finding*>(b);
    if (x->pathOrder != y->pathOrder)
        return x->pathOrder < y->pathOrder ? -1 : 1;
    if (x->line != y->line)
        return x->line < y->line ? -1 : 1;
    return x->order < y->order ? -1 : x->order > y->order;
}

}  // namespace

void report(const char* path, int line, Severity severity, const char* format, ...) {
    if (!pending)
        pending = g_array_new(FALSE, FALSE, sizeof(Finding));
    guint pathOrder = pending->len;
    for (guint i = 0; i < pending->len; ++i) {
        const Finding& earlier = g_array_index(pending, Finding, i);
        if (strcmp(earlier.path, path) == 0) {
            pathOrder = earlier.pathOrder;
            break;
        }
    }
    va_list arguments;
    va_start(arguments, format);
    Finding finding{g_strdup(path), line,     severity, g_strdup_vprintf(format, arguments),
                    pending->len,   pathOrder};
    va_end(arguments);
    g_array_append_val(pending, finding);
    if (severity != Severity::Note)
        ++failures;
}

char* takeReports() {
    static const char* const names[] = {"note", "warning", "error"};
    GString* out = g_string_new(nullptr);
    if (!pending)
        return g_string_free(out, FALSE);
    g_array_sort(pending, byPlace);
    for (guint i = 0; i < pending->len; ++i) {
        Finding& finding = g_array_index(pending, Finding, i);
        g_string_append_printf(out, "%s:%d: %s: %s\n", finding.path, finding.line,
                               names[static_cast<int>(finding.severity)], finding.message);
        g_free(finding.path);
        g_free(finding.message);
    }
    g_array_set_size(pending, 0);
    return g_string_free(out, FALSE);
}

void printReports() {
    char* text = takeReports();
    fputs(text, stdout);
    fflush(stdout);
    g_free(text);
}

bool anyFailure() {
    return failures != 0;
}

char* quoted(const char* text, size_t length) {
    static const size_t kLongest = 40;
    size_t shown = 0;
    while (shown < length && text[shown] && text[shown] != '\n' && text[shown] != '\r')
        ++shown;
    bool lastCarriageReturn = shown + 1 == length && text[shown] == '\r';
    bool cut = shown > kLongest || (shown < length && !lastCarriageReturn);
    if (shown > kLongest) {
        shown = kLongest;
        // Not in the middle of a UTF-8 sequence.
        while (shown > 0 && (static_cast<unsigned char>(text[shown]) & 0xC0) == 0x80)
            --shown;
    }
    GString* out = g_string_new_len(text, static_cast<gssize>(shown));
    if (cut)
        g_string_append(out, "…");
    return g_string_free(out, FALSE);
}

int lineOfOffset(const char* text, size_t offset) {
    int line = 1;
    for (size_t i = 0; i < offset; ++i)
        line += text[i] == '\n';
    return line;
}
