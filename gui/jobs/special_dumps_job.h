// Partial dumps from the "Special" menu: the directory track only, the
// directory track plus the first sector of every PRG file, and the sectors
// the BAM marks as allocated.  The reads are the engine's (engine/dumps.h);
// here are the start handlers, the window's side of the engine's events and
// the finishers, which show the result and save it with the dump's marker.
#pragma once

#include <glib.h>
#include <gtk/gtk.h>

#include "engine/dumps.h"

// Workers (thread bodies) and their finishers (data: the
// imaging_window_result).
void thread_receive_dir_track(void);
void thread_receive_dir_track_and_first_sector(void);
void thread_receive_allocated_sectors(void);
gboolean idle_finish_dir_track_receipt(gpointer message);
gboolean idle_finish_dir_track_and_first_sector_receipt(gpointer message);
gboolean idle_finish_allocated_sector_receipt(gpointer message);

// Copies the drive, "Max errors", "Read retries" and (with_outmost) the
// "Outermost track" widgets into the options and ped; tries are retries + 1.
void dumps_copy_controls_to_ped(int with_outmost);
// Worker side: the engine's parameters from ped and the options, on the
// connection the worker opened.
engine_sector_job dumps_job_from_ped(int handle);
// Finisher side: when the image holds read data, shows its directory and
// allocated sectors (or logs why not).  1 when it holds read data.
int dumps_show_directory_and_allocated_sectors(void);

// Special > Dump dir track only, Dump dir track and first sector, Dump based
// on BAM contents.
void on_menuitem_dump_track_18_only_activate(GtkMenuItem *item, gpointer data);
void on_menuitem_dump_track_18_and_first_sector_activate(GtkMenuItem *item, gpointer data);
void on_menuitem_dump_bam_based_activate(GtkMenuItem *item, gpointer data);
