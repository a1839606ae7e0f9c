// A command's words as the tree gives them, and the one option reader, which reads them by the
// getopts-style grammar of the command's row into options, their arguments and operands.
#include <string.h>

#include "buffers/owned.h"
#include "check/check.h"

const char kDynamic[] = "\x01";
const char kMany[] = "\x02";

Words wordsOf(JsonArray* args) {
    Words words{g_ptr_array_new(), 0};
    for (guint i = 0; i < lengthOf(args); ++i) {
        char* word = literalWord(elementAt(args, i));
        const char* unknown = mayBeSeveralWords(elementAt(args, i)) ? kMany : kDynamic;
        g_ptr_array_add(words.all, word ? word : const_cast<char*>(unknown));
    }
    return words;
}

void releaseWords(Words* words) {
    for (guint i = 0; i < words->all->len; ++i) {
        if (known(static_cast<const char*>(g_ptr_array_index(words->all, i))))
            g_free(g_ptr_array_index(words->all, i));
    }
    g_ptr_array_free(words->all, TRUE);
}

const char* wordAt(const Words& words, guint k) {
    guint index = words.first + k;
    return index < words.all->len ? static_cast<const char*>(g_ptr_array_index(words.all, index)) : "";
}

guint countOf(const Words& words) {
    return words.all->len - words.first;
}

bool listed(const char* list, const char* word) {
    size_t length = strlen(word);
    for (const char* at = list ? list : ""; *at;) {
        size_t item = strcspn(at, " ");
        if (item == length && length && strncmp(at, word, length) == 0)
            return true;
        at += item + strspn(at + item, " ");
    }
    return false;
}

Reading readOptions(const Words& words, const OptionGrammar* grammar) {
    Reading reading{&words, g_array_new(FALSE, FALSE, sizeof(Option)),
                    g_array_new(FALSE, FALSE, sizeof(guint))};
    const char* letters = grammar ? grammar->letters : "";
    OptionStyle style = grammar ? grammar->style : OptionStyle::Gnu;
    bool options = true;
    for (guint k = 1; k < countOf(words); ++k) {
        const char* word = wordAt(words, k);
        bool tarFirst = style == OptionStyle::TarFirst && k == 1 && word[0] != '-';
        bool dynamic = !known(word);
        if (options && !dynamic && strcmp(word, "--") == 0) {
            options = false;
        } else if (options && !dynamic && word[0] == '-' && word[1] == '-') {
            size_t length = strcspn(word, "=");
            GCharPtr name(g_strndup(word, length));
            const char* argument = word[length] == '=' ? word + length + 1 : nullptr;
            if (!argument && grammar && k + 1 < countOf(words) && listed(grammar->longArguments, name.get()))
                argument = wordAt(words, ++k);
            Option option{word, '\0', argument};
            g_array_append_val(reading.options, option);
        } else if (options && !dynamic && ((word[0] == '-' && word[1]) || tarFirst)) {
            // Without a grammar a word holding "=" ("-DNAME=v") is one option, not letters.
            bool cluster = grammar || !strchr(word, '=');
            for (const char* letter = word + (tarFirst ? 0 : 1); cluster && *letter; ++letter) {
                const char* listedAt = strchr(letters, *letter);
                bool takes = listedAt && *letter != ':' && listedAt[1] == ':';
                const char* argument = nullptr;
                // tar's first word takes each letter's argument from the next words, in turn.
                if (takes && letter[1] && !tarFirst)
                    argument = letter + 1;
                else if (takes && listedAt[2] != ':' && k + 1 < countOf(words))
                    argument = wordAt(words, ++k);
                Option option{word, *letter, argument};
                g_array_append_val(reading.options, option);
                if (takes && !tarFirst)
                    break;
            }
            if (!cluster) {
                Option option{word, '\0', nullptr};
                g_array_append_val(reading.options, option);
            }
        } else {
            g_array_append_val(reading.operands, k);
            options = options && style != OptionStyle::Posix;
        }
    }
    return reading;
}

void releaseReading(Reading* reading) {
    g_array_free(reading->options, TRUE);
    g_array_free(reading->operands, TRUE);
}

const Option* firstOf(const Reading& reading, const char* list) {
    for (guint i = 0; i < reading.options->len; ++i) {
        const Option& option = g_array_index(reading.options, Option, i);
        char shortName[] = {'-', option.letter, '\0'};
        GCharPtr longName(g_strndup(option.word, strcspn(option.word, "=")));
        if (listed(list, option.letter ? shortName : longName.get()) || listed(list, option.word))
            return &option;
    }
    return nullptr;
}

bool has(const Reading& reading, const char* list) {
    return firstOf(reading, list) != nullptr;
}

guint operandIndex(const Reading& reading, guint index) {
    return index < reading.operands->len ? g_array_index(reading.operands, guint, index) : 0;
}

const char* operandAt(const Reading& reading, guint index) {
    return index < reading.operands->len ? wordAt(*reading.words, operandIndex(reading, index)) : nullptr;
}

bool known(const char* word) {
    return word && word != kDynamic && word != kMany;
}
