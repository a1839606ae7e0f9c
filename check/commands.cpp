// The commands of a block's bash text, read from shfmt's syntax tree, and what they do
// differently under Ostrel: reading standard input, cd, sudo, background jobs, output that is
// shown or kept, empty lines that go missing.
#include <json-glib/json-glib.h>
#include <string.h>

#include "buffers/owned.h"
#include "check/check.h"

namespace {

// ---- shfmt's tree: commands and word parts are objects with a "Type"; every node has "Pos"
// and "End", each {"Offset", "Line", "Col"} in the text that was parsed.

JsonObject* objectAt(JsonObject* node, const char* name) {
    JsonNode* member = node ? json_object_get_member(node, name) : nullptr;
    return member && JSON_NODE_HOLDS_OBJECT(member) ? json_node_get_object(member) : nullptr;
}

JsonArray* arrayAt(JsonObject* node, const char* name) {
    JsonNode* member = node ? json_object_get_member(node, name) : nullptr;
    return member && JSON_NODE_HOLDS_ARRAY(member) ? json_node_get_array(member) : nullptr;
}

const char* stringAt(JsonObject* node, const char* name) {
    JsonNode* member = node ? json_object_get_member(node, name) : nullptr;
    return member && JSON_NODE_HOLDS_VALUE(member) && json_node_get_value_type(member) == G_TYPE_STRING
               ? json_node_get_string(member)
               : nullptr;
}

bool flagAt(JsonObject* node, const char* name) {
    JsonNode* member = node ? json_object_get_member(node, name) : nullptr;
    return member && JSON_NODE_HOLDS_VALUE(member) && json_node_get_value_type(member) == G_TYPE_BOOLEAN &&
           json_node_get_boolean(member);
}

bool isType(JsonObject* node, const char* type) {
    const char* written = stringAt(node, "Type");
    return written && strcmp(written, type) == 0;
}

// A field of a position member: "Line" (from 1) or "Offset" (bytes from the start).
gint64 position(JsonObject* node, const char* member, const char* field) {
    JsonObject* at = objectAt(node, member);
    JsonNode* value = at ? json_object_get_member(at, field) : nullptr;
    return value && JSON_NODE_HOLDS_VALUE(value) ? json_node_get_int(value) : 0;
}

JsonObject* elementAt(JsonArray* array, guint index) {
    JsonNode* element = json_array_get_element(array, index);
    return JSON_NODE_HOLDS_OBJECT(element) ? json_node_get_object(element) : nullptr;
}

guint lengthOf(JsonArray* array) {
    return array ? json_array_get_length(array) : 0;
}

// Calls visit(key, child) for each object below the node: its object members and the objects
// of its array members, in order.
template <typename Visit>
void eachChild(JsonObject* node, Visit visit) {  // NOLINT(misc-no-recursion)
    GList* members = json_object_get_members(node);
    for (GList* member = members; member; member = member->next) {
        const char* key = static_cast<const char*>(member->data);
        JsonNode* value = json_object_get_member(node, key);
        if (JSON_NODE_HOLDS_OBJECT(value)) {
            visit(key, json_node_get_object(value));
        } else if (JSON_NODE_HOLDS_ARRAY(value)) {
            JsonArray* array = json_node_get_array(value);
            for (guint i = 0; i < lengthOf(array); ++i) {
                if (JsonObject* element = elementAt(array, i))
                    visit(key, element);
            }
        }
    }
    g_list_free(members);
}

// The value of a word written without expansions ("-n", 'a b', "x"), or nullptr. Caller g_frees.
char* literalWord(JsonObject* word) {
    GString* value = g_string_new(nullptr);
    JsonArray* parts = arrayAt(word, "Parts");
    bool literal = parts != nullptr;
    for (guint i = 0; literal && i < lengthOf(parts); ++i) {
        JsonObject* part = elementAt(parts, i);
        const char* text = stringAt(part, "Value");
        // Backslashes would need bash's own unquoting: such a word counts as unknown.
        bool plain = isType(part, "Lit") && text && !strchr(text, '\\');
        bool singleQuoted =
            isType(part, "SglQuoted") && text && !(flagAt(part, "Dollar") && strchr(text, '\\'));
        if (plain || singleQuoted) {
            g_string_append(value, text);
        } else if (isType(part, "DblQuoted")) {
            JsonArray* inside = arrayAt(part, "Parts");
            for (guint k = 0; literal && k < lengthOf(inside); ++k) {
                JsonObject* piece = elementAt(inside, k);
                const char* pieceText = stringAt(piece, "Value");
                literal = isType(piece, "Lit") && pieceText && !strchr(pieceText, '\\');
                if (literal)
                    g_string_append(value, pieceText);
            }
        } else {
            literal = false;
        }
    }
    return g_string_free(value, !literal);
}

// ---- What a command's words say. Words with expansions stand as kDynamic: they may be
// anything, so no finding rests on them.

const char kDynamic[] = "\x01";
// An expansion that may give several words: "$@", ${list[@]}, $*.
const char kMany[] = "\x02";

struct Words {
    GPtrArray* all;  // char*, owned; kDynamic entries are not
    guint first;     // the command itself, after wrappers such as `sudo` or `env`
};

const char* wordAt(const Words& words, guint k) {
    guint index = words.first + k;
    return index < words.all->len ? static_cast<const char*>(g_ptr_array_index(words.all, index)) : "";
}

guint countOf(const Words& words) {
    return words.all->len - words.first;
}

bool isOneOf(const char* word, const char* const* list) {
    for (; *list; ++list) {
        if (strcmp(word, *list) == 0)
            return true;
    }
    return false;
}

bool isOption(const char* word) {
    return word[0] == '-' && word[1];
}

// sudo's short options that take an argument.
const char kSudoWithArgument[] = "ugpCUrtDRT";
// The long options that make sed print only what its program asks for.
const char* const kSedQuiet[] = {"--quiet", "--silent", nullptr};

// A short option cluster ("-qs", "-n5") that holds one of letters before any letter of
// withArgument ends it.
bool clusterHas(const char* word, const char* letters, const char* withArgument) {
    if (word[0] != '-' || word[1] == '-')
        return false;
    for (const char* letter = word + 1; *letter; ++letter) {
        if (strchr(letters, *letter))
            return true;
        if (strchr(withArgument, *letter))
            return false;
    }
    return false;
}

// Whether an option before "--" is one of longNames or a cluster with one of letters.
bool hasOption(const Words& words, const char* letters, const char* withArgument,
               const char* const* longNames) {
    for (guint k = 1; k < countOf(words); ++k) {
        const char* word = wordAt(words, k);
        if (strcmp(word, "--") == 0)
            return false;
        size_t name = strcspn(word, "=");
        for (const char* const* longName = longNames; *longName; ++longName) {
            if (strlen(*longName) == name && strncmp(word, *longName, name) == 0)
                return true;
        }
        if (clusterHas(word, letters, withArgument))
            return true;
    }
    return false;
}

// A command that takes its input from standard input unless it names a file.
struct InputReader {
    const char* name;
    const char* argumentOptions;  // short options whose argument may be the next word
    const char* programOptions;   // short options that give the pattern or program instead
    const char* longProgram;      // the long forms of those, "" when there is none
    const char* ownInput;         // short options that make it read no input ("" for none)
    const char* alone;            // in its program: may run without input (nullptr for none)
    int leading;                  // operands before the files: a pattern or a program
};

// grep -r with no file searches the working directory; awk 'BEGIN { … }' reads nothing.
const InputReader kInputReaders[] = {
    {"cat", "", "", "", "", nullptr, 0},
    {"tac", "s", "", "", "", nullptr, 0},
    {"nl", "bdfhilnsvw", "", "", "", nullptr, 0},
    {"head", "nc", "", "", "", nullptr, 0},
    {"tail", "ncs", "", "", "", nullptr, 0},
    {"sort", "kotST", "", "", "", nullptr, 0},
    {"uniq", "fsw", "", "", "", nullptr, 0},
    {"wc", "", "", "", "", nullptr, 0},
    {"cut", "bcdf", "", "", "", nullptr, 0},
    {"fold", "w", "", "", "", nullptr, 0},
    {"rev", "", "", "", "", nullptr, 0},
    {"od", "AjNtw", "", "", "", nullptr, 0},
    {"base64", "w", "", "", "", nullptr, 0},
    {"md5sum", "", "", "", "", nullptr, 0},
    {"sha1sum", "", "", "", "", nullptr, 0},
    {"sha256sum", "", "", "", "", nullptr, 0},
    {"sha512sum", "", "", "", "", nullptr, 0},
    {"grep", "efmABCdD", "ef", "--regexp", "rR", nullptr, 1},
    {"egrep", "efmABCdD", "ef", "--regexp", "rR", nullptr, 1},
    {"fgrep", "efmABCdD", "ef", "--regexp", "rR", nullptr, 1},
    {"sed", "efl", "ef", "--expression", "", nullptr, 1},
    {"awk", "fvF", "f", "--file", "", "BEGIN", 1},
    {"gawk", "fvF", "f", "--file", "", "BEGIN", 1},
    {"mawk", "fvF", "f", "--file", "", "BEGIN", 1},
};

// Whether a filter names no file to read (or names "-"), so that it reads standard input.
// Options may stand anywhere before "--", as GNU tools take them.
bool readsNoFile(const Words& words, const InputReader& reader) {
    int leading = reader.leading;
    size_t longLength = strlen(reader.longProgram);
    for (guint k = 1; k < countOf(words); ++k) {
        const char* word = wordAt(words, k);
        if (strcmp(word, "--") == 0)
            break;
        if (longLength && strncmp(word, reader.longProgram, longLength) == 0)
            leading = 0;
        if (clusterHas(word, reader.programOptions, reader.argumentOptions))
            leading = 0;
        if (clusterHas(word, reader.ownInput, reader.argumentOptions) ||
            (*reader.ownInput && strcmp(word, "--recursive") == 0))
            return false;
    }
    int files = 0;
    bool options = true;
    for (guint k = 1; k < countOf(words); ++k) {
        const char* word = wordAt(words, k);
        if (word == kMany) {
            return false;  // may hold the pattern and files
        } else if (word == kDynamic) {
            // The pattern or program when one is still due, else files.
            if (leading > 0)
                --leading;
            else
                ++files;
        } else if (options && strcmp(word, "--") == 0) {
            options = false;
        } else if (options && word[0] == '-' && word[1] == '-') {
            if (longLength && strcmp(word, reader.longProgram) == 0)
                ++k;
        } else if (options && isOption(word)) {
            for (const char* letter = word + 1; *letter; ++letter) {
                if (strchr(reader.argumentOptions, *letter)) {
                    k += letter[1] ? 0 : 1;
                    break;
                }
            }
        } else if (leading > 0) {
            if (reader.alone && strstr(word, reader.alone))
                return false;
            --leading;
        } else if (strcmp(word, "-") == 0) {
            return true;
        } else {
            ++files;
        }
    }
    return files == 0 && leading == 0;
}

// The reader of standard input that the command is, or nullptr.
const char* stdinReader(const Words& words) {
    // These read standard input whatever their operands, unless told to read another input.
    static const char* const kAlways[] = {"read", "mapfile", "readarray", "tee", "tr", "xargs", nullptr};
    static const char* const kOtherInput[] = {"--arg-file", nullptr};
    const char* name = wordAt(words, 0);
    if (isOneOf(name, kAlways))
        return hasOption(words, strcmp(name, "xargs") == 0 ? "a" : "u", "", kOtherInput) ? nullptr : name;
    for (const InputReader& reader : kInputReaders) {
        if (strcmp(name, reader.name) == 0)
            return readsNoFile(words, reader) ? name : nullptr;
    }
    return nullptr;
}

// A package manager that asks before it changes the system, without the -y that answers for
// it: it reads the answer from standard input. Its name, or nullptr.
const char* askingManager(const Words& words) {
    static const char* const kManagers[] = {"apt-get", "apt", "dnf", "yum", nullptr};
    static const char* const kChanges[] = {"install",      "reinstall",    "remove",     "purge",   "erase",
                                           "dist-upgrade", "full-upgrade", "autoremove", "upgrade", nullptr};
    static const char* const kYes[] = {"--yes", "--assume-yes", "--assumeyes", "-qq", nullptr};
    static const char* const kWithArgument[] = {"-o", "-c", "-t", nullptr};
    // These also update the installed packages with "update"; apt-get only reads lists with it.
    static const char* const kUpdating[] = {"dnf", "yum", nullptr};
    const char* manager = wordAt(words, 0);
    if (!isOneOf(manager, kManagers))
        return nullptr;
    const char* action = nullptr;
    for (guint k = 1; k < countOf(words); ++k) {
        const char* word = wordAt(words, k);
        if (word == kDynamic || word == kMany || isOneOf(word, kYes) || clusterHas(word, "y", ""))
            return nullptr;
        if (isOneOf(word, kWithArgument))
            ++k;
        else if (word[0] != '-' && !action)
            action = word;
    }
    bool update = action && strcmp(action, "update") == 0 && isOneOf(manager, kUpdating);
    return action && (isOneOf(action, kChanges) || update) ? manager : nullptr;
}

// sudo that asks for a password on a terminal: without -n, -A or -S, and not only -k or -K.
bool asksOnTerminal(const Words& words) {
    static const char* const kNoAsking[] = {"--non-interactive", "--askpass", "--stdin", nullptr};
    static const char* const kNothingToRun[] = {"-k", "-K", "-h", "-V", "--help", "--version", nullptr};
    if (strcmp(wordAt(words, 0), "sudo") != 0 || hasOption(words, "nAS", kSudoWithArgument, kNoAsking))
        return false;
    return !(countOf(words) == 2 && isOneOf(wordAt(words, 1), kNothingToRun));
}

// A short option cluster such as "-xvf" (or tar's "xvf") that holds v, or --verbose.
bool verbose(const Words& words) {
    for (guint k = 1; k < countOf(words); ++k) {
        const char* word = wordAt(words, k);
        bool cluster = word[0] == '-' && word[1] != '-';
        bool tarStyle = k == 1 && strcmp(wordAt(words, 0), "tar") == 0 && word[0] != '-';
        if (strcmp(word, "--verbose") == 0 ||
            ((cluster || tarStyle) && strchr(word, 'v') && !strchr(word, '=')))
            return true;
    }
    return false;
}

// The program text of sed, awk or perl, written out as the argument of programLetter ('\0' for
// none) or as the first operand; nullptr when it is not written out (a file, an expansion).
// Not owned.
const char* programOf(const Words& words, char programLetter, const char* argumentOptions, bool operand) {
    for (guint k = 1; k < countOf(words); ++k) {
        const char* word = wordAt(words, k);
        if (word == kDynamic || word == kMany)
            return nullptr;
        if (!isOption(word) || strcmp(word, "--") == 0) {
            guint at = strcmp(word, "--") == 0 ? k + 1 : k;
            const char* program = at < countOf(words) ? wordAt(words, at) : nullptr;
            if (!operand)
                continue;
            return program != kDynamic && program != kMany ? program : nullptr;
        }
        for (const char* letter = word + 1; *letter && word[1] != '-'; ++letter) {
            if (programLetter && *letter == programLetter) {
                const char* program = letter[1]                ? letter + 1
                                      : k + 1 < countOf(words) ? wordAt(words, k + 1)
                                                               : "";
                return program != kDynamic && program != kMany ? program : nullptr;
            }
            if (strchr(argumentOptions, *letter)) {
                if (*letter == 'f')
                    return nullptr;  // the program is in a file
                k += letter[1] ? 0 : 1;
                break;
            }
        }
    }
    return nullptr;
}

// Commands whose options or program make them write nothing on standard output (grep -q,
// sed -n without p, sed -i, an awk program without print).
bool printsNothing(const Words& words) {
    static const char* const kGrepQuiet[] = {
        "--quiet", "--silent", "--count", "--files-with-matches", "--files-without-match", nullptr};
    static const char* const kInPlace[] = {"--in-place", nullptr};
    static const char* const kNone[] = {nullptr};
    static const char* const kGreps[] = {"grep", "egrep", "fgrep", nullptr};
    static const char* const kAwks[] = {"awk", "gawk", "mawk", nullptr};
    const char* name = wordAt(words, 0);
    if (isOneOf(name, kGreps))
        return hasOption(words, "qclL", "efmABCdD", kGrepQuiet);
    if (strcmp(name, "sed") == 0) {
        if (hasOption(words, "i", "efl", kInPlace))
            return true;
        const char* program = programOf(words, 'e', "fl", !hasOption(words, "e", "fl", kNone));
        return hasOption(words, "n", "efl", kSedQuiet) && program && !strpbrk(program, "pPwWlr=");
    }
    if (isOneOf(name, kAwks)) {
        const char* program = programOf(words, '\0', "fvF", true);
        return program && !strstr(program, "print") && !strstr(program, "system");
    }
    if (strcmp(name, "perl") == 0) {
        if (hasOption(words, "ip", "eEIlMm", kNone))
            return hasOption(words, "i", "eEIlMm", kNone);
        const char* program = programOf(words, 'e', "IlMm", false);
        return program && !strstr(program, "print") && !strstr(program, "say") && !strstr(program, "system");
    }
    return false;
}

bool printsToStdout(const Words& words) {
    static const char* const kPrinters[] = {
        "echo",  "printf", "cat",  "ls",   "pwd",   "date", "df",  "du",   "env",   "printenv", "id",
        "uname", "whoami", "head", "tail", "grep",  "sed",  "awk", "sort", "uniq",  "wc",       "cut",
        "tr",    "tee",    "find", "diff", "which", "type", "ps",  "free", nullptr,
    };
    // find prints nothing when it only deletes or writes files, and which lines sed -n prints
    // depends on its program.
    static const char* const kFindQuiet[] = {"-delete", "-fprint", "-fprint0", "-fprintf", "-fls", nullptr};
    static const char* const kFindPrinting[] = {"-print",   "-print0", "-printf", "-ls",  "-exec",
                                                "-execdir", "-ok",     "-okdir",  nullptr};
    const char* name = wordAt(words, 0);
    bool findQuiet = false;
    bool findPrinting = false;
    for (guint k = 1; strcmp(name, "find") == 0 && k < countOf(words); ++k) {
        findQuiet |= isOneOf(wordAt(words, k), kFindQuiet);
        findPrinting |= isOneOf(wordAt(words, k), kFindPrinting);
    }
    if (printsNothing(words) || (findQuiet && !findPrinting) ||
        (strcmp(name, "sed") == 0 && hasOption(words, "n", "efl", kSedQuiet)))
        return false;
    return isOneOf(name, kPrinters) || verbose(words);
}

// Wrappers whose options may take an argument, and the operands before the command they run.
struct Wrapper {
    const char* name;
    const char* withArgument;  // short options whose argument may be the next word
    guint operands;            // timeout DURATION COMMAND
};
const Wrapper kWrappers[] = {
    {"sudo", kSudoWithArgument, 0},
    {"nice", "n", 0},
    {"stdbuf", "ioe", 0},
    {"timeout", "sk", 1},
};

// Wrappers that run the command after their own options: the checks look at that command.
guint skipWrappers(const Words& words) {
    static const char* const kPlain[] = {"command", "builtin", "exec", "nohup", nullptr};
    const char* name = wordAt(words, 0);
    const Wrapper* wrapper = nullptr;
    for (const Wrapper& known : kWrappers) {
        if (strcmp(name, known.name) == 0)
            wrapper = &known;
    }
    guint k = 1;
    if (isOneOf(name, kPlain)) {
        while (k < countOf(words) && isOption(wordAt(words, k))) {
            // `command -v NAME` only looks NAME up.
            if (strpbrk(wordAt(words, k), "vV"))
                return 0;
            ++k;
        }
    } else if (strcmp(name, "env") == 0) {
        while (k < countOf(words) && (isOption(wordAt(words, k)) || strchr(wordAt(words, k), '=')))
            ++k;
    } else if (wrapper) {
        while (k < countOf(words) && isOption(wordAt(words, k))) {
            const char* word = wordAt(words, k);
            bool separate = word[1] != '-' && word[2] == '\0' && strchr(wrapper->withArgument, word[1]);
            k += separate ? 2 : 1;
        }
        k += wrapper->operands;
    } else {
        return 0;
    }
    return k < countOf(words) ? k : 0;
}

// ---- The walk. Where standard input and output go is decided from the tree, statement by
// statement, as bash sets them up.

struct Context {
    bool stdinIsBlock;  // standard input is the block's own text
    bool pipedIn;       // standard input is a pipe
    bool slowSource;    // ...fed by a command that writes over a long time (a download, a build)
    bool stdoutIsPipe;  // standard output is the block's output pipe, which the window shows
    bool subshell;      // a cd ends with it
    bool lineBuffered;  // under stdbuf
};

struct Move {
    gint64 viewLine;
    const char* name;  // "cd" or "pushd"
};

struct Walker {
    const Script* script;
    const Block* block;
    const ShellView* view;
    bool later;
    GHashTable* functions;         // name → body statement (not owned)
    GHashTable* walked;            // function bodies walked, by name and context (owned keys)
    GHashTable* reported;          // findings given, by line and message (owned keys)
    GHashTable* assigned;          // the names the text sets, or nullptr (owned keys)
    GArray* open;                  // gboolean per view line: a here-document or quoted text goes on past it
    GArray* moves;                 // Move: the cd commands of the block's own shell not yet undone
    GHashTable* savedDirectories;  // names set from pwd or $PWD (keys not owned)
    GHashTable* misread;           // view lines that shfmt reads otherwise than bash (keys: lines)
    bool waits;                    // the block waits for or kills its background jobs
    bool stdinReplaced;            // `exec <…` in the block's own shell
    bool stdoutReplaced;           // `exec >…` in the block's own shell
    bool nowaitNoted;
};

// The block's nesting is bounded by shfmt's tree (it refuses more than 10000 levels).
void walkNode(Walker* walker, JsonObject* node, Context context);  // NOLINT(misc-no-recursion)

void finding(Walker* walker, gint64 viewLine, Severity severity, const char* format, ...) G_GNUC_PRINTF(4, 5);
void finding(Walker* walker, gint64 viewLine, Severity severity, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    GCharPtr message(g_strdup_vprintf(format, arguments));
    va_end(arguments);
    if (g_hash_table_lookup(walker->misread, GINT_TO_POINTER(static_cast<int>(viewLine))))
        return;
    int line = scriptLineOf(*walker->view, viewLine);
    char* key = g_strdup_printf("%d:%s", line, message.get());
    if (g_hash_table_lookup(walker->reported, key)) {
        g_free(key);
        return;
    }
    g_hash_table_insert(walker->reported, key, GINT_TO_POINTER(1));
    report(walker->script->path, line, severity, "%s", message.get());
}

// The operator at a node's "OpPos" in the parsed text: "|", "<<-", "<(".
const char* operatorAt(const Walker* walker, JsonObject* node) {
    gint64 offset = position(node, "OpPos", "Offset");
    const GString* text = walker->view->text;
    return offset >= 0 && static_cast<gsize>(offset) < text->len ? text->str + offset : "";
}

// A node's text as written, from "Pos" to "End". Caller g_frees.
char* textOf(const Walker* walker, JsonObject* node) {
    gint64 start = position(node, "Pos", "Offset");
    gint64 end = position(node, "End", "Offset");
    const GString* text = walker->view->text;
    if (start < 0 || end > static_cast<gint64>(text->len) || end < start)
        return g_strdup("");
    return g_strndup(text->str + start, static_cast<gsize>(end - start));
}

struct Redirected {
    bool input;
    bool output;
};

// What a statement's redirections do to standard input and output.
Redirected redirections(const Walker* walker, JsonArray* redirs) {
    Redirected moved{false, false};
    for (guint i = 0; i < lengthOf(redirs); ++i) {
        JsonObject* redirect = elementAt(redirs, i);
        const char* op = operatorAt(walker, redirect);
        const char* fd = stringAt(objectAt(redirect, "N"), "Value");
        // "&>" and "&>>" move both outputs; "<", "<<", "<<<", "<&" and "<>" act on 0 unless
        // numbered, the others on 1.
        if (op[0] == '<')
            moved.input |= !fd || strcmp(fd, "0") == 0;
        else
            moved.output |= op[0] == '&' || !fd || strcmp(fd, "1") == 0;
    }
    return moved;
}

void walkArray(Walker* walker, JsonArray* array, Context context) {  // NOLINT(misc-no-recursion)
    for (guint i = 0; i < lengthOf(array); ++i) {
        if (JsonObject* element = elementAt(array, i))
            walkNode(walker, element, context);
    }
}

// Every member of a node that is not a command of its own: words, conditions, loop bodies.
void walkMembers(Walker* walker, JsonObject* node, Context context) {  // NOLINT(misc-no-recursion)
    // NOLINTNEXTLINE(misc-no-recursion)
    eachChild(node, [&](const char*, JsonObject* child) { walkNode(walker, child, context); });
}

// Whether a pipeline's left side writes over a long time, so that chunks would show: it runs
// a download, a build, a package manager, or waits with sleep (in a loop, say). Output that
// comes all at once anyway, as from echo or cat, loses nothing in a buffer.
bool slowSource(JsonObject* node) {  // NOLINT(misc-no-recursion)
    static const char* const kSlow[] = {"apt-get", "apt",   "aptitude", "dnf",    "yum",  "zypper", "make",
                                        "cmake",   "ninja", "meson",    "rsync",  "wget", "curl",   "pip",
                                        "pip3",    "npm",   "yarn",     "cargo",  "ping", "sleep",  "dd",
                                        "scp",     "ssh",   "docker",   "podman", nullptr};
    static const char* const kSlowGit[] = {"clone", "fetch", "pull", "push", "submodule", "gc", nullptr};
    if (isType(node, "CallExpr")) {
        JsonArray* args = arrayAt(node, "Args");
        GCharPtr name(lengthOf(args) ? literalWord(elementAt(args, 0)) : nullptr);
        GCharPtr action(lengthOf(args) > 1 ? literalWord(elementAt(args, 1)) : nullptr);
        if (name && (isOneOf(name.get(), kSlow) ||
                     (strcmp(name.get(), "git") == 0 && action && isOneOf(action.get(), kSlowGit))))
            return true;
    }
    bool slow = false;
    // NOLINTNEXTLINE(misc-no-recursion)
    eachChild(node, [&](const char*, JsonObject* child) { slow = slow || slowSource(child); });
    return slow;
}

void readsTheBlock(Walker* walker, gint64 viewLine, const char* reader) {
    finding(walker, viewLine, Severity::Warning,
            "`%s` reads standard input, and a block's standard input is its own text: it takes the "
            "block's next lines, which then never run; give it input, e.g. `%s < FILE` or `< /dev/null`",
            reader, reader);
}

// The name that a word such as "$saved" or "${saved}" expands, or nullptr. Caller g_frees.
char* expandedName(const char* text) {
    const char* p = text + (text[0] == '"');
    if (*p++ != '$')
        return nullptr;
    bool braced = *p == '{';
    p += braced;
    size_t length = 0;
    while (g_ascii_isalnum(p[length]) || p[length] == '_')
        ++length;
    const char* after = p + length + braced;
    if (length == 0 || (braced && p[length] != '}') || strcmp(after, text[0] == '"' ? "\"" : "") != 0)
        return nullptr;
    return g_strndup(p, length);
}

// popd, `cd -`, `cd ..`, or a cd to $OLDPWD or to a directory saved from pwd.
bool goesBack(const Walker* walker, const Words& words, JsonArray* args) {
    if (strcmp(wordAt(words, 0), "popd") == 0)
        return true;
    if (strcmp(wordAt(words, 0), "cd") != 0)
        return false;
    guint k = 1;
    while (k < countOf(words) && isOption(wordAt(words, k)) && strcmp(wordAt(words, k), "-") != 0)
        ++k;
    const char* target = wordAt(words, k);
    if (strcmp(target, "-") == 0 || strncmp(target, "..", 2) == 0)
        return true;
    if (target != kDynamic || !args)
        return false;
    GCharPtr text(textOf(walker, elementAt(args, words.first + k)));
    GCharPtr name(expandedName(text.get()));
    return name &&
           (strcmp(name.get(), "OLDPWD") == 0 || g_hash_table_lookup(walker->savedDirectories, name.get()));
}

void checkCall(Walker* walker, const Words& words, JsonArray* args, gint64 viewLine, const Context& context) {
    static const char* const kMoves[] = {"cd", "pushd", "popd", nullptr};
    static const char* const kBuffering[] = {"sed", "grep", "egrep", "fgrep",  "awk",     "gawk", "mawk",
                                             "cut", "tr",   "uniq",  "python", "python3", "perl", nullptr};
    static const char* const kLineBuffered[] = {"--line-buffered", "--unbuffered", nullptr};
    static const char* const kChatty[] = {"tar",   "cp", "mv",      "rm",   "rsync", "mkdir", "chmod",
                                          "chown", "ln", "install", "cpio", "unzip", nullptr};
    static const char* const kQuietUnzip[] = {"-q", "-qq", nullptr};
    const char* name = wordAt(words, 0);
    BlockMode mode = walker->block->mode;
    bool stdinIsBlock = context.stdinIsBlock && !walker->stdinReplaced;
    bool shown = context.stdoutIsPipe && !walker->stdoutReplaced;
    if (stdinIsBlock) {
        if (const char* reader = stdinReader(words))
            readsTheBlock(walker, viewLine, reader);
        else if (const char* manager = askingManager(words))
            finding(walker, viewLine, Severity::Warning,
                    "`%s` asks before it changes the system and reads its answer from standard input, "
                    "the block's own text: it takes the block's next lines, which then never run, and "
                    "mostly gives up; add `-y`",
                    manager);
    }
    if (walker->later && !context.subshell && isOneOf(name, kMoves)) {
        // A cd that goes back undoes the one before it: only what is left moves later blocks.
        if (!goesBack(walker, words, args)) {
            Move move{viewLine, strcmp(name, "cd") == 0 ? "cd" : "pushd"};
            g_array_append_val(walker->moves, move);
        } else if (walker->moves->len) {
            g_array_set_size(walker->moves, walker->moves->len - 1);
        }
    }
    if (mode == BlockMode::NoWait && shown && !walker->nowaitNoted && printsToStdout(words)) {
        walker->nowaitNoted = true;
        finding(walker, viewLine, Severity::Note,
                "the window discards the output of this #script_start_nowait block, but in silent "
                "mode `%s` prints on the console; add `>/dev/null` where it should never show",
                name);
    }
    if (mode != BlockMode::Async || !shown)
        return;
    bool lineBuffered = context.lineBuffered || hasOption(words, "u", "", kLineBuffered);
    if (context.pipedIn && context.slowSource && isOneOf(name, kBuffering) && !lineBuffered &&
        !printsNothing(words))
        finding(walker, viewLine, Severity::Note,
                "`%s` writes its output in chunks when it goes to a pipe: its lines reach the window "
                "late and all at once; write `stdbuf -oL %s …` (`python3 -u` for Python)",
                name, name);
    bool unzipChatter = strcmp(name, "unzip") == 0 && !hasOption(words, "q", "", kQuietUnzip);
    if (isOneOf(name, kChatty) && (verbose(words) || unzipChatter))
        finding(walker, viewLine, Severity::Note,
                "`%s` writes a line per file, and the window shows ten lines a second: the block "
                "takes at least a tenth of a second per file; use a #script_start_blocking block, "
                "or pipe it into `tail -n 1`",
                name);
}

// A function body walked as called here; once for each way its input and output are set.
void callFunction(Walker* walker, const char* name, JsonObject* body,  // NOLINT(misc-no-recursion)
                  const Context& context) {
    char* key = g_strdup_printf("%s:%d%d%d%d%d", name, context.stdinIsBlock, context.pipedIn,
                                context.stdoutIsPipe, context.subshell, context.slowSource);
    if (g_hash_table_lookup(walker->walked, key)) {
        g_free(key);
        return;
    }
    g_hash_table_insert(walker->walked, key, GINT_TO_POINTER(1));
    walkNode(walker, body, context);
}

// A simple command: its words expand with the input and output the statement had before its
// own redirections (words), and it runs with them applied (context).
void walkCall(Walker* walker, JsonObject* call, const Context& context,  // NOLINT(misc-no-recursion)
              const Context& words, Redirected moved) {
    walkArray(walker, arrayAt(call, "Assigns"), words);
    JsonArray* args = arrayAt(call, "Args");
    walkArray(walker, args, words);
    if (lengthOf(args) == 0)
        return;
    Words written{g_ptr_array_new(), 0};
    for (guint i = 0; i < lengthOf(args); ++i) {
        char* word = literalWord(elementAt(args, i));
        GCharPtr source(textOf(walker, elementAt(args, i)));
        const char* unknown = strpbrk(source.get(), "@*") ? kMany : kDynamic;
        g_ptr_array_add(written.all, word ? word : const_cast<char*>(unknown));
    }
    gint64 line = position(elementAt(args, 0), "Pos", "Line");
    const char* name = wordAt(written, 0);
    if (strcmp(name, "exec") == 0 && countOf(written) == 1 && !context.subshell) {
        walker->stdinReplaced |= moved.input;
        walker->stdoutReplaced |= moved.output;
    }
    if (asksOnTerminal(written))
        finding(walker, line, Severity::Warning,
                "`sudo` asks for a password on a terminal, and the window has none: started from a file "
                "manager it stops with \"a terminal is required\", from a terminal it asks there while the "
                "window waits; run the steps that need root from one shipped script, as root already, "
                "with `pkexec` or `sudo -A` and an askpass program, or else show how to start the "
                "installer as root (the guide's \"Steps that need root\")");
    Context inner = context;
    while (guint skip = skipWrappers(written)) {
        inner.lineBuffered |= strcmp(wordAt(written, 0), "stdbuf") == 0;
        written.first += skip;
    }
    name = wordAt(written, 0);
    JsonObject* body = name != kDynamic && written.first == 0
                           ? static_cast<JsonObject*>(g_hash_table_lookup(walker->functions, name))
                           : nullptr;
    if (body)
        callFunction(walker, name, body, inner);
    else if (name != kDynamic)
        checkCall(walker, written, args, line, inner);
    for (guint i = 0; i < written.all->len; ++i) {
        if (g_ptr_array_index(written.all, i) != kDynamic && g_ptr_array_index(written.all, i) != kMany)
            g_free(g_ptr_array_index(written.all, i));
    }
    g_ptr_array_free(written.all, TRUE);
}

// The statement's text as written, without its "&", capped for a message. Caller g_frees.
char* statementText(const Walker* walker, JsonObject* statement) {
    GCharPtr text(textOf(walker, statement));
    size_t length = strlen(text.get());
    while (length > 0 && strchr("& \t", text.get()[length - 1]))
        --length;
    return quoted(text.get(), length);
}

void walkStatement(Walker* walker, JsonObject* statement, Context context) {  // NOLINT(misc-no-recursion)
    Context words = context;
    bool background = flagAt(statement, "Background");
    if (background) {
        // Without job control bash gives a background job /dev/null as its input.
        context.stdinIsBlock = false;
        context.pipedIn = false;
        context.subshell = true;
    }
    JsonArray* redirs = arrayAt(statement, "Redirs");
    Redirected moved = redirections(walker, redirs);
    if (moved.input) {
        context.stdinIsBlock = false;
        context.pipedIn = false;
    }
    if (moved.output)
        context.stdoutIsPipe = false;
    walkArray(walker, redirs, words);
    if (background && walker->block->mode != BlockMode::Blocking && context.stdoutIsPipe &&
        !walker->stdoutReplaced && !walker->waits) {
        GCharPtr job(statementText(walker, statement));
        finding(walker, position(statement, "Pos", "Line"), Severity::Warning,
                "`%s &` keeps the block's output pipe open: the window counts the block as running "
                "until it ends; add `>/dev/null 2>&1` to it, or `wait` for it",
                job.get());
    }
    JsonObject* command = objectAt(statement, "Cmd");
    if (isType(command, "CallExpr"))
        walkCall(walker, command, context, words, moved);
    else if (command)
        walkNode(walker, command, context);
}

void walkNode(Walker* walker, JsonObject* node, Context context) {  // NOLINT(misc-no-recursion)
    if (objectAt(node, "Cmd")) {
        walkStatement(walker, node, context);
        return;
    }
    if (isType(node, "FuncDecl"))
        return;  // walked where it is called
    if (isType(node, "BinaryCmd") && g_str_has_prefix(operatorAt(walker, node), "|") &&
        !g_str_has_prefix(operatorAt(walker, node), "||")) {
        // Each side of a pipe runs in a subshell of its own.
        Context left = context;
        left.stdoutIsPipe = false;
        left.subshell = true;
        Context right = context;
        right.stdinIsBlock = false;
        right.pipedIn = true;
        right.slowSource = slowSource(objectAt(node, "X"));
        right.subshell = true;
        walkNode(walker, objectAt(node, "X"), left);
        walkNode(walker, objectAt(node, "Y"), right);
        return;
    }
    // select reads its choice from standard input.
    if (isType(node, "ForClause") && flagAt(node, "Select") && context.stdinIsBlock && !walker->stdinReplaced)
        readsTheBlock(walker, position(node, "Pos", "Line"), "select");
    if (isType(node, "Subshell") || isType(node, "CmdSubst") || isType(node, "ProcSubst") ||
        isType(node, "CoprocClause"))
        context.subshell = true;
    if (isType(node, "CmdSubst") ||
        (isType(node, "ProcSubst") && g_str_has_prefix(operatorAt(walker, node), "<")) ||
        isType(node, "CoprocClause"))
        context.stdoutIsPipe = false;
    if ((isType(node, "ProcSubst") && g_str_has_prefix(operatorAt(walker, node), ">")) ||
        isType(node, "CoprocClause")) {
        context.stdinIsBlock = false;
        context.pipedIn = true;
        context.slowSource = false;
    }
    walkMembers(walker, node, context);
}

// ---- Before the walk: the functions, waits, here-documents and quoted text, names set.

void markOpen(Walker* walker, gint64 firstLine, gint64 lastLine) {
    for (gint64 line = firstLine; line < lastLine; ++line) {
        if (line >= 1 && static_cast<guint>(line) <= walker->open->len)
            g_array_index(walker->open, gboolean, line - 1) = TRUE;
    }
}

// Adds the name at the start of text ("x" of "x=1" or "x[2]"), if it starts with one.
void addName(Walker* walker, const char* text) {
    if (!walker->assigned || !text || !(g_ascii_isalpha(text[0]) || text[0] == '_'))
        return;
    size_t length = 1;
    while (g_ascii_isalnum(text[length]) || text[length] == '_')
        ++length;
    g_hash_table_replace(walker->assigned, g_strndup(text, length), GINT_TO_POINTER(1));
}

// A name set, and whether its value is the working directory (saved=$(pwd), saved=$PWD).
void surveyAssign(Walker* walker, JsonObject* assign) {
    const char* name = stringAt(objectAt(assign, "Name"), "Value");
    addName(walker, name);
    JsonObject* value = objectAt(assign, "Value");
    GCharPtr text(value ? textOf(walker, value) : g_strdup(""));
    if (name && (strstr(text.get(), "pwd") || strstr(text.get(), "PWD")))
        g_hash_table_replace(walker->savedDirectories, const_cast<char*>(name), GINT_TO_POINTER(1));
}

void surveyCall(Walker* walker, JsonObject* call) {
    static const char* const kStoppers[] = {"wait", "kill", "pkill", "killall", nullptr};
    static const char* const kReaders[] = {"read", "mapfile", "readarray", "getopts", nullptr};
    JsonArray* assigns = arrayAt(call, "Assigns");
    for (guint i = 0; i < lengthOf(assigns); ++i)
        surveyAssign(walker, elementAt(assigns, i));
    JsonArray* args = arrayAt(call, "Args");
    GCharPtr name(lengthOf(args) ? literalWord(elementAt(args, 0)) : nullptr);
    if (!name)
        return;
    if (isOneOf(name.get(), kStoppers))
        walker->waits = true;
    for (guint i = 1; i < lengthOf(args); ++i) {
        GCharPtr word(literalWord(elementAt(args, i)));
        if (!word)
            continue;
        if (strcmp(name.get(), "trap") == 0 && (strstr(word.get(), "kill") || strstr(word.get(), "wait")))
            walker->waits = true;
        if (isOneOf(name.get(), kReaders) && word.get()[0] != '-')
            addName(walker, word.get());
    }
}

// shfmt takes a "#" right after a closing quote ("$x"#) for a comment, bash for part of the
// word: the line is read wrongly from there, so it gives no finding.
void surveyComments(Walker* walker, JsonArray* comments) {
    const GString* text = walker->view->text;
    for (guint i = 0; i < lengthOf(comments); ++i) {
        JsonObject* comment = elementAt(comments, i);
        gint64 hash = position(comment, "Hash", "Offset");
        if (hash > 0 && static_cast<gsize>(hash) < text->len && !strchr(" \t\n;&|()<>", text->str[hash - 1]))
            g_hash_table_replace(walker->misread,
                                 GINT_TO_POINTER(static_cast<int>(position(comment, "Hash", "Line"))),
                                 GINT_TO_POINTER(1));
    }
}

void survey(Walker* walker, JsonObject* node);  // NOLINT(misc-no-recursion)

void surveyMembers(Walker* walker, JsonObject* node) {  // NOLINT(misc-no-recursion)
    surveyComments(walker, arrayAt(node, "Comments"));
    // NOLINTNEXTLINE(misc-no-recursion)
    eachChild(node, [&](const char* key, JsonObject* child) {
        const char* op = strcmp(key, "Redirs") == 0 ? operatorAt(walker, child) : "";
        if (g_str_has_prefix(op, "<<") && !g_str_has_prefix(op, "<<<")) {
            // The body starts on the line after the operator and ends before the delimiter.
            gint64 opLine = position(child, "OpPos", "Line");
            JsonObject* body = objectAt(child, "Hdoc");
            markOpen(walker, opLine, body ? position(body, "End", "Line") : opLine + 1);
        }
        survey(walker, child);
    });
}

void survey(Walker* walker, JsonObject* node) {  // NOLINT(misc-no-recursion)
    if (isType(node, "FuncDecl")) {
        const char* name = stringAt(objectAt(node, "Name"), "Value");
        JsonObject* body = objectAt(node, "Body");
        if (name && body)
            g_hash_table_replace(walker->functions, const_cast<char*>(name), body);
    } else if (isType(node, "SglQuoted") || isType(node, "DblQuoted")) {
        markOpen(walker, position(node, "Pos", "Line"), position(node, "End", "Line"));
    } else if (isType(node, "CallExpr")) {
        surveyCall(walker, node);
    } else if (isType(node, "WordIter")) {
        addName(walker, stringAt(objectAt(node, "Name"), "Value"));
    } else if (isType(node, "DeclClause")) {
        JsonArray* args = arrayAt(node, "Args");
        for (guint i = 0; i < lengthOf(args); ++i)
            surveyAssign(walker, elementAt(args, i));
    }
    surveyMembers(walker, node);
}

Walker startWalk(const Script* script, const Block* block, const ShellView& view, JsonParser* tree,
                 GHashTable* assigned) {
    Walker walker{script,
                  block,
                  &view,
                  false,
                  g_hash_table_new(g_str_hash, g_str_equal),
                  g_hash_table_new_full(g_str_hash, g_str_equal, g_free, nullptr),
                  g_hash_table_new_full(g_str_hash, g_str_equal, g_free, nullptr),
                  assigned,
                  g_array_sized_new(FALSE, TRUE, sizeof(gboolean), view.lines->len),
                  g_array_new(FALSE, FALSE, sizeof(Move)),
                  g_hash_table_new(g_str_hash, g_str_equal),
                  g_hash_table_new(g_direct_hash, g_direct_equal),
                  false,
                  false,
                  false,
                  false};
    g_array_set_size(walker.open, view.lines->len);
    JsonNode* root = json_parser_get_root(tree);
    if (root && JSON_NODE_HOLDS_OBJECT(root))
        survey(&walker, json_node_get_object(root));
    return walker;
}

void endWalk(Walker* walker) {
    g_hash_table_destroy(walker->functions);
    g_hash_table_destroy(walker->walked);
    g_hash_table_destroy(walker->reported);
    g_array_free(walker->open, TRUE);
    g_array_free(walker->moves, TRUE);
    g_hash_table_destroy(walker->savedDirectories);
    g_hash_table_destroy(walker->misread);
}

// Empty lines that the window drops from a block while silent mode keeps them: harmless
// between commands, but inside a here-document or quoted text the two modes then differ.
void checkDroppedLines(const Walker& walker) {
    const Script& script = *walker.script;
    const ShellView& view = *walker.view;
    int index = static_cast<int>(walker.block - &g_array_index(script.blocks, Block, 0));
    for (guint i = 0; i < script.lines->len; ++i) {
        const ScriptLine& line = g_array_index(script.lines, ScriptLine, i);
        if (line.block != index || line.role != LineRole::BlockBody || line.length != 0)
            continue;
        guint before = 0;
        while (before + 1 < view.lines->len && g_array_index(view.lines, int, before + 1) < line.number)
            ++before;
        if (g_array_index(walker.open, gboolean, before))
            report(script.path, line.number, Severity::Warning,
                   "this empty line lies inside a here-document or quoted text: the window drops it, "
                   "silent mode keeps it; write empty lines with `printf '\\n'` or `echo`");
    }
}

}  // namespace

void collectAssignedNames(const ShellView& view, JsonParser* tree, GHashTable* names) {
    Walker walker = startWalk(nullptr, nullptr, view, tree, names);
    endWalk(&walker);
}

void checkCommands(const Script& script, const Block& block, const ShellView& view, JsonParser* tree,
                   bool later) {
    Walker walker = startWalk(&script, &block, view, tree, nullptr);
    walker.later = later;
    Context top{true, false, false, true, false, false};
    JsonNode* root = json_parser_get_root(tree);
    if (root && JSON_NODE_HOLDS_OBJECT(root))
        walkNode(&walker, json_node_get_object(root), top);
    for (guint i = 0; i < walker.moves->len; ++i) {
        const Move& move = g_array_index(walker.moves, Move, i);
        finding(&walker, move.viewLine, Severity::Warning,
                "`%s` here also moves the later blocks in silent mode, where the whole file is one bash "
                "script, but not in the window, where each block starts afresh; use a subshell, "
                "`( cd DIR && … )`, or absolute paths",
                move.name);
    }
    checkDroppedLines(walker);
    endWalk(&walker);
}
