// What a line of the control script means, decided without a window.
#pragma once

#include <stddef.h>

enum class Directive { None, Title, Text, Progress, ScriptStart, Exit };

struct ControlLine {
    Directive directive;
    const char* value;  // points into the line: the rest of it after the directive, or nullptr
};

enum class BlockMode { Async, NoWait, Blocking };

// The directive that decides a line (the first found of "#title=", "#text=", "#progress=",
// "#script_start", "#Ostrel_Exit") and its value.
ControlLine parseControlLine(const char* line);
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
