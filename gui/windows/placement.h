// Keeping windows inside the monitor's work area: when they are placed from
// a stored position, and when they grow (zoom).  Views that could make a
// window larger than the screen sit in scrolled windows that shrink only
// when the screen is too small.
#pragma once

#include <gtk/gtk.h>

// The work area (the monitor minus panels) of the monitor at x, y.
void placement_work_area(GdkScreen *screen, int x, int y, GdkRectangle *area);
// Moves x, y so that a width x height box lies inside `area` (its top left
// corner stays inside when the box is larger).
void placement_fit(const GdkRectangle *area, int width, int height, int *x, int *y);
// Moves the window (frame included) to x, y or as near as keeps it inside
// the work area of the monitor there.
void placement_move_on_screen(GtkWindow *window, int x, int y);
// The same from where the window is now, with the size it is about to take.
void placement_keep_on_screen(GtkWindow *window);

// A scrolled window without frame holding `child`; scroll bars appear only
// when placement_fit_views has to shrink it.
GtkWidget *placement_view_new(GtkWidget *child);
// Lets each view take its child's size, or shrinks the views (with scroll
// bars) where the window would otherwise not fit into the work area; then
// keeps the window on screen.
void placement_fit_views(GtkWindow *window, GtkWidget *const *views, int count);
