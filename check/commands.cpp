// The simple commands of a block's bash text, and what they do differently under Ostrel:
// reading standard input, cd, output that is shown or kept, empty lines that go missing.
#include <stdlib.h>
#include <string.h>

#include "buffers/owned.h"
#include "check/check.h"

namespace {

struct Command {
    GPtrArray* words;  // the words that are not redirections or assignments, as written (owned)
    int viewLine;      // line of its first word in the view
    bool stdinRedirected;
    bool stdoutRedirected;
    bool pipedIn;
    bool pipedOut;
    bool background;
    bool subshell;
};

struct Group {
    const char* closer;  // "fi", "done", "esac", "}" or ")"
    guint first;         // its first command
    bool pipedIn;
    bool subshell;
};

const size_t kOpen = static_cast<size_t>(-1);

bool isName(const char* text, size_t length) {
    if (length == 0 || !(g_ascii_isalpha(text[0]) || text[0] == '_'))
        return false;
    for (size_t k = 1; k < length; ++k) {
        if (!(g_ascii_isalnum(text[k]) || text[k] == '_'))
            return false;
    }
    return true;
}

// A rough bash parser: enough to tell simple commands, their redirections, pipelines,
// subshells and compound commands apart, with here-documents and quotes skipped properly.
class Lexer {
public:
    Lexer(const char* text, guint viewLines, GHashTable* assigned)
        : s_(text),
          commands_(g_array_new(FALSE, TRUE, sizeof(Command))),
          groups_(g_array_new(FALSE, FALSE, sizeof(Group))),
          continues_(g_array_sized_new(FALSE, TRUE, sizeof(gboolean), viewLines + 1)),
          pending_(g_ptr_array_new_with_free_func(g_free)),
          assigned_(assigned) {
        g_array_set_size(continues_, viewLines + 1);
    }
    ~Lexer() {
        for (guint k = 0; k < commands_->len; ++k)
            g_ptr_array_free(command(k).words, TRUE);
        g_array_free(commands_, TRUE);
        g_array_free(groups_, TRUE);
        g_array_free(continues_, TRUE);
        g_ptr_array_free(pending_, TRUE);
    }
    Lexer(const Lexer&) = delete;
    Lexer& operator=(const Lexer&) = delete;

    void run();
    guint count() const { return commands_->len; }
    Command& command(guint k) const { return g_array_index(commands_, Command, k); }
    // Whether a here-document body or quoted text goes on past the end of this view line.
    bool continues(guint viewLine) const {
        return viewLine < continues_->len && g_array_index(continues_, gboolean, viewLine);
    }

private:
    void markOpen() {
        if (line_ < continues_->len)
            g_array_index(continues_, gboolean, line_) = TRUE;
    }
    void newline(bool open) {
        if (open)
            markOpen();
        ++line_;
    }
    size_t quote(size_t j, char close);
    size_t matchParen(size_t j);
    size_t word(size_t i);
    Command* current();
    void endCommand();
    void applyToGroup(void (*apply)(Command*)) const;
    void redirect(size_t* i, int fd);
    void hereDocumentBodies(size_t* i);
    bool reserved(const char* text, size_t* i);
    void closeGroup(const char* closer);
    size_t skipWord(size_t i);
    void assign(const char* text, size_t length);
    void skipToDo(size_t* i);
    bool inCase() const {
        return groups_->len && strcmp(g_array_index(groups_, Group, groups_->len - 1).closer, "esac") == 0;
    }

    const char* s_;
    GArray* commands_;
    GArray* groups_;
    GArray* continues_;
    GPtrArray* pending_;  // here-document delimiters waiting for the end of the line; "-" first for <<-
    GHashTable* assigned_;
    guint line_ = 0;
    int current_ = -1;
    bool commandStart_ = true;
    bool nextPipedIn_ = false;
    bool expectPattern_ = false;
    // The range of the group just closed: redirections and pipes after it apply to it.
    int groupFirst_ = -1;
    int groupEnd_ = -1;
};

// From after an opening quote to after its closing one; newlines inside are open lines.
// Recursive through matchParen, as substitutions nest; the text bounds the depth.
size_t Lexer::quote(size_t j, char close) {  // NOLINT(misc-no-recursion)
    while (s_[j] && s_[j] != close) {
        if (s_[j] == '\\' && close != '\'' && s_[j + 1]) {
            if (s_[j + 1] == '\n')
                newline(true);
            j += 2;
            continue;
        }
        if (close == '"' && s_[j] == '$' && s_[j + 1] == '(') {
            j = matchParen(j + 2);
            if (j == kOpen)
                return kOpen;
            continue;
        }
        if (s_[j] == '\n')
            newline(true);
        ++j;
    }
    return s_[j] ? j + 1 : kOpen;
}

// From after "(" to after its ")".
size_t Lexer::matchParen(size_t j) {  // NOLINT(misc-no-recursion)
    int depth = 1;
    while (s_[j]) {
        char c = s_[j];
        if (c == '\\' && s_[j + 1]) {
            if (s_[j + 1] == '\n')
                ++line_;
            j += 2;
        } else if (c == '\'' || c == '"' || c == '`') {
            j = quote(j + 1, c);
            if (j == kOpen)
                return kOpen;
        } else {
            if (c == '\n')
                ++line_;
            if (c == '(')
                ++depth;
            if (c == ')' && --depth == 0)
                return j + 1;
            ++j;
        }
    }
    return kOpen;
}

// The end of the word starting at i.
size_t Lexer::word(size_t i) {
    size_t j = i;
    while (s_[j]) {
        char c = s_[j];
        if (strchr(" \t\n;&|<>()", c)) {
            bool substitution = (c == '<' || c == '>') && s_[j + 1] == '(' && j == i;
            bool array = c == '(' && j > i && strchr("=@?*+!", s_[j - 1]);
            if (!substitution && !array)
                break;
            j = matchParen(j + (substitution ? 2 : 1));
        } else if (c == '\\') {
            if (s_[j + 1] == '\n')
                ++line_;
            j += s_[j + 1] ? 2 : 1;
        } else if (c == '\'' || c == '"' || c == '`') {
            j = quote(j + 1, c);
        } else if (c == '$' && s_[j + 1] == '\'') {
            j = quote(j + 2, '\'');
        } else if (c == '$' && s_[j + 1] == '(') {
            j = matchParen(j + 2);
        } else if (c == '$' && s_[j + 1] == '{') {
            const char* close = strchr(s_ + j, '}');
            j = close ? static_cast<size_t>(close - s_) + 1 : kOpen;
        } else {
            ++j;
        }
        if (j == kOpen)
            return strlen(s_);
    }
    return j;
}

Command* Lexer::current() {
    if (current_ < 0) {
        Command fresh{g_ptr_array_new_with_free_func(g_free),
                      static_cast<int>(line_),
                      false,
                      false,
                      nextPipedIn_,
                      false,
                      false,
                      false};
        g_array_append_val(commands_, fresh);
        current_ = static_cast<int>(commands_->len) - 1;
        nextPipedIn_ = false;
        groupFirst_ = -1;
    }
    return &command(static_cast<guint>(current_));
}

void Lexer::endCommand() {
    current_ = -1;
    commandStart_ = true;
}

void Lexer::applyToGroup(void (*apply)(Command*)) const {
    for (int k = groupFirst_; k >= 0 && k < groupEnd_; ++k)
        apply(&command(static_cast<guint>(k)));
}

// Reads a redirection operator at *i (an fd number before it already read) and its target.
void Lexer::redirect(size_t* i, int fd) {
    const char* p = s_ + *i;
    bool both = p[0] == '&';
    if (both)
        ++p;
    bool input = p[0] == '<';
    size_t length = 1;
    bool hereDocument = false;
    if (input && p[1] == '<' && p[2] == '<') {
        length = 3;
    } else if (input && p[1] == '<') {
        hereDocument = true;
        length = p[2] == '-' ? 3 : 2;
    } else if (p[1] == '>' || p[1] == '&' || p[1] == '|' || (input && p[1] == '>')) {
        length = 2;
    }
    bool stripTabs = hereDocument && length == 3;
    *i = static_cast<size_t>(p - s_) + length;
    while (s_[*i] == ' ' || s_[*i] == '\t')
        ++*i;
    size_t end = word(*i);
    if (hereDocument) {
        GCharPtr delimiter(g_strndup(s_ + *i, end - *i));
        char* d = delimiter.get();
        char* out = d;
        for (char* c = d; *c; ++c) {
            if (*c != '\'' && *c != '"' && *c != '\\')
                *out++ = *c;
        }
        *out = '\0';
        g_ptr_array_add(pending_, g_strconcat(stripTabs ? "-" : "+", d, nullptr));
    }
    *i = end;
    bool toStdin = input && (fd < 0 || fd == 0);
    bool toStdout = !input && (both || fd < 0 || fd == 1);
    if (groupFirst_ >= 0 && current_ < 0) {
        if (toStdin)
            applyToGroup([](Command* c) { c->stdinRedirected = true; });
        if (toStdout)
            applyToGroup([](Command* c) { c->stdoutRedirected = true; });
        return;
    }
    Command* c = current();
    c->stdinRedirected |= toStdin;
    c->stdoutRedirected |= toStdout;
}

// Skips the bodies of the here-documents opened on the line that just ended.
void Lexer::hereDocumentBodies(size_t* i) {
    for (guint k = 0; k < pending_->len; ++k) {
        const char* delimiter = static_cast<const char*>(g_ptr_array_index(pending_, k));
        bool stripTabs = delimiter[0] == '-';
        ++delimiter;
        // The line that opened it ends inside the here-document.
        --line_;
        newline(true);
        while (s_[*i]) {
            size_t start = *i;
            if (stripTabs)
                start += strspn(s_ + start, "\t");
            size_t end = start + strcspn(s_ + start, "\n");
            bool last = end - start == strlen(delimiter) && strncmp(s_ + start, delimiter, end - start) == 0;
            *i = s_[end] ? end + 1 : end;
            newline(!last);
            if (last)
                break;
        }
    }
    g_ptr_array_set_size(pending_, 0);
}

void Lexer::assign(const char* text, size_t length) {
    if (assigned_ && isName(text, length))
        g_hash_table_replace(assigned_, g_strndup(text, length), GINT_TO_POINTER(1));
}

size_t Lexer::skipWord(size_t i) {
    while (s_[i] == ' ' || s_[i] == '\t')
        ++i;
    return word(i);
}

// Skips a loop's head ("in WORDS;", "((…))") up to its "do".
void Lexer::skipToDo(size_t* i) {
    while (s_[*i]) {
        if (strchr(" \t;\n", s_[*i])) {
            line_ += s_[*i] == '\n';
            ++*i;
            continue;
        }
        size_t end = word(*i);
        bool found = end - *i == 2 && strncmp(s_ + *i, "do", 2) == 0;
        *i = end > *i ? end : *i + 1;
        if (found)
            return;
    }
}

void Lexer::closeGroup(const char* closer) {
    endCommand();
    while (groups_->len) {
        Group group = g_array_index(groups_, Group, groups_->len - 1);
        g_array_set_size(groups_, groups_->len - 1);
        groupFirst_ = static_cast<int>(group.first);
        groupEnd_ = static_cast<int>(commands_->len);
        if (group.pipedIn)
            applyToGroup([](Command* c) { c->pipedIn = true; });
        if (group.subshell)
            applyToGroup([](Command* c) { c->subshell = true; });
        if (strcmp(group.closer, closer) == 0)
            break;
    }
    commandStart_ = false;
}

// Handles a reserved word in command position; false when text is none.
bool Lexer::reserved(const char* text, size_t* i) {
    static const char* const kOpeners[][2] = {
        {"if", "fi"},       {"while", "done"}, {"until", "done"}, {"for", "done"},
        {"select", "done"}, {"case", "esac"},  {"{", "}"},
    };
    for (const auto& opener : kOpeners) {
        if (strcmp(text, opener[0]) != 0)
            continue;
        Group group{opener[1], commands_->len, nextPipedIn_, false};
        nextPipedIn_ = false;
        g_array_append_val(groups_, group);
        if (strcmp(text, "for") == 0 || strcmp(text, "select") == 0) {
            size_t start = *i + strspn(s_ + *i, " \t");
            *i = skipWord(*i);
            assign(s_ + start, *i - start);
            skipToDo(i);
        }
        if (strcmp(text, "case") == 0) {
            // The word, then "in"; the patterns follow.
            *i = skipWord(*i);
            *i = skipWord(*i);
            expectPattern_ = true;
        }
        return true;
    }
    static const char* const kClosers[] = {"fi", "done", "esac", "}"};
    for (const char* closer : kClosers) {
        if (strcmp(text, closer) == 0) {
            closeGroup(closer);
            return true;
        }
    }
    static const char* const kOthers[] = {"then", "else", "elif", "do", "!", "time"};
    for (const char* other : kOthers) {
        if (strcmp(text, other) == 0)
            return true;
    }
    if (strcmp(text, "function") == 0) {
        *i = skipWord(*i);
        return true;
    }
    return false;
}

void Lexer::run() {
    size_t i = 0;
    while (s_[i]) {
        char c = s_[i];
        if (c == ' ' || c == '\t') {
            ++i;
        } else if (c == '\\' && s_[i + 1] == '\n') {
            i += 2;
            ++line_;
        } else if (c == '\n') {
            endCommand();
            groupFirst_ = -1;
            ++i;
            ++line_;
            if (pending_->len)
                hereDocumentBodies(&i);
        } else if (c == '#') {
            i += strcspn(s_ + i, "\n");
        } else if (c == ';') {
            // ";;", ";&" and ";;&" end a branch of a case: a pattern follows.
            bool branchEnd = s_[i + 1] == ';' || s_[i + 1] == '&';
            i += branchEnd ? 2 : 1;
            if (branchEnd && s_[i - 1] == ';' && s_[i] == '&')
                ++i;
            endCommand();
            groupFirst_ = -1;
            expectPattern_ = branchEnd && inCase();
        } else if (c == '&' && s_[i + 1] == '>') {
            redirect(&i, 1);
        } else if (c == '&' || c == '|') {
            bool doubled = s_[i + 1] == c;
            if (!doubled && c == '&') {
                if (current_ >= 0)
                    current()->background = true;
                else
                    applyToGroup([](Command* command) { command->background = true; });
            }
            if (!doubled && c == '|') {
                if (current_ >= 0)
                    current()->pipedOut = true;
                else
                    applyToGroup([](Command* command) { command->pipedOut = true; });
                nextPipedIn_ = true;
            }
            i += doubled || s_[i + 1] == '&' ? 2 : 1;
            endCommand();
            groupFirst_ = -1;
        } else if (c == '(' && commandStart_ && s_[i + 1] == '(') {
            // An arithmetic command: one word.
            size_t end = matchParen(i + 1);
            i = end == kOpen ? strlen(s_) : end;
            current();
            commandStart_ = false;
        } else if (c == '(' && commandStart_) {
            Group group{")", commands_->len, nextPipedIn_, true};
            nextPipedIn_ = false;
            g_array_append_val(groups_, group);
            ++i;
        } else if (c == '(') {
            // "name()": a function definition; its body is the compound command that follows.
            size_t end = matchParen(i + 1);
            i = end == kOpen ? strlen(s_) : end;
            if (current_ >= 0) {
                g_ptr_array_set_size(current()->words, 0);
            }
            endCommand();
        } else if (c == ')') {
            closeGroup(")");
            ++i;
        } else if (c == '<' || c == '>') {
            if (s_[i + 1] == '(') {
                size_t end = word(i);
                g_ptr_array_add(current()->words, g_strndup(s_ + i, end - i));
                i = end;
            } else {
                redirect(&i, -1);
            }
        } else if (expectPattern_) {
            // A case pattern up to its ")", or the end of the case.
            size_t end = word(i);
            if (end - i == 4 && strncmp(s_ + i, "esac", 4) == 0) {
                expectPattern_ = false;
                closeGroup("esac");
                i = end;
            } else {
                i = end;
                while (s_[i] && s_[i] != ')') {
                    if (strchr("| \t\n(", s_[i])) {
                        line_ += s_[i] == '\n';
                        ++i;
                        continue;
                    }
                    size_t next = word(i);
                    i = next > i ? next : i + 1;
                }
                if (s_[i])
                    ++i;
                expectPattern_ = false;
                commandStart_ = true;
            }
        } else {
            size_t end = word(i);
            GCharPtr text(g_strndup(s_ + i, end - i));
            size_t length = end - i;
            bool digits = strspn(text.get(), "0123456789") == length;
            if ((s_[end] == '<' || s_[end] == '>') && digits && length) {
                i = end;
                redirect(&i, atoi(text.get()));
                continue;
            }
            i = end;
            if (commandStart_ && current_ < 0 && reserved(text.get(), &i))
                continue;
            if (strcmp(text.get(), "[[") == 0) {
                const char* close = strstr(s_ + i, "]]");
                size_t stop = close ? static_cast<size_t>(close - s_) + 2 : strlen(s_);
                for (size_t k = i; k < stop; ++k)
                    line_ += s_[k] == '\n';
                i = stop;
            }
            const char* equals = strchr(text.get(), '=');
            if (commandStart_ && equals && isName(text.get(), static_cast<size_t>(equals - text.get()))) {
                assign(text.get(), static_cast<size_t>(equals - text.get()));
                current();
                continue;
            }
            Command* simple = current();
            if (simple->words->len == 0)
                simple->viewLine = static_cast<int>(line_);
            g_ptr_array_add(simple->words, text.release());
            commandStart_ = false;
        }
    }
}

const char* wordAt(const Command& command, guint k) {
    return k < command.words->len ? static_cast<const char*>(g_ptr_array_index(command.words, k)) : "";
}

bool isOneOf(const char* word, const char* const* list) {
    for (; *list; ++list) {
        if (strcmp(word, *list) == 0)
            return true;
    }
    return false;
}

bool hasWord(const Command& command, const char* const* list) {
    for (guint k = 1; k < command.words->len; ++k) {
        if (isOneOf(wordAt(command, k), list))
            return true;
    }
    return false;
}

// A short option cluster such as "-xvf" (or tar's "xvf") that holds v, or --verbose.
bool verbose(const Command& command) {
    for (guint k = 1; k < command.words->len; ++k) {
        const char* word = wordAt(command, k);
        bool cluster = word[0] == '-' && word[1] != '-';
        bool tarStyle = k == 1 && strcmp(wordAt(command, 0), "tar") == 0 && word[0] != '-';
        if (strcmp(word, "--verbose") == 0 ||
            ((cluster || tarStyle) && strchr(word, 'v') && !strchr(word, '=')))
            return true;
    }
    return false;
}

int scriptLineOf(const ShellView& view, int viewLine) {
    guint index = static_cast<guint>(viewLine);
    if (index >= view.lines->len)
        index = view.lines->len - 1;
    return g_array_index(view.lines, int, index);
}

// A command that takes its input from standard input unless it names a file.
struct InputReader {
    const char* name;
    const char* argumentOptions;  // short options whose argument may be the next word
    const char* programOptions;   // short options that give the pattern or program instead
    const char* longProgram;      // the long form of those, "" when there is none
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
bool readsNoFile(const Command& command, const InputReader& reader) {
    int leading = reader.leading;
    int files = 0;
    bool options = true;
    for (guint k = 1; k < command.words->len; ++k) {
        const char* word = wordAt(command, k);
        if (options && strcmp(word, "--") == 0) {
            options = false;
        } else if (options && word[0] == '-' && word[1] == '-') {
            size_t length = strlen(reader.longProgram);
            if (length && strncmp(word, reader.longProgram, length) == 0) {
                leading = 0;
                k += word[length] == '=' ? 0 : 1;
            } else if (*reader.ownInput && strcmp(word, "--recursive") == 0) {
                return false;
            }
        } else if (options && word[0] == '-' && word[1]) {
            for (const char* letter = word + 1; *letter; ++letter) {
                if (strchr(reader.ownInput, *letter))
                    return false;
                if (strchr(reader.programOptions, *letter))
                    leading = 0;
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
    return files == 0;
}

// A package manager that asks before it changes the system (sudo in front or not), without the
// -y that answers for it: it reads the answer from standard input. Its name, or nullptr.
const char* askingManager(const Command& command) {
    static const char* const kManagers[] = {"apt-get", "apt", "dnf", "yum", nullptr};
    static const char* const kChanges[] = {"install",      "reinstall",    "remove",     "purge",   "erase",
                                           "dist-upgrade", "full-upgrade", "autoremove", "upgrade", nullptr};
    static const char* const kYes[] = {"--yes", "--assume-yes", "--assumeyes", "-qq", nullptr};
    static const char* const kWithArgument[] = {"-o", "-c", "-t", nullptr};
    // These also update the installed packages with "update"; apt-get only reads lists with it.
    static const char* const kUpdating[] = {"dnf", "yum", nullptr};
    guint k = 0;
    if (strcmp(wordAt(command, 0), "sudo") == 0) {
        for (k = 1; wordAt(command, k)[0] == '-';)
            ++k;
    }
    const char* manager = wordAt(command, k);
    if (!isOneOf(manager, kManagers))
        return nullptr;
    const char* action = nullptr;
    for (++k; k < command.words->len; ++k) {
        const char* word = wordAt(command, k);
        if (isOneOf(word, kYes) || (word[0] == '-' && word[1] != '-' && strchr(word, 'y')))
            return nullptr;
        if (isOneOf(word, kWithArgument))
            ++k;
        else if (word[0] != '-' && !action)
            action = word;
    }
    bool update = action && strcmp(action, "update") == 0 && isOneOf(manager, kUpdating);
    return action && (isOneOf(action, kChanges) || update) ? manager : nullptr;
}

void checkStandardInput(const Script& script, const ShellView& view, const Command& command) {
    // These read standard input whatever their operands; read -u reads another descriptor.
    static const char* const kAlways[] = {"read", "mapfile", "readarray", "tee", "tr", "xargs", nullptr};
    static const char* const kOtherInput[] = {"-u", nullptr};
    const char* name = wordAt(command, 0);
    if (command.stdinRedirected || command.pipedIn)
        return;
    bool reads = isOneOf(name, kAlways) && !hasWord(command, kOtherInput);
    for (const InputReader& reader : kInputReaders) {
        if (strcmp(name, reader.name) == 0)
            reads = readsNoFile(command, reader);
    }
    if (reads)
        report(script.path, scriptLineOf(view, command.viewLine), Severity::Warning,
               "`%s` reads standard input, and a block's standard input is its own text: it takes "
               "the block's next lines, which then never run; give it input, e.g. `%s < FILE` or "
               "`< /dev/null`",
               name, name);
    else if (const char* manager = askingManager(command))
        report(script.path, scriptLineOf(view, command.viewLine), Severity::Warning,
               "`%s` asks before it changes the system and reads its answer from standard input, "
               "the block's own text: it takes the block's next lines, which then never run, and "
               "mostly gives up; add `-y`",
               manager);
}

void checkCd(const Script& script, const ShellView& view, const Command& command) {
    static const char* const kMoves[] = {"cd", "pushd", "popd", nullptr};
    if (!isOneOf(wordAt(command, 0), kMoves) || command.subshell || command.pipedIn || command.pipedOut)
        return;
    report(script.path, scriptLineOf(view, command.viewLine), Severity::Warning,
           "`%s` here also moves the later blocks in silent mode, where the whole file is one bash "
           "script, but not in the window, where each block starts afresh; use a subshell, "
           "`( cd DIR && … )`, or absolute paths",
           wordAt(command, 0));
}

bool printsToStdout(const Command& command) {
    static const char* const kPrinters[] = {
        "echo",  "printf", "cat",  "ls",   "pwd",   "date", "df",  "du",   "env",   "printenv", "id",
        "uname", "whoami", "head", "tail", "grep",  "sed",  "awk", "sort", "uniq",  "wc",       "cut",
        "tr",    "tee",    "find", "diff", "which", "type", "ps",  "free", nullptr,
    };
    static const char* const kQuiet[] = {"-q", "--quiet", "--silent", nullptr};
    if (command.stdoutRedirected || command.pipedOut || hasWord(command, kQuiet))
        return false;
    return isOneOf(wordAt(command, 0), kPrinters) || verbose(command);
}

void checkOutput(const Script& script, const Block& block, const ShellView& view, const Lexer& lexer) {
    static const char* const kBuffering[] = {"sed", "grep", "awk",    "gawk",    "mawk", "cut",
                                             "tr",  "uniq", "python", "python3", "perl", nullptr};
    static const char* const kLineBuffered[] = {"-u", "--line-buffered", "--unbuffered", nullptr};
    static const char* const kChatty[] = {"tar",   "cp", "mv",      "rm",   "rsync", "mkdir", "chmod",
                                          "chown", "ln", "install", "cpio", "unzip", nullptr};
    static const char* const kQuietUnzip[] = {"-q", "-qq", nullptr};
    bool silenced = false;
    bool nowaitNoted = false;
    for (guint k = 0; k < lexer.count(); ++k) {
        const Command& command = lexer.command(k);
        const char* name = wordAt(command, 0);
        int line = scriptLineOf(view, command.viewLine);
        if (strcmp(name, "exec") == 0 && command.words->len == 1 && command.stdoutRedirected)
            silenced = true;
        if (block.mode != BlockMode::Blocking && command.background && !command.stdoutRedirected)
            report(script.path, line, Severity::Warning,
                   "`%s … &` keeps the block's output pipe open: the window counts the block as running "
                   "until it ends; write `%s … >/dev/null 2>&1 &`",
                   name, name);
        if (block.mode == BlockMode::NoWait && !silenced && !nowaitNoted && printsToStdout(command)) {
            nowaitNoted = true;
            report(script.path, line, Severity::Note,
                   "the window discards the output of this #script_start_nowait block, but in silent "
                   "mode `%s` prints on the console; add `>/dev/null` where it should never show",
                   name);
        }
        if (block.mode != BlockMode::Async || command.stdoutRedirected || command.pipedOut)
            continue;
        if (command.pipedIn && isOneOf(name, kBuffering) && !hasWord(command, kLineBuffered))
            report(script.path, line, Severity::Note,
                   "`%s` writes its output in chunks when it goes to a pipe: its lines reach the window "
                   "late and all at once; write `stdbuf -oL %s …` (`python3 -u` for Python)",
                   name, name);
        bool unzipChatter = strcmp(name, "unzip") == 0 && !hasWord(command, kQuietUnzip);
        if (isOneOf(name, kChatty) && (verbose(command) || unzipChatter))
            report(script.path, line, Severity::Note,
                   "`%s` writes a line per file, and the window shows ten lines a second: the block "
                   "takes at least a tenth of a second per file; use a #script_start_blocking block, "
                   "or pipe it into `tail -n 1`",
                   name);
    }
}

// Empty lines that the window drops from a block while silent mode keeps them: harmless
// between commands, but inside a here-document or quoted text the two modes then differ.
void checkDroppedLines(const Script& script, const Block& block, const ShellView& view, const Lexer& lexer) {
    for (guint index = 0; index < script.lines->len; ++index) {
        const ScriptLine& line = g_array_index(script.lines, ScriptLine, index);
        if (line.block != static_cast<int>(&block - &g_array_index(script.blocks, Block, 0)) ||
            line.role != LineRole::BlockBody || line.length != 0)
            continue;
        guint before = 0;
        while (before + 1 < view.lines->len && g_array_index(view.lines, int, before + 1) < line.number)
            ++before;
        if (lexer.continues(before))
            report(script.path, line.number, Severity::Warning,
                   "this empty line lies inside a here-document or quoted text: the window drops it, "
                   "silent mode keeps it; write empty lines with `printf '\\n'` or `echo`");
    }
}

}  // namespace

void collectAssignedNames(const ShellView& view, GHashTable* names) {
    static const char* const kSetters[] = {"read",    "mapfile", "readarray", "local", "declare",
                                           "typeset", "export",  "readonly",  nullptr};
    Lexer lexer(view.text->str, view.lines->len, names);
    lexer.run();
    for (guint k = 0; k < lexer.count(); ++k) {
        const Command& command = lexer.command(k);
        if (!isOneOf(wordAt(command, 0), kSetters))
            continue;
        for (guint w = 1; w < command.words->len; ++w) {
            const char* word = wordAt(command, w);
            size_t length = strcspn(word, "=");
            if (isName(word, length))
                g_hash_table_replace(names, g_strndup(word, length), GINT_TO_POINTER(1));
        }
    }
}

void checkCommands(const Script& script, const Block& block, const ShellView& view, bool later) {
    Lexer lexer(view.text->str, view.lines->len, nullptr);
    lexer.run();
    for (guint k = 0; k < lexer.count(); ++k) {
        const Command& command = lexer.command(k);
        if (command.words->len == 0)
            continue;
        checkStandardInput(script, view, command);
        if (later)
            checkCd(script, view, command);
    }
    checkOutput(script, block, view, lexer);
    checkDroppedLines(script, block, view, lexer);
}
