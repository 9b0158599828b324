// Checks run on an image once it is in memory: tracks read a few positions
// off (with the offer to shift them back), files on tracks the drive cannot
// reach or beyond 35, a disk that looks like side B of a 1571 disk, and the
// allocated-sector circles on the grid.  GUI thread only.
#pragma once

#include <glib.h>

#include <cstdint>

// Looks for the header sector one to five tracks off track 18 and offers to
// shift the image back.  log_both 1: lines go to the per-disk log as well.
// k > 0 shifted inwards by k, -k shifted outwards by k, 0 nothing found or
// declined.
int verify_and_correct_misaligned_tracks(int log_both);
gboolean get_user_confirmation_to_shift_tracks_inwards(int k);
gboolean get_user_confirmation_to_shift_tracks_outwards(int k);

// Tells whether the BAM allocates anything on tracks 1 to last_track.
void check_if_inaccessible_tracks_are_used(int last_track);
#if TRACKS != 40
// Notice when PRG chains seem to continue beyond track 35.
void check_if_tracks_beyond_35_are_used(void);
#endif
// Notice when only tracks 1 to 4 read, or nothing had sync.
void check_if_1571_side_b(void);

// Circles the allocated sectors; callers have checked the BAM sector and the
// first directory link.
void decode_bam_and_show_allocated_sectors(void);
// Idle form for workers: makes both checks itself, logging why it skips.
gboolean idle_decode_bam_and_show_allocated_sectors(gpointer data);
// What the finishers do: the two checks with their log-view lines, then the
// display.  Does nothing in the 40-track build.
void disk_checks_show_allocated_sectors_if_trusted(void);

// The image-only halves, for the operations above and for tests.
// k of the inwards sign (1 to 5), or 0.
int disk_checks_find_inwards_shift(const uint8_t *image);
// k of the outwards sign (1 to 5), or 0.
int disk_checks_find_outwards_shift(const uint8_t *image);
// Track d receives what was read at d - k; tracks 1 to k become inaccessible.
void disk_checks_shift_tracks_inwards(uint8_t *image, int k);
// Track d receives what was read at d + k; the last k tracks become unread.
void disk_checks_shift_tracks_outwards(uint8_t *image, int k);
// 1 when the BAM allocates a sector on tracks 1 to last_track.
int disk_checks_inaccessible_tracks_in_use(const uint8_t *image, int last_track);
// Number of hints that PRG chains use tracks 36 to 42.
int disk_checks_count_tracks_beyond_35_hints(const uint8_t *image);
int disk_checks_looks_like_1571_side_b(const uint8_t *image);
