// Runs shell text through bash, blocking, without reading its output, or asynchronously with
// its output shown line by line.
#pragma once

#include <stddef.h>
#include <stdio.h>

struct ProgressState;

// Starts text through the system shell with its output on a pipe. With record->noWait the
// output is read and thrown away until the shell has ended; otherwise the pipe is made
// non-blocking, record->running set and the output monitor registered. Always -1.
int Bash(const char* text, size_t length, ProgressState* record);

// Runs text through the system shell with the program's own standard output and waits.
// Returns system's status divided by 256 when positive: the shell's exit code, or 0 when a
// signal ended it; -1 when no shell could be run.
int BashBlocking(const char* text, size_t length);

// Closes the record's pipe, if one is open, waiting until its shell has ended.
void closePipe(ProgressState* record);

// The command that feeds text to bash as a here-document: "bash <<EOF\n<text>\nEOF".
// Caller g_frees.
char* shellCommand(const char* text);
// Starts shellCommand(text) with popen(…, "r"); the stream (caller pcloses), or nullptr.
FILE* startShell(const char* text);
// Runs shellCommand(text) with system and waits; system's result.
int runShell(const char* text);

// Turns every line feed and carriage return of an output line into a space.
void blankLineEnds(char* line);

// Size of the output monitor's line buffer; one read takes at most one byte less.
constexpr size_t kOutputLineSize = 1024;
// Reads what the next output line has so far from stream into line (kOutputLineSize bytes,
// zeroed first): up to and including a line feed, at most kOutputLineSize - 1 bytes, line ends
// blanked. False when nothing could be read (no data yet, end of file or an error).
bool readOutputLine(FILE* stream, char* line);
