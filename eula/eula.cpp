// The licence agreement dialog: the text in the chosen language and an "Accept" button.
#include "eula/eula.h"

#include <dirent.h>
#include <glib.h>
#include <string.h>

#include <initializer_list>

#include "app/app.h"
#include "buffers/buffers.h"
#include "buffers/owned.h"
#include "progress/progress.h"
#include "toolkit/toolkit.h"

namespace {

// Windows-1252's characters for 0x80..0x9F; the five it leaves undefined keep their
// ISO-8859-1 meaning.
const gunichar cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// The chooser's name of the licence on view, told to the blocks once it is accepted.
char* shownLanguage = nullptr;

void showLicence(GtkWidget* textView) {
    GCharPtr text(licenceText(m_pBufferEULA));
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(textView)), text.get(), -1);
}

// GTK 3 has only the text combo box's own calls; GTK+ 2 keeps the plain combo box's.
GtkWidget* newTextChooser() {
    return m_nGtk == 3 ? gtk_combo_box_text_new() : gtk_combo_box_new_text();
}

char* activeText(GtkWidget* chooser) {
    if (m_nGtk == 3)
        return gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(chooser));
    return gtk_combo_box_get_active_text(GTK_COMBO_BOX(chooser));
}

void selectEULA(GtkWidget* chooser, gpointer textView) {
    GCharPtr name(activeText(chooser));
    if (!name)
        return;
    g_print("Display EULA: %s\n", name.get());
    GCharPtr path(g_strdup_printf("%s/%s", "./eula", name.get()));
    if (readEULA(path.get())) {
        showLicence(static_cast<GtkWidget*>(textView));
        g_free(shownLanguage);
        shownLanguage = name.release();
    }
}

void acceptEULA(GtkWidget*, gpointer dialog) {
    m_beula = 1;
    g_setenv("OSTREL_LANGUAGE", shownLanguage, TRUE);
    // GTK 3 hides the children with their window.
    if (m_nGtk == 3)
        gtk_widget_hide(static_cast<GtkWidget*>(dialog));
    else
        gtk_widget_hide_all(static_cast<GtkWidget*>(dialog));
    gtk_main_quit();
}

// The regular files of the licence directory, in locale encoding, sorted ignoring ASCII
// case. Names that cannot be converted are left out. Caller frees the list and its names.
GSList* languages() {
    GSList* names = nullptr;
    DIR* directory = opendir("./eula");
    if (!directory)
        return nullptr;
    while (struct dirent* entry = readdir(directory)) {
        if (entry->d_type != DT_REG)
            continue;
        if (char* name = g_locale_from_utf8(entry->d_name, -1, nullptr, nullptr, nullptr))
            names = g_slist_insert_sorted(names, name, reinterpret_cast<GCompareFunc>(g_ascii_strcasecmp));
    }
    closedir(directory);
    return names;
}

}  // namespace

char* licenceText(const char* bytes) {
    if (g_utf8_validate(bytes, -1, nullptr))
        return g_strdup(bytes);
    GString* text = g_string_sized_new(strlen(bytes) * 2);
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(bytes); *c; ++c) {
        if (*c >= 0x80 && *c < 0xA0)
            g_string_append_unichar(text, cp1252High[*c - 0x80]);
        else
            g_string_append_unichar(text, *c);
    }
    return g_string_free(text, FALSE);
}

GtkWidget* create_eula() {
    if (!m_pBufferEULA)
        return nullptr;

    GtkWidget* dialog = gtk_dialog_new();
    GtkWidget* chooser = newTextChooser();
    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    GtkWidget* textView = gtk_text_view_new();
    GtkWidget* button = gtk_button_new_with_label("Accept");

    g_signal_connect(dialog, "destroy", G_CALLBACK(destroy), nullptr);
    g_signal_connect(chooser, "changed", G_CALLBACK(selectEULA), textView);
    g_signal_connect(button, "clicked", G_CALLBACK(acceptEULA), dialog);

    GtkBox* content = GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog)));
    gtk_box_pack_start(content, chooser, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(scrolled), textView);
    gtk_box_pack_start(content, scrolled, TRUE, TRUE, 0);
    gtk_box_pack_start(content, button, FALSE, FALSE, 0);

    GtkWindow* window = GTK_WINDOW(dialog);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    gtk_window_set_keep_above(window, TRUE);
    load_icon();
    gtk_window_set_resizable(window, TRUE);
    gtk_window_set_default_size(window, 600, 600);
    gtk_window_set_title(window, "License Agreement");

    gtk_container_set_border_width(GTK_CONTAINER(scrolled), 10);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC, GTK_POLICY_ALWAYS);

    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(textView), GTK_WRAP_WORD);
    gtk_text_view_set_editable(GTK_TEXT_VIEW(textView), FALSE);
    // What start-up loaded: "./eula/English", whether or not the chooser lists it.
    g_free(shownLanguage);
    shownLanguage = g_strdup("English");
    showLicence(textView);

    gtk_widget_set_can_default(button, TRUE);
    gtk_widget_grab_default(button);

    // An attached list makes the chooser rebuild its menu for every row added, which takes
    // minutes for thousands of languages: the rows go in detached, the activations follow.
    GtkComboBox* combo = GTK_COMBO_BOX(chooser);
    GtkListStore* store = GTK_LIST_STORE(g_object_ref(gtk_combo_box_get_model(combo)));
    gtk_combo_box_set_model(combo, nullptr);
    // The rows whose name holds "English", activated in order once the list is attached.
    GArray* english = g_array_new(FALSE, FALSE, sizeof(int));
    GSList* names = languages();
    int count = 0;
    for (GSList* node = names; node; node = node->next) {
        const char* name = static_cast<const char*>(node->data);
        if (GCharPtr entry{g_locale_from_utf8(name, -1, nullptr, nullptr, nullptr)}) {
            gtk_list_store_insert_with_values(store, nullptr, count, 0, entry.get(), -1);
            ++count;
            if (strstr(name, "English")) {
                int row = count - 1;
                g_array_append_val(english, row);
            }
        }
    }
    g_slist_free_full(names, g_free);
    gtk_combo_box_set_model(combo, GTK_TREE_MODEL(store));
    g_object_unref(store);
    // Activating an entry runs selectEULA, which loads and shows that file.
    for (guint i = 0; i < english->len; ++i)
        gtk_combo_box_set_active(combo, g_array_index(english, int, i));
    g_array_free(english, TRUE);

    for (GtkWidget* widget : {chooser, textView, scrolled, button, dialog})
        gtk_widget_show(widget);
    return dialog;
}
