// ostrel-check: the findings it prints, the control script as Ostrel reads it, and the checks.
#pragma once

#include <glib.h>
#include <stddef.h>

#include "progress/control.h"

typedef struct _JsonParser JsonParser;

enum class Severity { Note, Warning, Error };

// Records a finding, "PATH:LINE: error|warning|note: MESSAGE", and counts it.
void report(const char* path, int line, Severity severity, const char* format, ...) G_GNUC_PRINTF(4, 5);
// Prints the findings recorded so far on standard output, ordered by file and line.
void printReports();
// True once an error or a warning has been reported.
bool anyFailure();
// Caps text for quoting in a message: at most 40 bytes of its first line, a carriage
// return dropped, "…" appended when cut. Caller g_frees.
char* quoted(const char* text, size_t length);

enum class LineRole { Outside, Directive, BlockOpen, BlockBody, BlockEnd };

// One line of the control script, as getLine hands it to the interpreter.
struct ScriptLine {
    int number;     // counted from 1
    char* text;     // without its line feed; owned by the Script
    size_t length;  // bytes before the line feed
    LineRole role;
    int block;  // index into Script::blocks for the lines of a block and its opening line, else -1
};

// A block as the window runs it.
struct Block {
    int open;  // line of its #script_start
    int end;   // line of its #script_end; 0 when it takes the rest of the file
    BlockMode mode;
    char* text;     // what collectBlock hands to the shell; owned by the Script
    size_t length;  // bytes of text
    GArray* kept;   // int: the line of each line of text, in order; owned by the Script
};

// The control script, read by the program's own reader.
struct Script {
    const char* path;   // as shown in findings
    const char* bytes;  // the whole file and a NUL byte (m_pBuffer), or ""
    size_t size;        // bytes in the file
    GArray* lines;      // ScriptLine, the complete lines before any NUL byte; lines[n - 1] is line n
    GArray* blocks;     // Block
    int nulLine;        // line of the first NUL byte, or 0
    int unfinished;     // line after the last line feed that holds bytes, or 0
    int exitLine;       // line of the #Ostrel_Exit that ends the window's reading, or 0
};

// Reads the script at path with readScript and walks it as the interpreter does. False, with
// errno set, when it cannot be read; an empty file reads as a script without lines.
bool loadScript(const char* path, const char* shown, Script* script);
// Releases the script's lines and blocks and the program's copy of the file.
void freeScript(Script* script);

// The findings about lines, directives, blocks and bytes.
void checkLines(const Script& script);

// What the outer /bin/sh makes of a here-document: the text bash reads and where it came from.
struct ShellView {
    GString* text;  // the text bash reads (owned)
    GArray* lines;  // int: the script line of each line of text (owned)
    bool cut;       // /bin/sh stops early (a line "EOF", a substitution it cannot read)
};
// Fills view with the text that bash gets for a block that is not empty.
void buildView(const Block& block, ShellView* view);
void releaseView(ShellView* view);
// The script line of a line of the view (from 1); past its end, the script line of its last.
int scriptLineOf(const ShellView& view, gint64 viewLine);
// The outer shell's findings for a block that is not empty. assigned: the names that the
// script's blocks set (g_strdup'd keys), or nullptr when some block could not be parsed.
void checkOuterShell(const Script& script, const Block& block, GHashTable* assigned);
// The outer shell's findings for the whole file as silent mode runs it, on lines outside blocks.
void checkSilentOuterShell(const Script& script);
// What a helper program that reads a block did.
struct Ran {
    bool timedOut;  // it ran past the limit and was killed
    int status;     // its exit status, or -1 when it did not exit by itself
    GString* out;   // its standard output (owned)
    GString* err;   // its standard error (owned)
};
// The seconds each helper gets per block: $OSTREL_CHECK_SECONDS, or 10.
double helperSeconds();
// Runs argv[0] (a path) with input on its standard input and reads its output, for at most
// seconds. False, with error set, when it could not be started; else fills ran, which the
// caller releases with releaseRan.
bool runLimited(char** argv, const char* input, size_t length, double seconds, Ran* ran, GError** error);
void releaseRan(Ran* ran);

// The block's text parsed by shfmt (caller g_object_unrefs), or nullptr when it was not: a
// warning, once per script, when shfmt is missing; a note on the block when shfmt ran too long
// or could not read it.
JsonParser* parseBlock(const Script& script, const Block& block, const ShellView& view);
// Adds the names that a block's parsed text sets to names (g_strdup'd keys, freed by the table).
void collectAssignedNames(const ShellView& view, JsonParser* tree, GHashTable* names);

// The findings that need the block's shell commands: reading standard input, cd, sudo,
// background jobs, output. later: some block or stray line runs after this block in silent mode.
void checkCommands(const Script& script, const Block& block, const ShellView& view, JsonParser* tree,
                   bool later);
// ShellCheck's findings on the block's bash text; a note, once, when it is not installed, and
// on the block when it ran too long.
void checkWithShellCheck(const Script& script, const Block& block, const ShellView& view);

// The files beside the control script in an installer directory. directory is where they
// are, shown how it is printed in front of their names ("" for the current one).
void checkLicences(const char* directory, const char* shown);
void checkIcon(const char* directory, const char* shown);
void checkProgram(const char* directory, const char* shown);
