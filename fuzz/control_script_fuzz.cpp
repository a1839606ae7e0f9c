// Walks arbitrary bytes as a whole control script, line by line and block by block as the
// interpreter does, and checks what the reader hands out.
#include <math.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "buffers/buffers.h"
#include "buffers/owned.h"
#include "fuzz/require.h"
#include "progress/control.h"

namespace {

const char* const directives[] = {"#title=", "#text=", "#progress=", "#script_start", "#Ostrel_Exit"};

// The directive that decides a line: the first of them, in that order, found in it.
int decidingDirective(const char* line) {
    for (int i = 0; i < 5; ++i) {
        if (strstr(line, directives[i]))
            return i;
    }
    return -1;
}

void checkValue(const char* line, const ControlLine& parsed, const char* directive) {
    size_t length = strlen(line);
    size_t name = strlen(directive);
    REQUIRE(parsed.value != nullptr);
    REQUIRE(parsed.value >= line + name && parsed.value <= line + length);
    // The value follows the first occurrence of the directive.
    REQUIRE(parsed.value - name == strstr(line, directive));
}

void checkBlock(char** cursor, const char* end) {
    const char* before = *cursor;
    size_t length = SIZE_MAX;
    GCharPtr text(collectBlock(cursor, &length));
    REQUIRE(text != nullptr);
    REQUIRE(strlen(text.get()) == length);
    REQUIRE(*cursor >= before && *cursor <= end);
    if (length != 0) {
        REQUIRE(text.get()[0] == '\n');
        REQUIRE(text.get()[length - 1] != '\n');
    }
    // Empty lines are dropped and the closing line is not part of the block.
    REQUIRE(strstr(text.get(), "\n\n") == nullptr);
    REQUIRE(strstr(text.get(), "#script_end") == nullptr);
    // Every kept line is a whole line of the script, in order.
    if (length != 0) {
        const char* from = before;
        for (const char* line = text.get() + 1; line <= text.get() + length;) {
            size_t size = strcspn(line, "\n");
            const char* found = strstr(from, std::string(line, size).append("\n").c_str());
            REQUIRE(found != nullptr && found < *cursor);
            from = found + size + 1;
            line += size + 1;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Held as the loader holds a file: its bytes and one NUL.
    GCharPtr script(static_cast<char*>(g_malloc0(size + 1)));
    memcpy(script.get(), data, size);
    char* cursor = script.get();
    const char* end = script.get() + size;

    size_t ticks = 0;
    while (!scriptFinished(cursor, script.get(), size)) {
        // Every tick consumes at least one line feed, so the walk ends.
        REQUIRE(++ticks <= size);
        char* before = cursor;
        size_t length = SIZE_MAX;
        GCharPtr line(getLine(&cursor, &length));
        // Not finished means a complete line is there to read.
        REQUIRE(line != nullptr);
        REQUIRE(cursor == before + length + 1 && cursor <= end && cursor[-1] == '\n');
        REQUIRE(memcmp(line.get(), before, length) == 0 && line.get()[length] == '\0');
        REQUIRE(memchr(line.get(), '\n', length) == nullptr);
        if (length == 0)
            continue;

        ControlLine parsed = parseControlLine(line.get());
        int decided = decidingDirective(line.get());
        switch (parsed.directive) {
            case Directive::Title:
                REQUIRE(decided == 0);
                checkValue(line.get(), parsed, "#title=");
                break;
            case Directive::Text:
                REQUIRE(decided == 1);
                checkValue(line.get(), parsed, "#text=");
                break;
            case Directive::Progress: {
                REQUIRE(decided == 2);
                checkValue(line.get(), parsed, "#progress=");
                float fraction = readFraction(parsed.value);
                REQUIRE(!isnan(fraction) && fraction >= 0.0f && fraction <= 1.0f);
                break;
            }
            case Directive::ScriptStart: {
                REQUIRE(decided == 3 && parsed.value == nullptr);
                BlockMode mode = blockMode(line.get());
                bool blocking = strstr(line.get(), "#script_start_blocking") != nullptr;
                bool noWait = strstr(line.get(), "#script_start_nowait") != nullptr;
                REQUIRE((mode == BlockMode::Blocking) == blocking);
                REQUIRE((mode == BlockMode::NoWait) == (!blocking && noWait));
                checkBlock(&cursor, end);
                break;
            }
            case Directive::Exit:
                REQUIRE(decided == 4 && parsed.value == nullptr);
                // The run ends here: nothing after the exit line is read.
                return 0;
            case Directive::None:
                REQUIRE(decided == -1 && parsed.value == nullptr);
                break;
        }
    }
    REQUIRE(cursor >= script.get() && cursor <= end);
    return 0;
}
