// The toolkit, GTK+ 2 or GTK 3, found when a window is first needed: the window code includes
// this in place of <gtk/gtk.h> and calls the toolkit by its own names.
#pragma once

#include <gtk/gtk.h>

#if GTK_CHECK_VERSION(3, 0, 0)
// Compiled against GTK 3's headers to prove that the GTK 3 road calls nothing newer than
// GTK 3.0: the GTK+ 2 calls of the GTK+ 2 road are declared as GTK+ 2.24 has them.
G_BEGIN_DECLS
typedef enum { GTK_PROGRESS_LEFT_TO_RIGHT } GtkProgressBarOrientation;
GtkWidget* gtk_combo_box_new_text(void);
gchar* gtk_combo_box_get_active_text(GtkComboBox* combo_box);
void gtk_progress_bar_set_orientation(GtkProgressBar* pbar, GtkProgressBarOrientation orientation);
void gtk_widget_hide_all(GtkWidget* widget);
G_END_DECLS
#else
// The GTK 3 calls of the GTK 3 road, as GTK 3.0 declares them.
G_BEGIN_DECLS
void gtk_progress_bar_set_show_text(GtkProgressBar* pbar, gboolean show_text);
G_END_DECLS
#endif

// The major version of the GTK that openToolkit opened: 2 or 3, and 0 before or without one.
extern int m_nGtk;

// Opens the toolkit for the windows, once: $OSTREL_TOOLKIT "gtk2" or "gtk3" when set, otherwise
// GTK+ 2 where it can be opened and GTK 3 where not. Every toolkit function the program calls
// is then bound to it. Returns m_nGtk; 0 when the toolkit asked for cannot be opened.
int openToolkit();

// The line that tells a user why there is no window, for openToolkit's 0; static text.
const char* noToolkitMessage();
