// One control script checked whole: its lines, and each block through the outer shell, the
// bash parser, the commands' walk and ShellCheck.
#include <errno.h>
#include <json-glib/json-glib.h>
#include <stdio.h>

#include "check/check.h"

namespace {

void checkBlocks(const Script& script) {
    guint count = script.blocks->len;
    ShellView* views = g_new0(ShellView, count);
    JsonParser** trees = g_new0(JsonParser*, count);
    GHashTable* assigned = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, nullptr);
    bool namesKnown = true;
    for (guint i = 0; i < count; ++i) {
        const Block& block = g_array_index(script.blocks, Block, i);
        if (block.length == 0)
            continue;
        buildView(block, &views[i]);
        trees[i] = parseBlock(script, block, views[i]);
        if (trees[i]) {
            Survey survey;
            surveyBlock(views[i], trees[i], assigned, &survey);
            releaseSurvey(&survey);
        }
        namesKnown &= trees[i] != nullptr;
    }
    for (guint i = 0; i < count; ++i) {
        const Block& block = g_array_index(script.blocks, Block, i);
        if (block.length == 0)
            continue;
        checkOuterShell(script, block, namesKnown ? assigned : nullptr);
        if (trees[i]) {
            checkCommands(script, block, views[i], trees[i], runsLater(script, block));
            g_object_unref(trees[i]);
        }
        checkWithShellCheck(script, block, views[i]);
        releaseView(&views[i]);
    }
    g_hash_table_destroy(assigned);
    g_free(trees);
    g_free(views);
}

}  // namespace

bool checkScript(const char* path, const char* shown) {
    Script script;
    if (!loadScript(path, shown, &script)) {
        fprintf(stderr, "ostrel-check: cannot read %s: %s\n", shown, g_strerror(errno));
        freeScript(&script);
        return false;
    }
    checkLines(script);
    if (script.size != 0) {
        checkSilentOuterShell(script);
        checkBlocks(script);
    }
    freeScript(&script);
    return true;
}
