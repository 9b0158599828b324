// The sector contents window: one sector of the image store as a hex and
// character dump in the C64 font, with its track and sector, its error byte
// and the file it belongs to, and buttons to step through the disk or follow
// the sector's link.  Built hidden at start-up, only shown and hidden later.
#pragma once

#include <gtk/gtk.h>

#include "gui/drawing/disp.h"

extern int sector_contents_track;
extern int sector_contents_sector;
// Text screen of 64 x 16 cells drawn on pixbuf_sector_contents (512 x 128);
// both null until the drawing area's first configure event.
extern disp_screen *display_sector_contents;
extern GdkPixbuf *pixbuf_sector_contents;
extern GtkWidget *drawingarea_sector_contents;
extern int expansion_sector_contents;  // 0 for 1x, 1 for 2x

GtkWidget *create_window_sector_contents(void);

// Shows track/sector; code is its error byte.
void window_sector_contents_update(int track, int sector, int code);
// Redraws the dump of the current sector into the text screen.
void drawingarea_sector_contents_update(void);
void statusbar_sector_contents_update(const char *text);

gboolean on_drawingarea_sector_contents_configure_event(GtkWidget *widget,
                                                        GdkEventConfigure *event, gpointer data);
gboolean on_drawingarea_sector_contents_expose_event(GtkWidget *widget, GdkEventExpose *event,
                                                     gpointer data);
void on_button_sector_contents_previous_clicked(GtkButton *button, gpointer data);
void on_button_sector_contents_next_clicked(GtkButton *button, gpointer data);
void on_button_sector_contents_follow_link_clicked(GtkButton *button, gpointer data);
void on_radiobutton_sector_contents_zoom_level1_clicked(GtkButton *button, gpointer data);
void on_radiobutton_sector_contents_zoom_level2_clicked(GtkButton *button, gpointer data);
void on_checkbutton_sector_contents_petscii_toggled(GtkToggleButton *button, gpointer data);
// The window's delete and key handlers (hide on close, hide on Escape) live
// with the other secondary windows' in gui/windows/settings.h.

// Keeps the window inside the work area after it grew; the dump scrolls when
// the screen is too small for it.
void window_sector_contents_fit_on_screen(void);
