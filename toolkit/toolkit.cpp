// Finds the toolkit when a window is first needed, and binds the program's calls to it.
#include "toolkit/toolkit.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

// The program's toolkit stubs (toolkit/stubs.cmake): the functions it calls, by name, and the
// table of addresses their stubs jump through.
extern "C" {
extern const unsigned ostrelToolkitCount;
extern const char* const ostrelToolkitNames[];
extern void* ostrelToolkitAddresses[];
void ostrelToolkitUnbound();
}

int m_nGtk = 0;

namespace {

struct Toolkit {
    int version;
    const char* choice;   // its value of OSTREL_TOOLKIT
    const char* library;  // its soname
    const char* missing;  // the line for a window that asked for it and cannot have it
};
// In the order tried when no toolkit is asked for.
const Toolkit kToolkits[] = {
    {2, "gtk2", "libgtk-x11-2.0.so.0",
     "Error:  A window with OSTREL_TOOLKIT=gtk2 needs GTK+ 2 (-s installs without one)\n"},
    {3, "gtk3", "libgtk-3.so.0",
     "Error:  A window with OSTREL_TOOLKIT=gtk3 needs GTK 3 (-s installs without one)\n"},
};

// The toolkit that $OSTREL_TOOLKIT, given as choice, asks for, or none.
const Toolkit* asked(const char* choice) {
    for (const Toolkit& toolkit : kToolkits) {
        if (choice && strcmp(choice, toolkit.choice) == 0)
            return &toolkit;
    }
    return nullptr;
}

// Looks every function up in the process's global scope, as the dynamic linker would for a
// linked program, so that preloaded libraries still come first.
void bind() {
    for (unsigned i = 0; i < ostrelToolkitCount; ++i) {
        void* address = dlsym(RTLD_DEFAULT, ostrelToolkitNames[i]);
        ostrelToolkitAddresses[i] = address ? address : reinterpret_cast<void*>(ostrelToolkitUnbound);
    }
}

}  // namespace

// Where a stub leads when the toolkit lacks its function, or before any toolkit was opened.
extern "C" void ostrelToolkitUnbound() {
    g_printerr("Ostrel: a function that the toolkit (GTK %d) does not have was called\n", m_nGtk);
    abort();
}

int openToolkit() {
    if (m_nGtk)
        return m_nGtk;
    const char* choice = getenv("OSTREL_TOOLKIT");
    const Toolkit* only = asked(choice);
    if (choice && *choice && !only)
        g_print("Warning:  OSTREL_TOOLKIT=%s is neither gtk2 nor gtk3: ignored\n", choice);
    for (const Toolkit& toolkit : kToolkits) {
        if (only && only != &toolkit)
            continue;
        // Global, so that the toolkit's own libraries and modules find each other's symbols as
        // in a linked program. A failed open leaves nothing of the library in the process; an
        // open one stays until the program ends, as a linked one would.
        // cppcheck-suppress leakNoVarFunctionCall
        if (dlopen(toolkit.library, RTLD_LAZY | RTLD_GLOBAL)) {
            m_nGtk = toolkit.version;
            bind();
            break;
        }
    }
    return m_nGtk;
}

const char* noToolkitMessage() {
    const Toolkit* only = asked(getenv("OSTREL_TOOLKIT"));
    return only ? only->missing : "Error:  A window needs GTK+ 2 or GTK 3 (-s installs without one)\n";
}
