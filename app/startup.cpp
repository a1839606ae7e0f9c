// The option scan, the choice between silent and interactive mode, and the exit status.
#include <glib.h>
#include <string.h>

#include "app/app.h"
#include "buffers/buffers.h"
#include "eula/eula.h"
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
    return 0;
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

    int status = 0;
    if (m_bsilent) {
        // Waits for the shell, and the script's output reaches ours unchanged.
        BashBlocking(m_pBuffer, m_nBuffer);
    } else {
        status = runInteractive(&argc, &argv);
    }
    releaseScript();
    return status;
}
