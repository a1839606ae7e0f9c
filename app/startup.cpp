// The option scan, the choice between silent and interactive mode, and the exit status.
#include <fcntl.h>
#include <glib.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "app/app.h"
#include "buffers/buffers.h"
#include "buffers/owned.h"
#include "eula/eula.h"
#include "progress/control.h"
#include "progress/progress.h"
#include "shell/shell.h"
#include "toolkit/toolkit.h"

int m_bsilent = 0;
int m_beula = 0;

namespace {

bool is(const char* argument, const char* a, const char* b, const char* c = nullptr) {
    return strcmp(argument, a) == 0 || strcmp(argument, b) == 0 || (c && strcmp(argument, c) == 0);
}

int runInteractive(int* argc, char*** argv) {
    if (!openToolkit()) {
        g_print("%s", noToolkitMessage());
        return 1;
    }
    gtk_init(argc, argv);
    if (readEULA("./eula/English")) {
        create_eula();
        gtk_main();
    } else {
        g_print("Warning:  EULA not found\n");
        m_beula = 1;
    }
    if (!m_beula) {
        g_print("Error:  EULA not accepted\n");
        return 1;
    }
    create_progress();
    gtk_main();
    return m_nStatus;
}

// The text that bash last wrote to fd for a "#stop_on_failure=" line, or nullptr when it wrote
// none. Caller g_frees.
char* lastStopText(int fd) {
    GString* texts = g_string_new(nullptr);
    char chunk[4096];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t got; (got = read(fd, chunk, sizeof chunk)) > 0;)
        g_string_append_len(texts, chunk, got);
    if (texts->len == 0) {
        g_string_free(texts, TRUE);
        return nullptr;
    }
    // Each text ends in a line feed.
    g_string_truncate(texts, texts->len - 1);
    const char* last = strrchr(texts->str, '\n');
    char* text = g_strdup(last ? last + 1 : texts->str);
    g_string_free(texts, TRUE);
    return text;
}

// The whole control script as one bash script. After "#stop_on_failure=" a failing block ends
// it: its text goes to standard error and its status is the program's.
int runSilent() {
    // Where bash writes the text of each such line it reaches: an unlinked file that it
    // inherits, which no number of them can fill, unlike a pipe that nobody reads meanwhile.
    char* name = nullptr;
    int fd = g_file_open_tmp("ostrel-XXXXXX", &name, nullptr);
    if (name)
        unlink(name);
    g_free(name);
    GCharPtr script(fd >= 0 ? silentScript(m_pBuffer, fd) : nullptr);
    if (!script) {
        if (fd >= 0)
            close(fd);
        BashBlocking(m_pBuffer, m_nBuffer);
        return 0;
    }
    fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) & ~FD_CLOEXEC);
    int status = 0;
    BashBlocking(script.get(), strlen(script.get()), &status);
    GCharPtr text(lastStopText(fd));
    close(fd);
    if (!text || status == 0)
        return 0;
    fputs(text.get(), stderr);
    fputc('\n', stderr);
    fflush(stderr);
    return status;
}

}  // namespace

int startup(int argc, char** argv) {
    // A command line that names a control script never runs another one.
    bool named = false;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (is(argument, "-s", "-S"))
            m_bsilent = 1;
        // The file name is not skipped: it is examined as an option in its own right next.
        if (is(argument, "-f", "-F") && i + 1 < argc) {
            named = true;
            readScript(argv[i + 1]);
        }
        if (is(argument, "-h", "-H", "-help")) {
            g_print("Ostrel Help...\n");
            releaseScript();
            return 0;
        }
    }
    // A script counts as loaded only while its text is held: a later -f that read nothing
    // has released the earlier one.
    if (!m_pBuffer && !named)
        readScript("./installer");
    if (!m_pBuffer) {
        g_print("Error:  Script File Required (-f /some/File.sh)\n");
        return 1;
    }
    m_pBufferIndex = m_pBuffer;

    // What every block may ask: how it is run, and (once accepted) the licence's language.
    g_setenv("OSTREL_MODE", m_bsilent ? "silent" : "window", TRUE);
    g_unsetenv("OSTREL_LANGUAGE");
    // Silent mode waits for the shell, and the script's output reaches ours unchanged.
    int status = m_bsilent ? runSilent() : runInteractive(&argc, &argv);
    releaseScript();
    return status;
}
