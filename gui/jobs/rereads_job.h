// Re-reads: loading a D64 file to improve, the five operations that read
// again the faulty sectors of the image in memory, the track-range dialog,
// and the finishers that save the improved image back to its file with the
// "-reread" log.
#pragma once

#include <gtk/gtk.h>

// Loads a D64 for re-reads (the drop target uses it too).
void core_load_d64_file_for_rereads(const char *path);

// Special > Load D64 file for re-reads and the five re-read items.
void on_menuitem_load_d64_file_for_rereads_activate(GtkMenuItem *item, gpointer data);
void on_menuitem_reread_all_sectors_activate(GtkMenuItem *item, gpointer data);
void on_menuitem_reread_dir_track_activate(GtkMenuItem *item, gpointer data);
void on_menuitem_reread_dir_track_and_first_sector_activate(GtkMenuItem *item, gpointer data);
void on_menuitem_reread_based_on_bam_contents_activate(GtkMenuItem *item, gpointer data);
void on_menuitem_reread_track_range_activate(GtkMenuItem *item, gpointer data);

// A file dropped on the main window: its folder becomes the working folder
// and it is loaded for re-reads; refused while an operation runs.
void on_window_main_drag_data_received(GtkWidget *widget, GdkDragContext *context, gint x, gint y,
                                       GtkSelectionData *selection, guint info, guint time,
                                       gpointer data);

// The modal "Track range" dialog with its two spin buttons.
GtkWidget *create_dialog_track_range(void);

// Workers and finishers (message: null or a constant failure text).
void thread_reread_all_sectors_with_errors(void);
void thread_reread_dir_track_sectors_with_errors(void);
void thread_retry_dir_track_and_first_sector(void);
void thread_reread_track_range_sectors_with_errors(void);
void thread_reread_allocated_sectors(void);
gboolean idle_finish_rereading_all_sectors(gpointer message);
gboolean idle_finish_rereading_sectors(gpointer message);
