// The control script walked as the interpreter walks it: its lines, its blocks, and what of
// it runs in silent mode.
#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include "buffers/buffers.h"
#include "check/check.h"

namespace {

guint m_loaded = 0;  // scripts loaded in this run

const ScriptLine& lineAt(const Script& script, guint index) {
    return g_array_index(script.lines, ScriptLine, index);
}

void addLine(Script* script, ScriptLine line) {
    g_array_append_val(script->lines, line);
}

// Reads a block from *cursor exactly as runBlock does, and alongside it the lines it covers.
void readBlock(Script* script, char** cursor, int* number, const char* opening) {
    Block block{*number, 0, blockMode(opening), nullptr, 0, g_array_new(FALSE, FALSE, sizeof(int))};
    int index = static_cast<int>(script->blocks->len);
    char* collected = *cursor;
    block.text = collectBlock(&collected, &block.length);
    size_t length = 0;
    while (char* text = getLine(cursor, &length)) {
        ++*number;
        bool end = strstr(text, kScriptEnd) != nullptr;
        addLine(script,
                ScriptLine{*number, text, length, end ? LineRole::BlockEnd : LineRole::BlockBody, index});
        if (end) {
            block.end = *number;
            break;
        }
        if (length != 0)
            g_array_append_val(block.kept, *number);
    }
    g_assert(*cursor == collected);
    g_array_append_val(script->blocks, block);
}

void walk(Script* script) {
    char* cursor = m_pBuffer;
    int number = 0;
    size_t length = 0;
    while (char* text = getLine(&cursor, &length)) {
        ++number;
        ControlLine control = length != 0 ? parseControlLine(text) : ControlLine{Directive::None, nullptr};
        if (control.directive == Directive::ScriptStart) {
            addLine(script, ScriptLine{number, text, length, LineRole::BlockOpen,
                                       static_cast<int>(script->blocks->len)});
            readBlock(script, &cursor, &number, text);
        } else {
            LineRole role = control.directive == Directive::None ? LineRole::Outside : LineRole::Directive;
            addLine(script, ScriptLine{number, text, length, role, -1});
            if (control.directive == Directive::Exit && !script->exitLine)
                script->exitLine = number;
        }
        if (scriptFinished(cursor, m_pBuffer, m_nBuffer))
            break;
    }
    const char* end = m_pBuffer + m_nBuffer;
    if (const char* nul = static_cast<const char*>(memchr(m_pBuffer, '\0', m_nBuffer))) {
        script->nulLine = lineOfOffset(m_pBuffer, static_cast<size_t>(nul - m_pBuffer));
    } else if (cursor < end && !(cursor + 1 == end && *cursor == '\n')) {
        script->unfinished = number + 1;
    }
}

}  // namespace

bool loadScript(const char* path, const char* shown, Script* script) {
    *script = Script{shown,
                     "",
                     0,
                     g_array_new(FALSE, FALSE, sizeof(ScriptLine)),
                     g_array_new(FALSE, FALSE, sizeof(Block)),
                     0,
                     0,
                     0,
                     ++m_loaded};
    struct stat info;
    if (stat(path, &info) != 0)
        return false;
    if (S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (info.st_size == 0)
        return true;
    if (!readScript(path))
        return false;
    script->bytes = m_pBuffer;
    script->size = m_nBuffer;
    walk(script);
    return true;
}

void freeScript(Script* script) {
    for (guint i = 0; i < script->lines->len; ++i)
        g_free(lineAt(*script, i).text);
    for (guint i = 0; i < script->blocks->len; ++i) {
        Block& block = g_array_index(script->blocks, Block, i);
        g_free(block.text);
        g_array_free(block.kept, TRUE);
    }
    g_array_free(script->lines, TRUE);
    g_array_free(script->blocks, TRUE);
    releaseScript();
}

bool isBlank(const char* text) {
    return text[strspn(text, " \t\r")] == '\0';
}

const char* skipBlanks(const char* text) {
    return text + strspn(text, " \t");
}

bool runsInSilentMode(const ScriptLine& line) {
    const char* start = skipBlanks(line.text);
    return !isBlank(start) && line.role != LineRole::Directive &&
           !(line.role == LineRole::Outside && *start == '#');
}

bool runsLater(const Script& script, const Block& block) {
    for (guint i = static_cast<guint>(block.end); block.end && i < script.lines->len; ++i) {
        if (runsInSilentMode(lineAt(script, i)))
            return true;
    }
    return false;
}

char* directiveList() {
    GString* list = g_string_new(nullptr);
    for (const DirectiveWord& word : kDirectives)
        g_string_append_printf(list, "%s%s", list->len ? ", " : "", word.text);
    return g_string_free(list, FALSE);
}

const char* blockKindWord(BlockMode mode) {
    for (const BlockKind& kind : kBlockKinds) {
        if (kind.mode == mode)
            return kind.text;
    }
    return directiveWord(Directive::ScriptStart)->text;
}
