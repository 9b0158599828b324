// Partial dumps from the "Special" menu: the directory track only, the
// directory track plus the first sector of every PRG file, and the sectors
// the BAM marks as allocated.  Each reads sector by sector with the drive's
// sector code into a cleared image and saves a D64 named with its marker.
// Also the first-sector pass that the matching re-read reuses.
#pragma once

#include <gdk/gdk.h>
#include <glib.h>

#include <cstdint>

// First sectors to read, in the order of the pass (records are
// sector_query_record from image/directory.h, owned by the list).
extern GSList *sector_query_list;
// Frees every record and the list; leaves it null.
void sector_query_list_free(void);

// Worker side: reads the first sector of every PRG in the directory of the
// image in memory, in track order or, with options_first_sector_in_dir_order,
// in directory order.  mode 0 reads as first reads, 1 as re-reads.  1 lets
// the caller go on (also when the pass was skipped), 0 when a read failed
// and `finisher` has been posted.
int wrapper_read_first_sector_of_all_prgs(int handle, int mode, GSourceFunc finisher);

// Workers (thread bodies) and their finishers (message: null or a constant
// failure text).
void thread_receive_dir_track(void);
void thread_receive_dir_track_and_first_sector(void);
void thread_receive_allocated_sectors(void);
gboolean idle_finish_dir_track_receipt(gpointer message);
gboolean idle_finish_dir_track_and_first_sector_receipt(gpointer message);
gboolean idle_finish_allocated_sector_receipt(gpointer message);

// Sectors of a track in the order the allocated-sector reads visit them:
// the interleaved order, without the BAM sector on track 18.  Returns the
// count written to order (room for 21).
int special_dumps_allocated_visit_order(int track, int *order);

// Copies the drive, "Max errors", "Read retries" and (with_outmost) the
// "Outermost track" widgets into the options and ped; tries are retries + 1.
void dumps_copy_controls_to_ped(int with_outmost);
// Worker side, before reading allocated sectors: the failure text when the
// BAM sector has errors or the first directory link is wrong, else null.
const char *dumps_bam_gate_failure(void);
// First track of a read: ped.outmost_track, at least 1.
int dumps_first_track(void);
// Worker side: "di", "w1 <device>", then the prompt.  0 after a failure whose
// finisher has been posted; the caller closes the port.
int dumps_start_sector_reads(int handle, GSourceFunc finisher);
// Finisher side: when the image holds read data, shows its directory and
// allocated sectors (or logs why not).  1 when it holds read data.
int dumps_show_directory_and_allocated_sectors(void);

// The "First BASIC line" text of a first sector's 256 bytes (link, load
// address, program), or an empty string when it does not start a BASIC
// program at $0801.  g_free the result.
gchar *special_dumps_first_basic_line(const uint8_t *sector);
