// Walks arbitrary bytes as a whole control script, line by line and block by block as the
// interpreter does, and checks what the reader hands out.
#include <math.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "buffers/buffers.h"
#include "buffers/owned.h"
#include "fuzz/require.h"
#include "progress/control.h"

namespace {

constexpr size_t kCount = std::size(kDirectives);

// The directive's place in the table.
size_t indexOf(Directive directive) {
    return static_cast<size_t>(directiveWord(directive) - kDirectives);
}

// The line with every occurrence of a directive's text made harmless.
std::string without(const std::string& line, const char* text) {
    std::string result = line;
    for (size_t at = result.find(text); at != std::string::npos; at = result.find(text, at + 1))
        result[at] = ' ';
    return result;
}

// Which directive has been seen to beat which, over every input of this run: a precedence
// must never be seen both ways.
bool beats[kCount][kCount];

// The decision depends only on which directives a line holds, the way a fixed order of
// precedence does: other directives in the line change nothing, and without the deciding one
// another of those present decides (or none, when it was alone).
void checkDecision(const std::string& line, const ControlLine& parsed) {
    std::vector<Directive> present;
    for (const DirectiveWord& word : kDirectives) {
        if (line.find(word.text) != std::string::npos)
            present.push_back(word.directive);
    }
    if (parsed.directive == Directive::None) {
        REQUIRE(present.empty());
        return;
    }
    const char* decider = directiveWord(parsed.directive)->text;
    REQUIRE(line.find(decider) != std::string::npos);
    size_t winner = indexOf(parsed.directive);
    for (Directive other : present) {
        if (other == parsed.directive)
            continue;
        REQUIRE(parseControlLine(without(line, directiveWord(other)->text).c_str()).directive ==
                parsed.directive);
        size_t loser = indexOf(other);
        beats[winner][loser] = true;
        REQUIRE(!beats[loser][winner]);
    }
    Directive next = parseControlLine(without(line, decider).c_str()).directive;
    if (present.size() == 1)
        REQUIRE(next == Directive::None);
    else
        REQUIRE(next != parsed.directive && std::find(present.begin(), present.end(), next) != present.end());
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
    REQUIRE(strstr(text.get(), kScriptEnd) == nullptr);
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
        checkDecision(line.get(), parsed);
        const DirectiveWord* word = directiveWord(parsed.directive);
        if (word && word->hasValue)
            checkValue(line.get(), parsed, word->text);
        else
            REQUIRE(parsed.value == nullptr);
        switch (parsed.directive) {
            case Directive::Progress: {
                float fraction = readFraction(parsed.value);
                REQUIRE(!isnan(fraction) && fraction >= 0.0f && fraction <= 1.0f);
                break;
            }
            case Directive::ScriptStart: {
                // The first kind of block the line names decides, as for the directives.
                BlockMode expected = BlockMode::Async;
                for (auto kind = std::rbegin(kBlockKinds); kind != std::rend(kBlockKinds); ++kind) {
                    if (strstr(line.get(), kind->text))
                        expected = kind->mode;
                }
                REQUIRE(blockMode(line.get()) == expected);
                checkBlock(&cursor, end);
                break;
            }
            case Directive::Exit:
                // The run ends here: nothing after the exit line is read.
                return 0;
            case Directive::Title:
            case Directive::Text:
            case Directive::StopOnFailure:
            case Directive::None:
                break;
        }
    }
    REQUIRE(cursor >= script.get() && cursor <= end);
    return 0;
}
