// A GTK module that the translation test loads into the real program
// (GTK_MODULES=<this library>). It binds the program's text domain to the
// build tree's compiled catalogues, and once the main window is up it prints
// the window title, the notebook tab labels and every menu item, one line
// each, so that a test can check which language the program speaks.
#include <gmodule.h>
#include <gtk/gtk.h>
#include <libintl.h>

#include <cstdio>

namespace {

void print_line(const char *kind, const char *name, const char *text)
{
    std::printf("probe\t%s\t%s\t%s\n", kind, name ? name : "", text ? text : "");
}

const char *label_of(GtkWidget *widget)
{
    GtkWidget *child = GTK_IS_BIN(widget) ? gtk_bin_get_child(GTK_BIN(widget)) : nullptr;
    return child && GTK_IS_LABEL(child) ? gtk_label_get_label(GTK_LABEL(child)) : nullptr;
}

void print_menu_items(GtkWidget *widget, gpointer)
{
    if (GTK_IS_MENU_ITEM(widget) && !GTK_IS_SEPARATOR_MENU_ITEM(widget)) {
        print_line("menu", gtk_widget_get_name(widget), label_of(widget));
        GtkWidget *submenu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(widget));
        if (submenu)
            gtk_container_foreach(GTK_CONTAINER(submenu), print_menu_items, nullptr);
        return;
    }
    if (GTK_IS_NOTEBOOK(widget)) {
        GtkNotebook *notebook = GTK_NOTEBOOK(widget);
        for (int i = 0; i < gtk_notebook_get_n_pages(notebook); i++) {
            GtkWidget *tab = gtk_notebook_get_tab_label(notebook, gtk_notebook_get_nth_page(notebook, i));
            if (tab && GTK_IS_LABEL(tab))
                print_line("tab", gtk_widget_get_name(widget), gtk_label_get_label(GTK_LABEL(tab)));
        }
    }
    if (GTK_IS_CONTAINER(widget))
        gtk_container_foreach(GTK_CONTAINER(widget), print_menu_items, nullptr);
}

gboolean probe_main_window(gpointer)
{
    GList *windows = gtk_window_list_toplevels();
    GtkWidget *main_window = nullptr;
    for (GList *l = windows; l; l = l->next) {
        GtkWidget *w = GTK_WIDGET(l->data);
        if (gtk_widget_get_visible(w) && g_strcmp0(gtk_widget_get_name(w), "window_main") == 0)
            main_window = w;
    }
    g_list_free(windows);
    if (!main_window)
        return TRUE;
    print_line("title", "window_main", gtk_window_get_title(GTK_WINDOW(main_window)));
    print_menu_items(main_window, nullptr);
    print_line("done", "", "");
    std::fflush(stdout);
    return FALSE;
}

} // namespace

extern "C" G_MODULE_EXPORT void gtk_module_init(gint *, gchar ***)
{
    // Runs inside gtk_init, after the program bound its domain to the
    // install prefix; the catalogues under test are in the build tree.
    bindtextdomain("dravlen-client", DRAVLEN_BUILD_LOCALEDIR);
    gdk_threads_add_timeout(100, probe_main_window, nullptr);
}
