#include "gui/windows/placement.h"

#include <algorithm>
#include <vector>

namespace {

// Frame the window manager adds around the window, as far as known.
void decoration(GtkWindow *window, int *width, int *height)
{
    *width = *height = 0;
    GdkWindow *gdk = gtk_widget_get_window(GTK_WIDGET(window));
    if (!gdk || !gtk_widget_get_realized(GTK_WIDGET(window)))
        return;
    GdkRectangle frame;
    gdk_window_get_frame_extents(gdk, &frame);
    *width = std::max(0, frame.width - gdk_window_get_width(gdk));
    *height = std::max(0, frame.height - gdk_window_get_height(gdk));
}

// The outer size the window is about to have: what it asks for (it is not
// resizable) plus its frame.
void outer_size(GtkWindow *window, int *width, int *height)
{
    GtkRequisition req;
    gtk_widget_size_request(GTK_WIDGET(window), &req);
    int dw, dh;
    decoration(window, &dw, &dh);
    *width = req.width + dw;
    *height = req.height + dh;
}

void current_position(GtkWindow *window, int *x, int *y)
{
    *x = *y = 0;
    gtk_window_get_position(window, x, y);
}

}  // namespace

void placement_work_area(GdkScreen *screen, int x, int y, GdkRectangle *area)
{
    int monitor = gdk_screen_get_monitor_at_point(screen, x, y);
    gdk_screen_get_monitor_geometry(screen, monitor, area);
    // Panels and docks: the desktop's work area, when the window manager
    // publishes one.
    GdkAtom type;
    gint format = 0, length = 0;
    guchar *data = nullptr;
    if (gdk_property_get(gdk_screen_get_root_window(screen), gdk_atom_intern("_NET_WORKAREA", FALSE),
                         gdk_atom_intern("CARDINAL", FALSE), 0, 4 * sizeof(long), FALSE, &type,
                         &format, &length, &data) &&
        data && format == 32 && length >= (gint)(4 * sizeof(long))) {
        const long *v = reinterpret_cast<const long *>(data);
        GdkRectangle work = {(int)v[0], (int)v[1], (int)v[2], (int)v[3]}, both;
        if (work.width > 0 && work.height > 0 && gdk_rectangle_intersect(area, &work, &both))
            *area = both;
    }
    g_free(data);
}

void placement_fit(const GdkRectangle *area, int width, int height, int *x, int *y)
{
    *x = std::max(area->x, std::min(*x, area->x + area->width - width));
    *y = std::max(area->y, std::min(*y, area->y + area->height - height));
}

void placement_move_on_screen(GtkWindow *window, int x, int y)
{
    GdkRectangle area;
    placement_work_area(gtk_window_get_screen(window), x, y, &area);
    int w, h;
    outer_size(window, &w, &h);
    placement_fit(&area, w, h, &x, &y);
    gtk_window_move(window, x, y);
}

void placement_keep_on_screen(GtkWindow *window)
{
    int x, y;
    current_position(window, &x, &y);
    int w, h;
    outer_size(window, &w, &h);
    // The monitor that holds the window's centre.
    GdkRectangle area;
    placement_work_area(gtk_window_get_screen(window), x + w / 2, y + h / 2, &area);
    int fx = x, fy = y;
    placement_fit(&area, w, h, &fx, &fy);
    if (fx != x || fy != y)
        gtk_window_move(window, fx, fy);
}

GtkWidget *placement_view_new(GtkWidget *child)
{
    GtkWidget *scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_NEVER,
                                   GTK_POLICY_NEVER);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_NONE);
    GtkWidget *viewport = gtk_viewport_new(nullptr, nullptr);
    gtk_viewport_set_shadow_type(GTK_VIEWPORT(viewport), GTK_SHADOW_NONE);
    gtk_container_add(GTK_CONTAINER(viewport), child);
    gtk_container_add(GTK_CONTAINER(scrolled), viewport);
    // A viewport settles its child's size changes by itself; the window
    // must hear of them to grow and shrink with its contents.
    gtk_container_set_resize_mode(GTK_CONTAINER(viewport), GTK_RESIZE_PARENT);
    gtk_container_set_resize_mode(GTK_CONTAINER(scrolled), GTK_RESIZE_PARENT);
    gtk_widget_show(viewport);
    return scrolled;
}

void placement_fit_views(GtkWindow *window, GtkWidget *const *views, int count)
{
    // Natural sizes first: without scroll bars a view asks for what its
    // child asks for, and follows it when it changes.
    for (int i = 0; i < count; i++) {
        gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(views[i]), GTK_POLICY_NEVER,
                                       GTK_POLICY_NEVER);
        gtk_widget_set_size_request(views[i], -1, -1);
        gtk_widget_queue_resize(views[i]);
    }
    int x, y, w, h;
    current_position(window, &x, &y);
    outer_size(window, &w, &h);
    GdkRectangle area;
    placement_work_area(gtk_window_get_screen(window), x + w / 2, y + h / 2, &area);
    int over_w = std::max(0, w - area.width), over_h = std::max(0, h - area.height);
    if (over_w > 0 || over_h > 0) {
        // Too large for the screen: the views give up the difference and
        // scroll.  Both bars may then show.
        std::vector<GtkRequisition> natural(count);
        int widest = 0, tallest = 0;
        for (int i = 0; i < count; i++) {
            gtk_widget_size_request(views[i], &natural[i]);
            widest = std::max(widest, natural[i].width);
            tallest = std::max(tallest, natural[i].height);
        }
        for (int i = 0; i < count; i++) {
            gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(views[i]), GTK_POLICY_AUTOMATIC,
                                           GTK_POLICY_AUTOMATIC);
            gtk_widget_set_size_request(
                views[i], std::max(64, std::min(natural[i].width, widest - over_w)),
                std::max(64, std::min(natural[i].height, tallest - over_h)));
        }
    }
    placement_keep_on_screen(window);
}
