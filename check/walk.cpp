// The walk over a block's commands in shfmt's tree: where standard input and output go is
// decided statement by statement, as bash sets them up, and each command is judged by its row
// of the commands' table: reading standard input, cd, sudo, background jobs, output.
#include <json-glib/json-glib.h>
#include <string.h>

#include "buffers/owned.h"
#include "check/check.h"

namespace {

struct Context {
    bool stdinIsBlock;  // standard input is the block's own text
    bool pipedIn;       // standard input is a pipe
    bool slowSource;    // ...fed by a command that writes over a long time (a download, a build)
    bool stdoutIsPipe;  // standard output is the block's output pipe, which the window shows
    bool subshell;      // a cd ends with it
    bool lineBuffered;  // under stdbuf
};

struct Moved {
    gint64 viewLine;
    const char* name;  // "cd" or "pushd"
};

struct Walker {
    const Script* script;
    const Block* block;
    const ShellView* view;
    bool later;
    Survey survey;
    GHashTable* walked;    // function bodies walked, by name and context (owned keys)
    GHashTable* reported;  // findings given, by line and message (owned keys)
    GArray* moves;         // Moved: the cd commands of the block's own shell not yet undone
    bool stdinReplaced;    // `exec <…` in the block's own shell
    bool stdoutReplaced;   // `exec >…` in the block's own shell
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
    if (g_hash_table_lookup(walker->survey.misread, GINT_TO_POINTER(static_cast<int>(viewLine))))
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

// A node's text as written, from "Pos" to "End", for quoting in a message. Caller g_frees.
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

// What a statement's redirections do to standard input and output: each acts on the
// descriptor it names, else on 0 or 1 by its operator; "&>" moves both outputs.
Redirected redirections(JsonArray* redirs) {
    Redirected moved{false, false};
    for (guint i = 0; i < lengthOf(redirs); ++i) {
        JsonObject* redirect = elementAt(redirs, i);
        const char* fd = stringAt(objectAt(redirect, "N"), "Value");
        Flow flow = flowOf(redirect);
        if (flow == Flow::Input || flow == Flow::HereDocument)
            moved.input |= !fd || strcmp(fd, "0") == 0;
        else if (flow == Flow::Output)
            moved.output |= !fd || strcmp(fd, "1") == 0;
        else if (flow == Flow::BothOutputs)
            moved.output = true;
    }
    return moved;
}

void walkArray(Walker* walker, JsonArray* array, Context context) {  // NOLINT(misc-no-recursion)
    for (guint i = 0; i < lengthOf(array); ++i) {
        if (JsonObject* element = elementAt(array, i))
            walkNode(walker, element, context);
    }
}

// Whether a pipeline's left side writes over a long time, so that chunks would show. Output
// that comes all at once anyway, as from echo or cat, loses nothing in a buffer.
bool slowSource(JsonObject* node) {  // NOLINT(misc-no-recursion)
    if (isType(node, "CallExpr")) {
        Words words = wordsOf(arrayAt(node, "Args"));
        bool slow = countOf(words) && writesSlowly(words);
        releaseWords(&words);
        if (slow)
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

// popd, `cd -`, `cd ..`, or a cd to $OLDPWD or to a directory saved from pwd.
bool goesBack(const Walker* walker, const Words& words, JsonArray* args) {
    guint at = 0;
    Move move = moveOf(words, &at);
    if (move != Move::Moves)
        return move == Move::GoesBack;
    const char* target = at ? wordAt(words, at) : "";
    if (strcmp(target, "-") == 0 || strncmp(target, "..", 2) == 0)
        return true;
    const char* name = !known(target) ? plainParameter(elementAt(args, words.first + at)) : nullptr;
    return name &&
           (strcmp(name, "OLDPWD") == 0 || g_hash_table_lookup(walker->survey.savedDirectories, name));
}

// The output directive that a line of printed text begins with, as the window reads it, or
// nullptr.
const DirectiveWord* outputDirectiveAt(const char* line) {
    return directiveWord(parseOutputLine(line).directive);
}

// The output directive that a printed text puts at the start of a line, or nullptr: at its
// start, after a line feed, or after printf's and `echo -e`'s "\n".
const DirectiveWord* printedDirective(const char* text) {
    for (const char* line = text; line; line = strchr(line, '\n') ? strchr(line, '\n') + 1 : nullptr) {
        if (const DirectiveWord* word = outputDirectiveAt(line))
            return word;
    }
    for (const char* escape = strstr(text, "\\n"); escape; escape = strstr(escape + 2, "\\n")) {
        if (const DirectiveWord* word = outputDirectiveAt(escape + 2))
            return word;
    }
    return nullptr;
}

// Output directives printed where the window never reads the output.
void checkPrintedDirective(Walker* walker, const Words& words, JsonArray* args, gint64 viewLine) {
    GCharPtr printed(printedStart(words, args));
    const DirectiveWord* directive = printed ? printedDirective(printed.get()) : nullptr;
    if (!directive)
        return;
    finding(walker, viewLine, Severity::Warning,
            "the window never reads the output of a %s block, so the `%s` that `%s` prints here is not "
            "applied (silent mode prints it as text); print it from an ordinary `#script_start` block",
            blockKindWord(walker->block->mode), directive->text, wordAt(words, 0));
}

void checkCall(Walker* walker, const Words& words, JsonArray* args, gint64 viewLine, const Context& context) {
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
    guint target = 0;
    Move move = moveOf(words, &target);
    if (walker->later && !context.subshell && move != Move::None) {
        // A cd that goes back undoes the one before it: only what is left moves later blocks.
        if (!goesBack(walker, words, args)) {
            Moved moved{viewLine, strcmp(name, "cd") == 0 ? "cd" : "pushd"};
            g_array_append_val(walker->moves, moved);
        } else if (walker->moves->len) {
            g_array_set_size(walker->moves, walker->moves->len - 1);
        }
    }
    bool prints = shown && printsToStdout(words);
    if (mode != BlockMode::Async && prints)
        checkPrintedDirective(walker, words, args, viewLine);
    if (mode == BlockMode::NoWait && prints && !walker->nowaitNoted) {
        walker->nowaitNoted = true;
        finding(walker, viewLine, Severity::Note,
                "the window discards the output of this #script_start_nowait block, but in silent "
                "mode `%s` prints on the console; add `>/dev/null` where it should never show",
                name);
    }
    if (mode != BlockMode::Async || !shown)
        return;
    if (context.pipedIn && context.slowSource && !context.lineBuffered && buffersOutput(words))
        finding(walker, viewLine, Severity::Note,
                "`%s` writes its output in chunks when it goes to a pipe: its lines reach the window "
                "late and all at once; write `stdbuf -oL %s …` (`python3 -u` for Python)",
                name, name);
    if (writesLinePerFile(words))
        finding(walker, viewLine, Severity::Note,
                "`%s` writes a line per file, and the window shows ten lines a second: the block "
                "takes at least a tenth of a second per file; use a #script_start_blocking block, "
                "or pipe it into `tail -n 1`",
                name);
}

// A function body walked as called here; once for each way its input and output are set,
// every field of the context in its key.
void callFunction(Walker* walker, const char* name, JsonObject* body,  // NOLINT(misc-no-recursion)
                  const Context& context) {
    static_assert(sizeof(Context) == 6 * sizeof(bool), "each field of Context belongs in the key");
    char* key =
        g_strdup_printf("%s:%d%d%d%d%d%d", name, context.stdinIsBlock, context.pipedIn, context.slowSource,
                        context.stdoutIsPipe, context.subshell, context.lineBuffered);
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
    Words written = wordsOf(args);
    gint64 line = position(elementAt(args, 0), "Pos", "Line");
    if (strcmp(wordAt(written, 0), "exec") == 0 && countOf(written) == 1 && !context.subshell) {
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
    while (guint skip = wrappedCommand(written, &inner.lineBuffered))
        written.first += skip;
    const char* name = wordAt(written, 0);
    bool named = known(name);
    JsonObject* body = named && written.first == 0
                           ? static_cast<JsonObject*>(g_hash_table_lookup(walker->survey.functions, name))
                           : nullptr;
    if (body)
        callFunction(walker, name, body, inner);
    else if (named)
        checkCall(walker, written, args, line, inner);
    releaseWords(&written);
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
    Redirected moved = redirections(redirs);
    if (moved.input) {
        context.stdinIsBlock = false;
        context.pipedIn = false;
    }
    if (moved.output)
        context.stdoutIsPipe = false;
    walkArray(walker, redirs, words);
    if (background && walker->block->mode != BlockMode::Blocking && context.stdoutIsPipe &&
        !walker->stdoutReplaced && !walker->survey.waits) {
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
    if (isType(node, "BinaryCmd") && flowOf(node) == Flow::Pipe) {
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
    bool process = isType(node, "ProcSubst");
    bool coprocess = isType(node, "CoprocClause");
    if (isType(node, "Subshell") || isType(node, "CmdSubst") || process || coprocess)
        context.subshell = true;
    if (isType(node, "CmdSubst") || (process && flowOf(node) == Flow::Input) || coprocess)
        context.stdoutIsPipe = false;
    if ((process && flowOf(node) == Flow::Output) || coprocess) {
        context.stdinIsBlock = false;
        context.pipedIn = true;
        context.slowSource = false;
    }
    // NOLINTNEXTLINE(misc-no-recursion)
    eachChild(node, [&](const char*, JsonObject* child) { walkNode(walker, child, context); });
}

// Empty lines that the window drops from a block while silent mode keeps them: harmless
// between commands, but inside a here-document or quoted text the two modes then differ.
void checkDroppedLines(const Walker& walker) {
    const Script& script = *walker.script;
    int index = static_cast<int>(walker.block - &g_array_index(script.blocks, Block, 0));
    for (guint i = 0; i < script.lines->len; ++i) {
        const ScriptLine& line = g_array_index(script.lines, ScriptLine, i);
        if (line.block != index || line.role != LineRole::BlockBody || line.length != 0)
            continue;
        gint64 before = viewLineBefore(*walker.view, line.number);
        if (g_array_index(walker.survey.open, gboolean, before - 1))
            report(script.path, line.number, Severity::Warning,
                   "this empty line lies inside a here-document or quoted text: the window drops it, "
                   "silent mode keeps it; write empty lines with `printf '\\n'` or `echo`");
    }
}

}  // namespace

void checkCommands(const Script& script, const Block& block, const ShellView& view, JsonParser* tree,
                   bool later) {
    Walker walker{&script,
                  &block,
                  &view,
                  later,
                  {},
                  g_hash_table_new_full(g_str_hash, g_str_equal, g_free, nullptr),
                  g_hash_table_new_full(g_str_hash, g_str_equal, g_free, nullptr),
                  g_array_new(FALSE, FALSE, sizeof(Moved)),
                  false,
                  false,
                  false};
    surveyBlock(view, tree, nullptr, &walker.survey);
    Context top{true, false, false, true, false, false};
    if (JsonObject* root = treeRoot(tree))
        walkNode(&walker, root, top);
    for (guint i = 0; i < walker.moves->len; ++i) {
        const Moved& moved = g_array_index(walker.moves, Moved, i);
        finding(&walker, moved.viewLine, Severity::Warning,
                "`%s` here also moves the later blocks in silent mode, where the whole file is one bash "
                "script, but not in the window, where each block starts afresh; use a subshell, "
                "`( cd DIR && … )`, or absolute paths",
                moved.name);
    }
    checkDroppedLines(walker);
    releaseSurvey(&walker.survey);
    g_hash_table_destroy(walker.walked);
    g_hash_table_destroy(walker.reported);
    g_array_free(walker.moves, TRUE);
}
