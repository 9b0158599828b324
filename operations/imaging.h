// Whole-disk imaging: one fast "ws" pass over every track, then single-sector
// re-reads of the faulty sectors, the checks of the image, and the save with
// its ".log" and ".md5" files.
#pragma once

#include <glib.h>

#include <cstdint>

// Start routine (GUI thread): F1, the menu item and the button.
void core_save_whole_disk_image_to_D64(void);
// Worker of the "receiver" thread; always ends in exactly one finisher.
int thread_receive_disk_image(void);
// Finisher: data is null on success or a constant failure text.
gboolean idle_finish_disk_image_receipt(gpointer message);

// PRG files whose first sector carries an accessible sector error.
int count_accessible_sector_errors_on_first_sector_of_all_prgs(void);
int imaging_count_prg_first_sector_errors(const uint8_t *image);

// 1 when every sector of tracks first_track to TRACKS still has error byte
// 0x03 (nothing was read).
int imaging_nothing_read(const uint8_t *image, int first_track);

// Why the re-read phase does not run, as the first rule that applies.
enum imaging_reread_verdict {
    IMAGING_REREAD_RUN,
    IMAGING_REREAD_DISABLED,      // no retries asked for
    IMAGING_REREAD_UNFORMATTED,   // nothing had sync
    IMAGING_REREAD_NOTHING_TO_DO, // no errors
    IMAGING_REREAD_BAD_DIR_LINK,  // good BAM sector, unexpected first directory link
    IMAGING_REREAD_TOO_MANY,      // more errors than allowed
};
imaging_reread_verdict imaging_reread_decide(const uint8_t *image, int first_track, int tries,
                                             int max_errors, int error_count);
