/* The floor for the licence dialog: a GTK program, built for GTK+ 2 and for GTK 3, that shows
 * the same dialog, a chooser listing the files of ./eula sorted and "English" chosen, its text
 * in a wrapping view and an "Accept" button, filled the quickest way the toolkit offers, and
 * does nothing else. */
#include <gtk/gtk.h>
#include <string.h>

static gint byName(gconstpointer a, gconstpointer b) {
    return g_ascii_strcasecmp(*(const char* const*)a, *(const char* const*)b);
}

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    GPtrArray* names = g_ptr_array_new_with_free_func(g_free);
    GDir* dir = g_dir_open("eula", 0, NULL);
    for (const char* name; dir && (name = g_dir_read_name(dir));)
        g_ptr_array_add(names, g_strdup(name));
    if (dir)
        g_dir_close(dir);
    g_ptr_array_sort(names, byName);

    GtkListStore* store = gtk_list_store_new(1, G_TYPE_STRING);
    int english = -1;
    for (guint i = 0; i < names->len; ++i) {
        gtk_list_store_insert_with_values(store, NULL, (gint)i, 0, g_ptr_array_index(names, i), -1);
        if (strcmp(g_ptr_array_index(names, i), "English") == 0)
            english = (int)i;
    }
    GtkWidget* chooser = gtk_combo_box_new_with_model(GTK_TREE_MODEL(store));
    GtkCellRenderer* cell = gtk_cell_renderer_text_new();
    gtk_cell_layout_pack_start(GTK_CELL_LAYOUT(chooser), cell, TRUE);
    gtk_cell_layout_set_attributes(GTK_CELL_LAYOUT(chooser), cell, "text", 0, NULL);
    gtk_combo_box_set_active(GTK_COMBO_BOX(chooser), english);

    gchar* text = NULL;
    g_file_get_contents("eula/English", &text, NULL, NULL);
    GtkWidget* view = gtk_text_view_new();
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD);
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), text ? text : "", -1);
    GtkWidget* scrolled = gtk_scrolled_window_new(NULL, NULL);
    gtk_container_add(GTK_CONTAINER(scrolled), view);

    GtkWidget* dialog = gtk_dialog_new();
    GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
    gtk_box_pack_start(GTK_BOX(content), chooser, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(content), scrolled, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(content), gtk_button_new_with_label("Accept"), FALSE, FALSE, 0);
    gtk_window_set_default_size(GTK_WINDOW(dialog), 600, 600);
    gtk_window_set_title(GTK_WINDOW(dialog), "License Agreement");
    g_signal_connect(dialog, "destroy", G_CALLBACK(gtk_main_quit), NULL);
    gtk_widget_show_all(dialog);
    gtk_main();
    return 0;
}
