// The licence agreement dialog with its language chooser.
#pragma once

typedef struct _GtkWidget GtkWidget;

// Builds and shows the licence dialog for the text held in m_pBufferEULA, or does nothing
// and returns nullptr when none is held. The dialog belongs to itself.
GtkWidget* create_eula();

// The licence text as UTF-8 for display: valid UTF-8 as it is, anything else read as
// Windows-1252 so that every byte shows. Caller g_frees.
char* licenceText(const char* bytes);
