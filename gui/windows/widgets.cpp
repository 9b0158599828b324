#include "gui/windows/widgets.h"

#include <vector>

static const char *const PARENT_KEY = "GladeParentKey";

void widgets_register(GtkWidget *toplevel, GtkWidget *widget, const char *name)
{
    gtk_widget_set_name(widget, name);
    if (toplevel == widget) {
        // A window does not keep a reference on itself, or it would never be freed.
        g_object_set_data(G_OBJECT(toplevel), name, widget);
        return;
    }
    g_object_set_data_full(G_OBJECT(toplevel), name, g_object_ref(widget),
                           (GDestroyNotify)g_object_unref);
}

void widgets_set_parent_key(GtkWidget *widget, GtkWidget *toplevel)
{
    g_object_set_data(G_OBJECT(widget), PARENT_KEY, toplevel);
}

void widgets_register_object(GtkWidget *toplevel, GObject *object, const char *name)
{
    g_object_set_data_full(G_OBJECT(toplevel), name, g_object_ref(object),
                           (GDestroyNotify)g_object_unref);
}

GtkWidget *lookup_widget(GtkWidget *widget, const char *name)
{
    GtkWidget *found = nullptr;
    GtkWidget *parent;
    // Climb to the toplevel; menus hang off the item they are attached to.
    for (GtkWidget *w = widget; w; w = parent) {
        if (GTK_IS_MENU(w))
            parent = gtk_menu_get_attach_widget(GTK_MENU(w));
        else
            parent = gtk_widget_get_parent(w);
        if (!parent)
            parent = (GtkWidget *)g_object_get_data(G_OBJECT(w), PARENT_KEY);
        if (!parent) {
            widget = w;
            break;
        }
    }
    if (widget)
        found = (GtkWidget *)g_object_get_data(G_OBJECT(widget), name);
    if (!found)
        g_warning("Widget not found: %s", name);
    return found;
}

static std::vector<void (*)(void)> &quit_cleanups()
{
    static std::vector<void (*)(void)> list;
    return list;
}

void widgets_add_quit_cleanup(void (*cleanup)(void))
{
    quit_cleanups().push_back(cleanup);
}

void widgets_run_quit_cleanups(void)
{
    for (auto cleanup : quit_cleanups())
        cleanup();
}
