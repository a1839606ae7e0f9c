// What each command reads, writes and takes and how it reads its options, one row per command,
// and the questions that the checks ask of a command's words, each answered from its row.
#include <string.h>

#include "buffers/owned.h"
#include "check/check.h"

namespace {

// What the command is to the walk and the survey, besides its input and output.
enum class Role { None, SetsNames, StopsJobs, Moves, GoesBack, Wraps, WrapsAssignments };

enum class Reads { Nothing, UnlessFiles, Always };

struct Input {
    Reads reads;
    int leading;              // operands before the files (a pattern, a program) or before the command run
    const char* program;      // options whose argument is the pattern or program
    const char* programFile;  // options that name a file holding it
    const char* otherInput;   // options after which it reads no standard input (or no answer)
    const char* alone;        // in its program: lets it run without input, or nullptr
};

// Option and action lists are words separated by blanks. For perFile and slow, nullptr means
// never, "" always, and a list: with one of these options (perFile) or actions (slow).
struct Output {
    bool prints;          // prints on standard output
    const char* quiet;    // options after which it prints nothing
    bool buffers;         // writes in chunks into a pipe, unless told kUnbuffered
    const char* perFile;  // writes a line per file
    const char* slow;     // writes over a long time
};

// Whether the command's options and program make it print nothing, or leave it unsure.
enum class Printing { AsRow, Nothing, Unsure };

}  // namespace

struct CommandFacts {
    const char* name;
    OptionGrammar options;
    Role role;
    Input input;
    Output output;
    const char* asks;  // the actions after which it asks before it changes the system
    Printing (*printing)(const Words& words, const Reading& reading);  // or nullptr
};

namespace {

// The program of sed, awk or perl as written: the argument of its program option, else its
// first operand (operand: it takes one); nullptr when it is in a file or an expansion.
const char* programText(const Reading& reading, const CommandFacts& facts, bool operand) {
    if (has(reading, facts.input.programFile))
        return nullptr;
    const Option* option = firstOf(reading, facts.input.program);
    const char* program = option ? option->argument : operand ? operandAt(reading, 0) : nullptr;
    return known(program) ? program : nullptr;
}

// sed prints only what its program asks for under -n: nothing without p, w, l, r or =.
Printing sedPrinting(const Words&, const Reading& reading) {
    if (!has(reading, "-n --quiet --silent"))
        return Printing::AsRow;
    const char* program = programText(reading, *factsOf("sed"), !has(reading, "-e --expression"));
    return program && !strpbrk(program, "pPwWlr=") ? Printing::Nothing : Printing::Unsure;
}

Printing awkPrinting(const Words& words, const Reading& reading) {
    const char* program = programText(reading, *factsOf(wordAt(words, 0)), true);
    return program && !strstr(program, "print") && !strstr(program, "system") ? Printing::Nothing
                                                                              : Printing::AsRow;
}

// perl -p prints every line, -i writes them back to the file.
Printing perlPrinting(const Words&, const Reading& reading) {
    if (has(reading, "-i -p"))
        return has(reading, "-i") ? Printing::Nothing : Printing::AsRow;
    const char* program = programText(reading, *factsOf("perl"), false);
    return program && !strstr(program, "print") && !strstr(program, "say") && !strstr(program, "system")
               ? Printing::Nothing
               : Printing::AsRow;
}

// find prints nothing when it only deletes or writes files. Its actions are words, not options.
Printing findPrinting(const Words& words, const Reading&) {
    const char kQuiet[] = "-delete -fprint -fprint0 -fprintf -fls";
    const char kPrinting[] = "-print -print0 -printf -ls -exec -execdir -ok -okdir";
    bool quiet = false;
    bool printing = false;
    for (guint k = 1; k < countOf(words); ++k) {
        quiet |= listed(kQuiet, wordAt(words, k));
        printing |= listed(kPrinting, wordAt(words, k));
    }
    return quiet && !printing ? Printing::Nothing : Printing::AsRow;
}

// ---- The rows

const Input kNoInput = {Reads::Nothing, 0, "", "", "", nullptr};
const Input kFiles = {Reads::UnlessFiles, 0, "", "", "", nullptr};
const Input kStdin = {Reads::Always, 0, "", "", "", nullptr};
const Input kGrepInput = {Reads::UnlessFiles, 1, "-e --regexp", "-f --file", "-r -R --recursive", nullptr};
const Input kSedInput = {Reads::UnlessFiles, 1, "-e --expression", "-f --file", "", nullptr};
const Input kAwkInput = {Reads::UnlessFiles, 1, "", "-f --file", "", "BEGIN"};
const Input kPerlInput = {Reads::Nothing, 0, "-e -E", "", "", nullptr};
const Input kReadInput = {Reads::Always, 0, "", "", "-u", nullptr};
const Input kXargsInput = {Reads::Always, 0, "", "", "-a --arg-file", nullptr};
// The answer that a package manager would read: -y gives it.
const Input kAptInput = {Reads::Nothing, 0, "", "", "-y --yes --assume-yes --assumeyes -qq", nullptr};
// sudo reads no password from a terminal with these.
const Input kSudoInput = {Reads::Nothing, 0, "", "", "-n -A -S --non-interactive --askpass --stdin", nullptr};
const Input kTimeoutInput = {Reads::Nothing, 1, "", "", "", nullptr};  // timeout DURATION COMMAND

const Output kNoOutput = {false, "", false, nullptr, nullptr};
const Output kPrints = {true, "", false, nullptr, nullptr};
const Output kFilter = {true, "", true, nullptr, nullptr};    // prints, in chunks into a pipe
const Output kBuffers = {false, "", true, nullptr, nullptr};  // in chunks, whatever it prints
const Output kSlow = {false, "", false, nullptr, ""};
const Output kPerFile = {false, "", false, "-v --verbose", nullptr};
const Output kGrepOutput = {true,
                            "-q -c -l -L --quiet --silent --count --files-with-matches --files-without-match",
                            true, nullptr, nullptr};
const Output kSedOutput = {true, "-i --in-place", true, nullptr, nullptr};
const Output kPrintfOutput = {true, "-v", false, nullptr, nullptr};
const Output kRsyncOutput = {false, "", false, "-v --verbose", ""};
const Output kUnzipOutput = {false, "-q", false, "", nullptr};  // names every file unless -q
const Output kGitOutput = {false, "", false, nullptr, "clone fetch pull push submodule gc"};
const Output kLookup = {false, "-v -V", false, nullptr, nullptr};  // `command -v NAME` runs nothing

const char kUnbuffered[] = "-u --line-buffered --unbuffered";
const char kVerbose[] = "-v --verbose";

const OptionGrammar kNone = {"", "", OptionStyle::Gnu};
const OptionGrammar kBuiltin = {"", "", OptionStyle::Posix};
const OptionGrammar kGrep = {
    "e:f:m:A:B:C:d:D:", "--regexp --file --max-count --context --after-context --before-context",
    OptionStyle::Gnu};
const OptionGrammar kAwk = {"f:v:F:", "--file --assign --field-separator", OptionStyle::Gnu};
const OptionGrammar kPython = {"c:m:W:X:", "", OptionStyle::Posix};
const OptionGrammar kMapfile = {"d:n:O:s:u:C:c:t", "", OptionStyle::Posix};
const OptionGrammar kApt = {"o:c:t:", "", OptionStyle::Gnu};
const OptionGrammar kLinks = {"S:t:", "--suffix --target-directory", OptionStyle::Gnu};

const char kAptChanges[] =
    "install reinstall remove purge erase dist-upgrade full-upgrade autoremove upgrade";
// dnf and yum also update the installed packages with "update"; apt-get only reads lists.
const char kDnfChanges[] =
    "install reinstall remove purge erase dist-upgrade full-upgrade autoremove upgrade update";

// clang-format off
const CommandFacts kCommands[] = {
    // name, options, role, input, output, asks, printing
    {"cat", kNone, Role::None, kFiles, kPrints, nullptr, nullptr},
    {"tac", {"s:", "--separator", OptionStyle::Gnu}, Role::None, kFiles, kPrints, nullptr, nullptr},
    {"nl", {"b:d:f:h:i:l:n:s:v:w:", "", OptionStyle::Gnu}, Role::None, kFiles, kPrints, nullptr, nullptr},
    {"head", {"n:c:", "--lines --bytes", OptionStyle::Gnu}, Role::None, kFiles, kPrints, nullptr, nullptr},
    {"tail", {"n:c:s:", "--lines --bytes", OptionStyle::Gnu}, Role::None, kFiles, kPrints, nullptr, nullptr},
    {"sort", {"k:o:t:S:T:", "--key --output", OptionStyle::Gnu}, Role::None, kFiles, kPrints, nullptr, nullptr},
    {"uniq", {"f:s:w:", "", OptionStyle::Gnu}, Role::None, kFiles, kFilter, nullptr, nullptr},
    {"wc", kNone, Role::None, kFiles, kPrints, nullptr, nullptr},
    {"cut", {"b:c:d:f:", "--bytes --characters --delimiter --fields", OptionStyle::Gnu}, Role::None, kFiles,
     kFilter, nullptr, nullptr},
    {"fold", {"w:", "--width", OptionStyle::Gnu}, Role::None, kFiles, kPrints, nullptr, nullptr},
    {"rev", kNone, Role::None, kFiles, kPrints, nullptr, nullptr},
    {"od", {"A:j:N:t:w:", "", OptionStyle::Gnu}, Role::None, kFiles, kPrints, nullptr, nullptr},
    {"base64", {"w:", "--wrap", OptionStyle::Gnu}, Role::None, kFiles, kPrints, nullptr, nullptr},
    {"md5sum", kNone, Role::None, kFiles, kPrints, nullptr, nullptr},
    {"sha1sum", kNone, Role::None, kFiles, kPrints, nullptr, nullptr},
    {"sha256sum", kNone, Role::None, kFiles, kPrints, nullptr, nullptr},
    {"sha512sum", kNone, Role::None, kFiles, kPrints, nullptr, nullptr},
    {"grep", kGrep, Role::None, kGrepInput, kGrepOutput, nullptr, nullptr},
    {"egrep", kGrep, Role::None, kGrepInput, kGrepOutput, nullptr, nullptr},
    {"fgrep", kGrep, Role::None, kGrepInput, kGrepOutput, nullptr, nullptr},
    {"sed", {"e:f:l:i::", "--expression --file --line-length", OptionStyle::Gnu}, Role::None, kSedInput,
     kSedOutput, nullptr, sedPrinting},
    {"awk", kAwk, Role::None, kAwkInput, kFilter, nullptr, awkPrinting},
    {"gawk", kAwk, Role::None, kAwkInput, kFilter, nullptr, awkPrinting},
    {"mawk", kAwk, Role::None, kAwkInput, kFilter, nullptr, awkPrinting},
    {"perl", {"e:E:I:M:m:l::i::0::", "", OptionStyle::Posix}, Role::None, kPerlInput, kBuffers, nullptr,
     perlPrinting},
    {"python", kPython, Role::None, kNoInput, kBuffers, nullptr, nullptr},
    {"python3", kPython, Role::None, kNoInput, kBuffers, nullptr, nullptr},
    {"tr", kNone, Role::None, kStdin, kFilter, nullptr, nullptr},
    {"tee", kNone, Role::None, kStdin, kPrints, nullptr, nullptr},
    {"xargs", {"a:d:E:I:L:n:P:s:", "--arg-file --delimiter", OptionStyle::Posix}, Role::None, kXargsInput,
     kNoOutput, nullptr, nullptr},
    {"read", {"a:d:i:n:N:p:t:u:ers", "", OptionStyle::Posix}, Role::SetsNames, kReadInput, kNoOutput, nullptr,
     nullptr},
    {"mapfile", kMapfile, Role::SetsNames, kReadInput, kNoOutput, nullptr, nullptr},
    {"readarray", kMapfile, Role::SetsNames, kReadInput, kNoOutput, nullptr, nullptr},
    {"getopts", kBuiltin, Role::SetsNames, kNoInput, kNoOutput, nullptr, nullptr},
    {"echo", kBuiltin, Role::None, kNoInput, kPrints, nullptr, nullptr},
    {"printf", {"v:", "", OptionStyle::Posix}, Role::None, kNoInput, kPrintfOutput, nullptr, nullptr},
    {"ls", kNone, Role::None, kNoInput, kPrints, nullptr, nullptr},
    {"pwd", kBuiltin, Role::None, kNoInput, kPrints, nullptr, nullptr},
    {"date", {"d:f:r:", "--date --file --reference", OptionStyle::Gnu}, Role::None, kNoInput, kPrints, nullptr,
     nullptr},
    {"df", kNone, Role::None, kNoInput, kPrints, nullptr, nullptr},
    {"du", kNone, Role::None, kNoInput, kPrints, nullptr, nullptr},
    {"printenv", kNone, Role::None, kNoInput, kPrints, nullptr, nullptr},
    {"id", kNone, Role::None, kNoInput, kPrints, nullptr, nullptr},
    {"uname", kNone, Role::None, kNoInput, kPrints, nullptr, nullptr},
    {"whoami", kNone, Role::None, kNoInput, kPrints, nullptr, nullptr},
    {"find", kNone, Role::None, kNoInput, kPrints, nullptr, findPrinting},
    {"diff", kNone, Role::None, kNoInput, kPrints, nullptr, nullptr},
    {"which", kNone, Role::None, kNoInput, kPrints, nullptr, nullptr},
    {"type", kBuiltin, Role::None, kNoInput, kPrints, nullptr, nullptr},
    {"ps", kNone, Role::None, kNoInput, kPrints, nullptr, nullptr},
    {"free", kNone, Role::None, kNoInput, kPrints, nullptr, nullptr},
    {"tar", {"f:C:b:T:X:g:K:N:V:", "--file --directory --files-from --exclude-from", OptionStyle::TarFirst},
     Role::None, kNoInput, kPerFile, nullptr, nullptr},
    {"cp", kLinks, Role::None, kNoInput, kPerFile, nullptr, nullptr},
    {"mv", kLinks, Role::None, kNoInput, kPerFile, nullptr, nullptr},
    {"ln", kLinks, Role::None, kNoInput, kPerFile, nullptr, nullptr},
    {"rm", kNone, Role::None, kNoInput, kPerFile, nullptr, nullptr},
    {"mkdir", {"m:", "--mode", OptionStyle::Gnu}, Role::None, kNoInput, kPerFile, nullptr, nullptr},
    {"chmod", {"", "--reference", OptionStyle::Gnu}, Role::None, kNoInput, kPerFile, nullptr, nullptr},
    {"chown", {"", "--reference", OptionStyle::Gnu}, Role::None, kNoInput, kPerFile, nullptr, nullptr},
    {"install", {"g:m:o:S:t:", "--group --mode --owner --suffix --target-directory", OptionStyle::Gnu},
     Role::None, kNoInput, kPerFile, nullptr, nullptr},
    {"cpio", kNone, Role::None, kNoInput, kPerFile, nullptr, nullptr},
    {"unzip", {"d:x:P:", "", OptionStyle::Gnu}, Role::None, kNoInput, kUnzipOutput, nullptr, nullptr},
    {"rsync", {"e:f:B:T:", "--rsh --filter --exclude --include", OptionStyle::Gnu}, Role::None, kNoInput,
     kRsyncOutput, nullptr, nullptr},
    {"apt-get", kApt, Role::None, kAptInput, kSlow, kAptChanges, nullptr},
    {"apt", kApt, Role::None, kAptInput, kSlow, kAptChanges, nullptr},
    {"dnf", kApt, Role::None, kAptInput, kSlow, kDnfChanges, nullptr},
    {"yum", kApt, Role::None, kAptInput, kSlow, kDnfChanges, nullptr},
    {"aptitude", kNone, Role::None, kNoInput, kSlow, nullptr, nullptr},
    {"zypper", kNone, Role::None, kNoInput, kSlow, nullptr, nullptr},
    {"make", kNone, Role::None, kNoInput, kSlow, nullptr, nullptr},
    {"cmake", kNone, Role::None, kNoInput, kSlow, nullptr, nullptr},
    {"ninja", kNone, Role::None, kNoInput, kSlow, nullptr, nullptr},
    {"meson", kNone, Role::None, kNoInput, kSlow, nullptr, nullptr},
    {"wget", kNone, Role::None, kNoInput, kSlow, nullptr, nullptr},
    {"curl", kNone, Role::None, kNoInput, kSlow, nullptr, nullptr},
    {"pip", kNone, Role::None, kNoInput, kSlow, nullptr, nullptr},
    {"pip3", kNone, Role::None, kNoInput, kSlow, nullptr, nullptr},
    {"npm", kNone, Role::None, kNoInput, kSlow, nullptr, nullptr},
    {"yarn", kNone, Role::None, kNoInput, kSlow, nullptr, nullptr},
    {"cargo", kNone, Role::None, kNoInput, kSlow, nullptr, nullptr},
    {"ping", kNone, Role::None, kNoInput, kSlow, nullptr, nullptr},
    {"sleep", kNone, Role::None, kNoInput, kSlow, nullptr, nullptr},
    {"dd", kNone, Role::None, kNoInput, kSlow, nullptr, nullptr},
    {"scp", kNone, Role::None, kNoInput, kSlow, nullptr, nullptr},
    {"ssh", kNone, Role::None, kNoInput, kSlow, nullptr, nullptr},
    {"docker", kNone, Role::None, kNoInput, kSlow, nullptr, nullptr},
    {"podman", kNone, Role::None, kNoInput, kSlow, nullptr, nullptr},
    {"git", {"C:c:", "", OptionStyle::Posix}, Role::None, kNoInput, kGitOutput, nullptr, nullptr},
    {"wait", kBuiltin, Role::StopsJobs, kNoInput, kNoOutput, nullptr, nullptr},
    {"kill", kBuiltin, Role::StopsJobs, kNoInput, kNoOutput, nullptr, nullptr},
    {"pkill", kNone, Role::StopsJobs, kNoInput, kNoOutput, nullptr, nullptr},
    {"killall", kNone, Role::StopsJobs, kNoInput, kNoOutput, nullptr, nullptr},
    {"cd", kBuiltin, Role::Moves, kNoInput, kNoOutput, nullptr, nullptr},
    {"pushd", kBuiltin, Role::Moves, kNoInput, kNoOutput, nullptr, nullptr},
    {"popd", kBuiltin, Role::GoesBack, kNoInput, kNoOutput, nullptr, nullptr},
    // Wrappers: the command they run comes after their options and `leading` operands.
    {"sudo", {"u:g:p:C:U:r:t:D:R:T:", "--user --group --prompt --close-from --other-user --role --type",
              OptionStyle::Posix}, Role::Wraps, kSudoInput, kNoOutput, nullptr, nullptr},
    {"nice", {"n:", "--adjustment", OptionStyle::Posix}, Role::Wraps, kNoInput, kNoOutput, nullptr, nullptr},
    {"stdbuf", {"i:o:e:", "", OptionStyle::Posix}, Role::Wraps, kNoInput, kNoOutput, nullptr, nullptr},
    {"timeout", {"s:k:", "--signal --kill-after", OptionStyle::Posix}, Role::Wraps, kTimeoutInput, kNoOutput,
     nullptr, nullptr},
    {"nohup", kBuiltin, Role::Wraps, kNoInput, kNoOutput, nullptr, nullptr},
    {"exec", {"a:", "", OptionStyle::Posix}, Role::Wraps, kNoInput, kNoOutput, nullptr, nullptr},
    {"builtin", kBuiltin, Role::Wraps, kNoInput, kNoOutput, nullptr, nullptr},
    {"command", kBuiltin, Role::Wraps, kNoInput, kLookup, nullptr, nullptr},
    {"env", {"u:C:S:", "--unset --chdir --split-string", OptionStyle::Posix}, Role::WrapsAssignments, kNoInput,
     kPrints, nullptr, nullptr},
};
// clang-format on

// Reads the words by the option grammar of their command's row.
struct Read {
    const CommandFacts* facts;  // nullptr for a command without a row
    Reading reading;
    explicit Read(const Words& words)
        : facts(factsOf(wordAt(words, 0))), reading(readOptions(words, facts ? &facts->options : nullptr)) {}
    ~Read() { releaseReading(&reading); }
    Read(const Read&) = delete;
    Read& operator=(const Read&) = delete;
};

Printing printingOf(const Words& words, const Read& read) {
    if (!read.facts)
        return Printing::AsRow;
    if (has(read.reading, read.facts->output.quiet))
        return Printing::Nothing;
    return read.facts->printing ? read.facts->printing(words, read.reading) : Printing::AsRow;
}

// Whether a filter names no file to read (or names "-"), so that it reads standard input.
bool readsNoFile(const Read& read) {
    const Input& input = read.facts->input;
    int leading =
        has(read.reading, input.program) || has(read.reading, input.programFile) ? 0 : input.leading;
    int files = 0;
    for (guint i = 0; i < read.reading.operands->len; ++i) {
        const char* word = operandAt(read.reading, i);
        if (word == kMany)
            return false;  // may hold the pattern and files
        if (known(word) && leading > 0 && input.alone && strstr(word, input.alone))
            return false;
        if (leading > 0)
            --leading;
        else if (strcmp(word, "-") == 0)
            return true;
        else
            ++files;
    }
    return files == 0 && leading == 0;
}

}  // namespace

const CommandFacts* factsOf(const char* name) {
    for (const CommandFacts& facts : kCommands) {
        if (strcmp(name, facts.name) == 0)
            return &facts;
    }
    return nullptr;
}

const char* stdinReader(const Words& words) {
    Read read(words);
    if (!read.facts || read.facts->input.reads == Reads::Nothing ||
        has(read.reading, read.facts->input.otherInput))
        return nullptr;
    return read.facts->input.reads == Reads::Always || readsNoFile(read) ? read.facts->name : nullptr;
}

const char* askingManager(const Words& words) {
    Read read(words);
    if (!read.facts || !read.facts->asks || has(read.reading, read.facts->input.otherInput))
        return nullptr;
    for (guint k = 1; k < countOf(words); ++k) {
        if (!known(wordAt(words, k)))
            return nullptr;
    }
    const char* action = operandAt(read.reading, 0);
    return action && listed(read.facts->asks, action) ? read.facts->name : nullptr;
}

bool asksOnTerminal(const Words& words) {
    if (strcmp(wordAt(words, 0), "sudo") != 0)
        return false;
    Read read(words);
    bool nothingToRun = read.reading.operands->len == 0 && has(read.reading, "-k -K -h -V --help --version");
    return !has(read.reading, read.facts->input.otherInput) && !nothingToRun;
}

bool printsToStdout(const Words& words) {
    Read read(words);
    Printing printing = printingOf(words, read);
    if (printing != Printing::AsRow)
        return false;
    return (read.facts && read.facts->output.prints) || has(read.reading, kVerbose);
}

bool buffersOutput(const Words& words) {
    Read read(words);
    return read.facts && read.facts->output.buffers && !has(read.reading, kUnbuffered) &&
           printingOf(words, read) != Printing::Nothing;
}

bool writesLinePerFile(const Words& words) {
    Read read(words);
    const char* perFile = read.facts ? read.facts->output.perFile : nullptr;
    if (!perFile || has(read.reading, read.facts->output.quiet))
        return false;
    return *perFile == '\0' || has(read.reading, perFile);
}

bool writesSlowly(const Words& words) {
    const CommandFacts* facts = factsOf(wordAt(words, 0));
    const char* slow = facts ? facts->output.slow : nullptr;
    if (!slow || *slow == '\0')
        return slow != nullptr;
    Read read(words);
    const char* action = operandAt(read.reading, 0);
    return known(action) && listed(slow, action);
}

bool stopsJobs(const Words& words) {
    const CommandFacts* facts = factsOf(wordAt(words, 0));
    return facts && facts->role == Role::StopsJobs;
}

Move moveOf(const Words& words, guint* target) {
    Read read(words);
    Role role = read.facts ? read.facts->role : Role::None;
    // "-", the directory before, is an operand.
    *target = operandIndex(read.reading, 0);
    return role == Role::Moves ? Move::Moves : role == Role::GoesBack ? Move::GoesBack : Move::None;
}

GPtrArray* namesSet(const Words& words) {
    GPtrArray* names = g_ptr_array_new();
    Read read(words);
    if (read.facts && read.facts->role == Role::SetsNames) {
        // getopts OPTSTRING NAME: the names come after the leading operand.
        guint first = strcmp(read.facts->name, "getopts") == 0 ? 1 : 0;
        for (guint i = first; i < read.reading.operands->len; ++i) {
            if (known(operandAt(read.reading, i)))
                g_ptr_array_add(names, const_cast<char*>(operandAt(read.reading, i)));
        }
    }
    return names;
}

char* printedStart(const Words& words, JsonArray* args) {
    const char* name = wordAt(words, 0);
    bool echo = strcmp(name, "echo") == 0;
    if (!echo && strcmp(name, "printf") != 0)
        return nullptr;
    // echo's own options come first; printf's format is its first word after -v NAME.
    guint k = 1;
    while (k < countOf(words) && known(wordAt(words, k)) && wordAt(words, k)[0] == '-' &&
           (echo ? strspn(wordAt(words, k) + 1, "neE") == strlen(wordAt(words, k) + 1) : true))
        k += !echo && strcmp(wordAt(words, k), "-v") == 0 ? 2 : 1;
    guint index = words.first + k;
    return index < lengthOf(args) ? literalPrefix(elementAt(args, index)) : nullptr;
}

guint wrappedCommand(const Words& words, bool* lineBuffered) {
    Read read(words);
    if (!read.facts || (read.facts->role != Role::Wraps && read.facts->role != Role::WrapsAssignments) ||
        has(read.reading, read.facts->output.quiet))
        return 0;
    guint skip = static_cast<guint>(read.facts->input.leading);
    while (read.facts->role == Role::WrapsAssignments && skip < read.reading.operands->len &&
           known(operandAt(read.reading, skip)) && strchr(operandAt(read.reading, skip), '='))
        ++skip;
    guint command = operandIndex(read.reading, skip);
    *lineBuffered |= command && strcmp(read.facts->name, "stdbuf") == 0;
    return command;
}
