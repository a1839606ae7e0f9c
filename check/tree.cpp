// shfmt's syntax tree as json-glib reads it: members of a node, the words as bash will expand
// them, and the operators by their numbers.
#include <json-glib/json-glib.h>
#include <string.h>

#include "check/check.h"

JsonObject* treeRoot(JsonParser* tree) {
    JsonNode* root = tree ? json_parser_get_root(tree) : nullptr;
    return root && JSON_NODE_HOLDS_OBJECT(root) ? json_node_get_object(root) : nullptr;
}

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

void forEachChild(JsonObject* node, void (*visit)(void* data, const char* key, JsonObject* child),
                  void* data) {
    GList* members = json_object_get_members(node);
    for (GList* member = members; member; member = member->next) {
        const char* key = static_cast<const char*>(member->data);
        JsonNode* value = json_object_get_member(node, key);
        if (JSON_NODE_HOLDS_OBJECT(value)) {
            visit(data, key, json_node_get_object(value));
        } else if (JSON_NODE_HOLDS_ARRAY(value)) {
            JsonArray* array = json_node_get_array(value);
            for (guint i = 0; i < lengthOf(array); ++i) {
                if (JsonObject* element = elementAt(array, i))
                    visit(data, key, element);
            }
        }
    }
    g_list_free(members);
}

namespace {

// Appends the literal parts of a word to value up to its first expansion; false when it has
// one. Backslashes would need bash's own unquoting: a part with one counts as an expansion.
bool appendLiteral(JsonArray* parts, GString* value) {  // NOLINT(misc-no-recursion)
    for (guint i = 0; i < lengthOf(parts); ++i) {
        JsonObject* part = elementAt(parts, i);
        const char* text = stringAt(part, "Value");
        bool plain = isType(part, "Lit") && text && !strchr(text, '\\');
        bool singleQuoted =
            isType(part, "SglQuoted") && text && !(flagAt(part, "Dollar") && strchr(text, '\\'));
        if (plain || singleQuoted)
            g_string_append(value, text);
        else if (!isType(part, "DblQuoted") || !appendLiteral(arrayAt(part, "Parts"), value))
            return false;
    }
    return true;
}

// A parameter expansion that bash expands to as many words as there are elements: $@ or
// ${list[@]}, quoted or not.
bool allElements(JsonObject* expansion) {
    const char* name = stringAt(objectAt(expansion, "Param"), "Value");
    GString* index = g_string_new(nullptr);
    bool literal = appendLiteral(arrayAt(objectAt(expansion, "Index"), "Parts"), index);
    bool all = (name && strcmp(name, "@") == 0) || (literal && strcmp(index->str, "@") == 0);
    g_string_free(index, TRUE);
    return all && !flagAt(expansion, "Length");
}

// An unquoted expansion whose value bash splits into words; a length, $? or $# is a number.
bool splits(JsonObject* part) {
    if (isType(part, "CmdSubst"))
        return true;
    if (!isType(part, "ParamExp") || flagAt(part, "Length"))
        return false;
    const char* name = stringAt(objectAt(part, "Param"), "Value");
    return !(name && strlen(name) == 1 && strchr("?#$!", name[0]));
}

}  // namespace

char* literalWord(JsonObject* word) {
    GString* value = g_string_new(nullptr);
    JsonArray* parts = arrayAt(word, "Parts");
    bool literal = parts && appendLiteral(parts, value);
    return g_string_free(value, !literal);
}

char* literalPrefix(JsonObject* word) {
    GString* value = g_string_new(nullptr);
    appendLiteral(arrayAt(word, "Parts"), value);
    return g_string_free(value, FALSE);
}

bool mayBeSeveralWords(JsonObject* word) {
    JsonArray* parts = arrayAt(word, "Parts");
    for (guint i = 0; i < lengthOf(parts); ++i) {
        JsonObject* part = elementAt(parts, i);
        if (splits(part) || (isType(part, "ParamExp") && allElements(part)))
            return true;
        JsonArray* inside = isType(part, "DblQuoted") ? arrayAt(part, "Parts") : nullptr;
        for (guint k = 0; k < lengthOf(inside); ++k) {
            if (isType(elementAt(inside, k), "ParamExp") && allElements(elementAt(inside, k)))
                return true;
        }
    }
    return false;
}

const char* plainParameter(JsonObject* word) {
    JsonArray* parts = arrayAt(word, "Parts");
    JsonObject* part = lengthOf(parts) == 1 ? elementAt(parts, 0) : nullptr;
    if (isType(part, "DblQuoted")) {
        JsonArray* inside = arrayAt(part, "Parts");
        part = lengthOf(inside) == 1 ? elementAt(inside, 0) : nullptr;
    }
    if (!isType(part, "ParamExp"))
        return nullptr;
    // Nothing done to the value: no length, index, slice, replacement, default or indirection.
    static const char* const kOperations[] = {"Excl",  "Length", "Width", "Index",
                                              "Slice", "Repl",   "Names", "Exp"};
    for (const char* operation : kOperations) {
        JsonNode* member = json_object_get_member(part, operation);
        bool unset =
            !member || (JSON_NODE_HOLDS_VALUE(member) && json_node_get_value_type(member) == G_TYPE_BOOLEAN &&
                        !json_node_get_boolean(member));
        if (!unset)
            return nullptr;
    }
    const char* name = stringAt(objectAt(part, "Param"), "Value");
    return name && (g_ascii_isalpha(name[0]) || name[0] == '_') ? name : nullptr;
}

namespace {

// The operators that the checks read, by the number shfmt 3 gives each in a node's "Op"
// (syntax/tokens.go); knowsOperators makes sure that the installed shfmt numbers them so.
struct OperatorFlow {
    gint64 op;
    Flow flow;
};
const gint64 kPipeOp = 12;
const OperatorFlow kOperators[] = {
    {kPipeOp, Flow::Pipe},     // |
    {13, Flow::Pipe},          // |&
    {54, Flow::Output},        // >
    {55, Flow::Output},        // >>
    {56, Flow::Input},         // <
    {57, Flow::Input},         // <>
    {58, Flow::Input},         // <&
    {59, Flow::Output},        // >&
    {60, Flow::Output},        // >|
    {61, Flow::HereDocument},  // <<
    {62, Flow::HereDocument},  // <<-
    {63, Flow::Input},         // <<<
    {64, Flow::BothOutputs},   // &>
    {65, Flow::BothOutputs},   // &>>
    {66, Flow::Input},         // <(
    {67, Flow::Output},        // >(
};

}  // namespace

Flow flowOf(JsonObject* node) {
    JsonNode* member = node ? json_object_get_member(node, "Op") : nullptr;
    if (!member || !JSON_NODE_HOLDS_VALUE(member))
        return Flow::Other;
    gint64 op = json_node_get_int(member);
    for (const OperatorFlow& row : kOperators) {
        if (row.op == op)
            return row.flow;
    }
    return Flow::Other;
}

bool knowsOperators(JsonObject* root) {
    JsonArray* statements = arrayAt(root, "Stmts");
    JsonObject* command = lengthOf(statements) ? objectAt(elementAt(statements, 0), "Cmd") : nullptr;
    JsonNode* op = command ? json_object_get_member(command, "Op") : nullptr;
    return isType(command, "BinaryCmd") && op && JSON_NODE_HOLDS_VALUE(op) &&
           json_node_get_int(op) == kPipeOp;
}
