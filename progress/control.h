// What a line of the control script means, decided without a window.
#pragma once

#include <stddef.h>

enum class Directive { None, Title, Text, Progress, ScriptStart, Exit, StopOnFailure };

enum class BlockMode { Async, NoWait, Blocking };

// One directive of the control script, as an author writes it.
struct DirectiveWord {
    const char* text;  // e.g. "#title="
    Directive directive;
    bool hasValue;    // the rest of the line after it is its value
    bool fromOutput;  // also applied from an asynchronous block's output line that begins with it
};

// Every directive, in the order a line is tested for them: the first found decides. The
// interpreter, the checker and the fuzz targets all read this table: a new directive is a row.
inline constexpr DirectiveWord kDirectives[] = {
    {"#title=", Directive::Title, true, true},
    {"#text=", Directive::Text, true, true},
    {"#progress=", Directive::Progress, true, true},
    {"#script_start", Directive::ScriptStart, false, false},
    {"#Ostrel_Exit", Directive::Exit, false, false},
    // After the others, so that a line holding an older directive keeps its meaning.
    {"#stop_on_failure=", Directive::StopOnFailure, true, false},
};

// The words of a "#script_start" line that choose how its block runs, in the order tested.
struct BlockKind {
    const char* text;
    BlockMode mode;
};
inline constexpr BlockKind kBlockKinds[] = {
    {"#script_start_blocking", BlockMode::Blocking},
    {"#script_start_nowait", BlockMode::NoWait},
};

// Closes the open block, wherever it stands in a line.
inline constexpr char kScriptEnd[] = "#script_end";

struct ControlLine {
    Directive directive;
    const char* value;  // points into the line: the rest of it after the directive, or nullptr
};

// The directive's row of kDirectives; nullptr for Directive::None.
const DirectiveWord* directiveWord(Directive directive);
// The directive that decides a line, the first of kDirectives found in it, and its value.
ControlLine parseControlLine(const char* line);
// The directive that an asynchronous block's output line (its line end removed) applies: one
// of kDirectives marked fromOutput that the line begins with, and its value; else None.
ControlLine parseOutputLine(const char* line);
// True when output that begins with these bytes, so far without a line end, may still turn out
// to be such a directive line: it begins with one, or is the start of one.
bool mayBeOutputDirective(const char* start);
// The control script as silent mode hands it to bash, whole. Each "#stop_on_failure=" line
// first writes its text and a line feed to descriptor stops; each block after such a line
// ends its run with the block's status when that is not 0, tested at the start of its closing
// line; after the last line, the run ends with 0 unless the script ends in such a block that
// failed. No line is moved. nullptr when the script has no such line: then it runs as written.
// Caller g_frees.
char* silentScript(const char* script, int stops);
// How the block opened by a "#script_start" line is run.
BlockMode blockMode(const char* line);
// Reads a "#progress=" value as a number with "." as the decimal point, clamped into 0..1.
float readFraction(const char* value);
// Collects the lines of a block from *cursor up to and including the "#script_end" line,
// empty lines dropped, each kept line preceded by a line feed. Returns the new text (caller
// g_frees) and its length in *length.
char* collectBlock(char** cursor, size_t* length);
// True when the interpreter has nothing more to read: fewer than two bytes are left, or no
// further complete line can be read.
bool scriptFinished(const char* cursor, const char* script, size_t length);
