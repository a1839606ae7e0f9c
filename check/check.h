// ostrel-check, the library that the program and its tests link: the findings, the control
// script as Ostrel reads it, the text bash gets for a block, shfmt's tree of it, the commands'
// facts and their option reader, the walk of the commands, and the helpers that read a block.
#pragma once

#include <glib.h>
#include <stddef.h>

#include "progress/control.h"

typedef struct _JsonParser JsonParser;
typedef struct _JsonObject JsonObject;
typedef struct _JsonArray JsonArray;

// ---- Findings (report.cpp)

enum class Severity { Note, Warning, Error };

// Records a finding, "PATH:LINE: error|warning|note: MESSAGE", and counts it.
void report(const char* path, int line, Severity severity, const char* format, ...) G_GNUC_PRINTF(4, 5);
// The findings recorded so far, one line each, ordered by file and line, and forgets them.
// Caller g_frees.
char* takeReports();
// Prints takeReports() on standard output.
void printReports();
// True once an error or a warning has been reported.
bool anyFailure();
// Caps text for quoting in a message: at most 40 bytes of its first line, a carriage
// return dropped, "…" appended when cut. Caller g_frees.
char* quoted(const char* text, size_t length);
// The line (from 1) that the byte at offset of text lies on.
int lineOfOffset(const char* text, size_t offset);

// ---- The control script as the interpreter walks it (script.cpp) and its lines' findings
// (lines.cpp)

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
    guint serial;       // which script of the run it is, from 1
};

// Reads the script at path with readScript and walks it as the interpreter does. False, with
// errno set, when it cannot be read; an empty file reads as a script without lines.
bool loadScript(const char* path, const char* shown, Script* script);
// Releases the script's lines and blocks and the program's copy of the file.
void freeScript(Script* script);
// Whether text holds nothing but spaces, tabs and carriage returns.
bool isBlank(const char* text);
// text after its leading spaces and tabs.
const char* skipBlanks(const char* text);
// Whether bash runs something of the line in silent mode, where the whole file is one script:
// a stray command or a line of a block; not a blank line, a comment or a directive.
bool runsInSilentMode(const ScriptLine& line);
// Whether some line after the block runs in silent mode, that is, after the block.
bool runsLater(const Script& script, const Block& block);
// The directives as a list for a message, from the table: "#title=, #text=, …". Caller g_frees.
char* directiveList();
// The block kind's word, "#script_start_nowait" or "#script_start_blocking"; "#script_start".
const char* blockKindWord(BlockMode mode);

// The findings about lines, directives, blocks and bytes.
void checkLines(const Script& script);

// ---- What /bin/sh makes of a block: the text bash reads, and its lines (view.cpp), and the
// findings about it (outer.cpp)

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
// The last line of the view (from 1) that comes from a script line before scriptLine, or 1.
gint64 viewLineBefore(const ShellView& view, int scriptLine);

// What the outer shell does to a piece of a here-document.
enum class Outer {
    Name,
    Special,
    Braced,
    Command,
    Arithmetic,
    Backquote,
    Unterminated,
    BadSubstitution,
    Join,
    EofLine
};
struct OuterPiece {
    Outer kind;
    int line;           // script line where it starts
    const char* start;  // the construct as written, in the scanned text
    size_t length;
};
// The pieces of the block's command (shellCommand(block.text)) that /bin/sh expands or acts
// on, in order; lines: the script line of each line of its body (see buildView). Caller
// g_array_frees; the pieces point into command.
GArray* outerPieces(const char* command, const GArray* lines);
// Script lines of the body lines of a block's command. Caller g_array_frees.
GArray* blockLines(const Block& block);

// The outer shell's findings for a block that is not empty. assigned: the names that the
// script's blocks set (g_strdup'd keys), or nullptr when some block could not be parsed.
void checkOuterShell(const Script& script, const Block& block, GHashTable* assigned);
// The outer shell's findings for the whole file as silent mode runs it, on lines outside blocks.
void checkSilentOuterShell(const Script& script);

// ---- The helpers that read a block (run.cpp)

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

// A helper looked up on the PATH once per run, whose absence is told once per script.
struct Helper {
    const char* name;
    char* path;  // nullptr when it is not installed
    bool lookedUp;
    guint told;  // the serial of the script last told of its absence
};
// The helper's path, or nullptr.
const char* helperPath(Helper* helper);
// True the first time it is asked for this script: say then what its absence leaves out.
bool firstTimeFor(Helper* helper, const Script& script);

// ---- shfmt's syntax tree (parse.cpp, tree.cpp). Commands and word parts are objects with a
// "Type"; every node has "Pos" and "End", each {"Offset", "Line", "Col"} in the parsed text.

// The block's text parsed by shfmt (caller g_object_unrefs), or nullptr when it was not: a
// warning, once per script, when shfmt is missing; a note on the block when shfmt ran too long
// or could not read it.
JsonParser* parseBlock(const Script& script, const Block& block, const ShellView& view);
// The root node of a parsed tree, or nullptr.
JsonObject* treeRoot(JsonParser* tree);

JsonObject* objectAt(JsonObject* node, const char* name);
JsonArray* arrayAt(JsonObject* node, const char* name);
const char* stringAt(JsonObject* node, const char* name);
bool flagAt(JsonObject* node, const char* name);
bool isType(JsonObject* node, const char* type);
// A field of a position member: "Line" (from 1) or "Offset" (bytes from the start).
gint64 position(JsonObject* node, const char* member, const char* field);
JsonObject* elementAt(JsonArray* array, guint index);
guint lengthOf(JsonArray* array);
// Calls visit(data, key, child) for each object below the node: its object members and the
// objects of its array members, in order.
void forEachChild(JsonObject* node, void (*visit)(void* data, const char* key, JsonObject* child),
                  void* data);
// The same with a lambda, visit(key, child).
template <typename Visit>
void eachChild(JsonObject* node, Visit visit) {
    forEachChild(
        node,
        [](void* data, const char* key, JsonObject* child) { (*static_cast<Visit*>(data))(key, child); },
        &visit);
}

// The value of a word written without expansions ("-n", 'a b', "x"), or nullptr. Caller g_frees.
char* literalWord(JsonObject* word);
// The literal text at the start of a word, before its first expansion ("#progress=" of
// "#progress=$p"). Caller g_frees.
char* literalPrefix(JsonObject* word);
// Whether a word with expansions may become several words or none: an unquoted expansion,
// which bash splits, or "$@" and "${list[@]}".
bool mayBeSeveralWords(JsonObject* word);
// The name of the parameter that a word is, as in $saved, "${saved}", or nullptr.
const char* plainParameter(JsonObject* word);

// What an operator does, read from a node's "Op".
enum class Flow { Other, Pipe, Input, Output, BothOutputs, HereDocument };
// A BinaryCmd's, a Redirect's or a ProcSubst's operator: a pipe, a redirection of standard
// input ("<", "<<<", "<&", "<>", "<(") or of an output (">", ">>", ">&", ">|", ">("), both
// outputs ("&>", "&>>"), or a here-document ("<<", "<<-", which also moves standard input).
Flow flowOf(JsonObject* node);
// Whether the parsed tree of "a | b" numbers its operator as this checker reads them.
bool knowsOperators(JsonObject* root);

// ---- A command's words and the one option reader (options.cpp)

// Words with expansions stand as kDynamic (one word) or kMany (any number of words): they may
// be anything, so no finding rests on them.
extern const char kDynamic[];
extern const char kMany[];

struct Words {
    GPtrArray* all;  // char*, owned; kDynamic and kMany entries are not
    guint first;     // the command itself, after wrappers such as `sudo` or `env`
};
// The command's words from its tree; release with releaseWords.
Words wordsOf(JsonArray* args);
void releaseWords(Words* words);
const char* wordAt(const Words& words, guint k);
guint countOf(const Words& words);

// Whether a word is known: neither kDynamic nor kMany (nor nullptr).
bool known(const char* word);

// How a command reads its options: GNU tools anywhere before "--"; builtins and the commands
// that run another command up to the first operand, as POSIX getopt; tar like GNU, and also
// from a first word without "-" ("tar xvf").
enum class OptionStyle { Gnu, Posix, TarFirst };
struct OptionGrammar {
    // getopts-style: each short option letter, ':' after one whose argument is the rest of its
    // word or the next word, "::" after one whose argument can only be the rest of its word.
    const char* letters;
    const char* longArguments;  // long options whose argument may be the next word: "--file --regexp"
    OptionStyle style;
};

struct Option {
    const char* word;      // the word it is written in
    char letter;           // a short option's letter; '\0' for a long one
    const char* argument;  // the rest of its word or the next word, or nullptr
};
struct Reading {
    const Words* words;
    GArray* options;   // Option
    GArray* operands;  // guint: where each word that is no option stands (k of wordAt)
};
// The words after the command's name read by their grammar; without one, every letter is a flag and a
// word with "=" is one option. Release with releaseReading.
Reading readOptions(const Words& words, const OptionGrammar* grammar);
void releaseReading(Reading* reading);
// Whether word is one of the words of list, which blanks separate.
bool listed(const char* list, const char* word);
// The first option given of list ("-e --regexp"; a whole word such as "-qq" also counts), or nullptr.
const Option* firstOf(const Reading& reading, const char* list);
bool has(const Reading& reading, const char* list);
// Where operand index stands among the words (k of wordAt), or 0 past the last.
guint operandIndex(const Reading& reading, guint index);
// The word of operand index, or nullptr past the last.
const char* operandAt(const Reading& reading, guint index);

// ---- The commands' facts (commands.cpp)

// What a command reads, writes and takes, one row per command: every check reads this table.
struct CommandFacts;
const CommandFacts* factsOf(const char* name);

// The reader of standard input that the command is, or nullptr.
const char* stdinReader(const Words& words);
// A package manager that asks before it changes the system, without the -y that answers: it
// reads the answer from standard input. Its name, or nullptr.
const char* askingManager(const Words& words);
// sudo that asks for a password on a terminal: without -n, -A or -S, with something to do.
bool asksOnTerminal(const Words& words);
// Whether the command prints on standard output.
bool printsToStdout(const Words& words);
// Whether it writes in chunks into a pipe unless told to write line by line.
bool buffersOutput(const Words& words);
// Whether it writes a line per file (tar -v, unzip without -q).
bool writesLinePerFile(const Words& words);
// Whether it writes over a long time (a download, a build, a package manager, sleep).
bool writesSlowly(const Words& words);
// Whether it ends or waits for background jobs (wait, kill).
bool stopsJobs(const Words& words);
// cd, pushd or popd: the directory change it makes.
enum class Move { None, Moves, GoesBack };
// *target: where its directory stands among the words (k of wordAt), or 0 for none.
Move moveOf(const Words& words, guint* target);
// The names that the command sets (read NAME, mapfile NAME), in words.all, not owned; caller
// g_ptr_array_frees.
GPtrArray* namesSet(const Words& words);
// What the command prints at the start of an output line: the literal start of echo's words
// or printf's format, or nullptr for other commands. Caller g_frees.
char* printedStart(const Words& words, JsonArray* args);
// The words after a wrapper (sudo, env, nice, stdbuf, timeout, command, exec, nohup) that make
// the command it runs, or 0 when it is none; *lineBuffered set by stdbuf.
guint wrappedCommand(const Words& words, bool* lineBuffered);

// ---- The block's commands (survey.cpp, walk.cpp)

// What the walk needs to know before it starts, found in one pass over the tree.
struct Survey {
    GHashTable* functions;         // name → body statement (keys and values in the tree)
    GHashTable* savedDirectories;  // names set from pwd or $PWD (keys in the tree)
    GHashTable* misread;           // view lines that shfmt reads otherwise than bash (keys: lines)
    GArray* open;                  // gboolean per view line: a here-document or quoted text goes on past it
    bool waits;                    // the block waits for or kills its background jobs
};
// Surveys the parsed block; adds the names it sets to assigned (g_strdup'd keys) unless nullptr.
void surveyBlock(const ShellView& view, JsonParser* tree, GHashTable* assigned, Survey* result);
void releaseSurvey(Survey* survey);

// The findings that need the block's shell commands: reading standard input, cd, sudo,
// background jobs, output. later: some block or stray line runs after this block in silent mode.
void checkCommands(const Script& script, const Block& block, const ShellView& view, JsonParser* tree,
                   bool later);
// ShellCheck's findings on the block's bash text; a note, once, when it is not installed, and
// on the block when it ran too long.
void checkWithShellCheck(const Script& script, const Block& block, const ShellView& view);

// ---- Everything (blocks.cpp, files.cpp)

// Checks one control script, shown in findings as shown; false when it cannot be read.
bool checkScript(const char* path, const char* shown);
// The files beside the control script in an installer directory. directory is where they
// are, shown how it is printed in front of their names ("" for the current one).
void checkLicences(const char* directory, const char* shown);
void checkIcon(const char* directory, const char* shown);
void checkProgram(const char* directory, const char* shown);
