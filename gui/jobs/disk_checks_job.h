// The GUI's side of the image checks (engine/imaging.h): dialogs for the
// questions, the log view and per-disk log for the lines, the grid and the
// directory panel for what can be shown.  GUI thread only.
#pragma once

#include <glib.h>

#include <cstdint>

#include "engine/imaging.h"

// The checks' engine_ui on the GUI thread.  Questions become dialogs: the
// shift question a yes/no one, the notices an acknowledgement (answered yes).
engine_ui disk_checks_gui_ui(void);

// Looks for the header sector one to five tracks off track 18 and offers to
// shift the image back.  log_both 1: lines go to the per-disk log as well.
// k > 0 shifted inwards by k, -k shifted outwards by k, 0 nothing found or
// declined.
int verify_and_correct_misaligned_tracks(int log_both);

// Circles the allocated sectors; callers have checked the BAM sector and the
// first directory link.
void decode_bam_and_show_allocated_sectors(void);
// Idle form for workers: makes both checks itself, logging why it skips.
gboolean idle_decode_bam_and_show_allocated_sectors(gpointer data);
// What the finishers do: the two checks with their log-view lines, then the
// display.  Does nothing in the 40-track build.
void disk_checks_show_allocated_sectors_if_trusted(void);
