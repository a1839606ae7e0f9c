// Runs shell text through bash, blocking, without reading its output, or asynchronously with
// its output shown line by line.
#pragma once

#include <stddef.h>
#include <stdio.h>

#include "progress/record.h"

// Starts text through the system shell with its output on a pipe. With record->noWait the
// output is read and thrown away until the shell has ended; otherwise the pipe is made
// non-blocking, record->running set and the output monitor registered. Every block that ends
// (or cannot start) is handed to blockEnded with its status. Always -1.
int Bash(const char* text, size_t length, ProgressState* record);

// Runs text through the system shell with the program's own standard output and waits.
// Returns system's status divided by 256 when positive: the shell's exit code, or 0 when a
// signal ended it; -1 when no shell could be run. *status, when given, gets exitStatus of it
// (0 when there was no text to run).
int BashBlocking(const char* text, size_t length, int* status = nullptr);

// Closes the record's pipe, if one is open, waiting until its shell has ended; what pclose
// returned, or -1 without a pipe.
int closePipe(ProgressState* record);

// The status a block ended with, from what system or pclose returned: the shell's exit code,
// 128 + N when signal N ended it, 127 when no shell could be run (-1).
int exitStatus(int waitStatus);

// The command that feeds text to bash as a here-document: "bash <<EOF\n<text>\nEOF".
// Caller g_frees.
char* shellCommand(const char* text);
// Starts shellCommand(text) with popen(…, "r"); the stream (caller pcloses), or nullptr.
FILE* startShell(const char* text);
// Runs shellCommand(text) with system and waits; system's result.
int runShell(const char* text);

// Turns every line feed and carriage return of an output line into a space.
void blankLineEnds(char* line);

// Reads more of the current output line from stream into line (kOutputLineSize bytes) after
// the `held` bytes it already holds, the rest zeroed first: up to and including a line feed,
// at most kOutputLineSize - 1 bytes in all. The number of bytes it read, NUL bytes included;
// 0 when nothing more could be read (no data yet, end of file or an error).
size_t readOutputPiece(FILE* stream, char* line, size_t held);
