// Before the commands' walk, one pass over the block's tree: its functions, whether it waits
// for its jobs, where here-documents and quoted text go on past a line, and the names it sets.
#include <json-glib/json-glib.h>
#include <string.h>

#include "buffers/owned.h"
#include "check/check.h"

namespace {

struct Surveying {
    const ShellView* view;
    Survey* survey;
    GHashTable* assigned;  // or nullptr
};

void markOpen(Surveying* surveying, gint64 firstLine, gint64 lastLine) {
    GArray* open = surveying->survey->open;
    for (gint64 line = firstLine; line < lastLine; ++line) {
        if (line >= 1 && static_cast<guint>(line) <= open->len)
            g_array_index(open, gboolean, line - 1) = TRUE;
    }
}

// Adds the name at the start of text ("x" of "x=1" or "x[2]"), if it starts with one.
void addName(Surveying* surveying, const char* text) {
    if (!surveying->assigned || !text || !(g_ascii_isalpha(text[0]) || text[0] == '_'))
        return;
    size_t length = 1;
    while (g_ascii_isalnum(text[length]) || text[length] == '_')
        ++length;
    g_hash_table_replace(surveying->assigned, g_strndup(text, length), GINT_TO_POINTER(1));
}

// Whether a value holds the working directory: a $PWD or a $(pwd) somewhere in it.
bool holdsWorkingDirectory(JsonObject* node) {  // NOLINT(misc-no-recursion)
    if (isType(node, "ParamExp")) {
        const char* name = stringAt(objectAt(node, "Param"), "Value");
        if (name && strcmp(name, "PWD") == 0)
            return true;
    }
    if (isType(node, "CallExpr")) {
        JsonArray* args = arrayAt(node, "Args");
        GCharPtr name(lengthOf(args) ? literalWord(elementAt(args, 0)) : nullptr);
        if (name && strcmp(name.get(), "pwd") == 0)
            return true;
    }
    bool holds = false;
    // NOLINTNEXTLINE(misc-no-recursion)
    eachChild(node, [&](const char*, JsonObject* child) { holds = holds || holdsWorkingDirectory(child); });
    return holds;
}

// A name set, and whether its value is the working directory (saved=$(pwd), saved=$PWD).
void surveyAssign(Surveying* surveying, JsonObject* assign) {
    const char* name = stringAt(objectAt(assign, "Name"), "Value");
    addName(surveying, name);
    JsonObject* value = objectAt(assign, "Value");
    if (name && value && holdsWorkingDirectory(value))
        g_hash_table_replace(surveying->survey->savedDirectories, const_cast<char*>(name),
                             GINT_TO_POINTER(1));
}

// Whether a trap's command text, which shfmt leaves unparsed, runs wait or kill: a command
// of it, between ";", "&", "|" and line feeds, starts with one of them.
bool trapStopsJobs(const char* text) {
    char** commands = g_strsplit_set(text, ";&|\n", -1);
    bool stops = false;
    for (char** command = commands; *command && !stops; ++command) {
        char** argv = nullptr;
        if (g_shell_parse_argv(*command, nullptr, &argv, nullptr)) {
            Words words{g_ptr_array_new(), 0};
            g_ptr_array_add(words.all, argv[0]);
            stops = stopsJobs(words);
            g_ptr_array_free(words.all, TRUE);
            g_strfreev(argv);
        }
    }
    g_strfreev(commands);
    return stops;
}

void surveyCall(Surveying* surveying, JsonObject* call) {
    JsonArray* assigns = arrayAt(call, "Assigns");
    for (guint i = 0; i < lengthOf(assigns); ++i)
        surveyAssign(surveying, elementAt(assigns, i));
    JsonArray* args = arrayAt(call, "Args");
    if (lengthOf(args) == 0)
        return;
    Words words = wordsOf(args);
    if (stopsJobs(words))
        surveying->survey->waits = true;
    if (strcmp(wordAt(words, 0), "trap") == 0) {
        for (guint k = 1; k < countOf(words); ++k) {
            if (known(wordAt(words, k)) && trapStopsJobs(wordAt(words, k)))
                surveying->survey->waits = true;
        }
    }
    GPtrArray* names = namesSet(words);
    for (guint i = 0; i < names->len; ++i)
        addName(surveying, static_cast<const char*>(g_ptr_array_index(names, i)));
    g_ptr_array_free(names, TRUE);
    releaseWords(&words);
}

// shfmt 3.6 takes a "#" right after a closing quote ("$x"#) for a comment, where bash reads
// it as part of the word; the tree cannot tell, so the byte before the "#" decides: the line
// is read wrongly from there, and gives no finding.
void surveyComments(Surveying* surveying, JsonArray* comments) {
    const GString* text = surveying->view->text;
    for (guint i = 0; i < lengthOf(comments); ++i) {
        JsonObject* comment = elementAt(comments, i);
        gint64 hash = position(comment, "Hash", "Offset");
        if (hash > 0 && static_cast<gsize>(hash) < text->len && !strchr(" \t\n;&|()<>", text->str[hash - 1]))
            g_hash_table_replace(surveying->survey->misread,
                                 GINT_TO_POINTER(static_cast<int>(position(comment, "Hash", "Line"))),
                                 GINT_TO_POINTER(1));
    }
}

void survey(Surveying* surveying, JsonObject* node);  // NOLINT(misc-no-recursion)

void surveyMembers(Surveying* surveying, JsonObject* node) {  // NOLINT(misc-no-recursion)
    surveyComments(surveying, arrayAt(node, "Comments"));
    // NOLINTNEXTLINE(misc-no-recursion)
    eachChild(node, [&](const char* key, JsonObject* child) {
        if (strcmp(key, "Redirs") == 0 && flowOf(child) == Flow::HereDocument) {
            // The body starts on the line after the operator and ends before the delimiter.
            gint64 opLine = position(child, "OpPos", "Line");
            JsonObject* body = objectAt(child, "Hdoc");
            markOpen(surveying, opLine, body ? position(body, "End", "Line") : opLine + 1);
        }
        survey(surveying, child);
    });
}

void survey(Surveying* surveying, JsonObject* node) {  // NOLINT(misc-no-recursion)
    if (isType(node, "FuncDecl")) {
        const char* name = stringAt(objectAt(node, "Name"), "Value");
        JsonObject* body = objectAt(node, "Body");
        if (name && body)
            g_hash_table_replace(surveying->survey->functions, const_cast<char*>(name), body);
    } else if (isType(node, "SglQuoted") || isType(node, "DblQuoted")) {
        markOpen(surveying, position(node, "Pos", "Line"), position(node, "End", "Line"));
    } else if (isType(node, "CallExpr")) {
        surveyCall(surveying, node);
    } else if (isType(node, "WordIter")) {
        addName(surveying, stringAt(objectAt(node, "Name"), "Value"));
    } else if (isType(node, "DeclClause")) {
        JsonArray* args = arrayAt(node, "Args");
        for (guint i = 0; i < lengthOf(args); ++i)
            surveyAssign(surveying, elementAt(args, i));
    }
    surveyMembers(surveying, node);
}

}  // namespace

void surveyBlock(const ShellView& view, JsonParser* tree, GHashTable* assigned, Survey* result) {
    *result = Survey{g_hash_table_new(g_str_hash, g_str_equal), g_hash_table_new(g_str_hash, g_str_equal),
                     g_hash_table_new(g_direct_hash, g_direct_equal),
                     g_array_sized_new(FALSE, TRUE, sizeof(gboolean), view.lines->len), false};
    g_array_set_size(result->open, view.lines->len);
    Surveying surveying{&view, result, assigned};
    if (JsonObject* root = treeRoot(tree))
        survey(&surveying, root);
}

void releaseSurvey(Survey* survey) {
    g_hash_table_destroy(survey->functions);
    g_hash_table_destroy(survey->savedDirectories);
    g_hash_table_destroy(survey->misread);
    g_array_free(survey->open, TRUE);
}
