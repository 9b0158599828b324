#include "operations/disk_checks.h"

#include <glib/gi18n.h>

#include <cstring>

#include "app/log.h"
#include "image/d64.h"
#include "image/directory.h"
#include "ui/dialogs.h"
#include "ui/sector_grid.h"

namespace {

void log_line(int log_both, const char *text)
{
    if (log_both == 1)
        log_warpsave_and_log_textview_append(text);
    else
        log_textview_append(text);
}

void copy_sector(uint8_t *image, int to_track, int from_track, int sector)
{
    memmove(image + d64_sector_offset(to_track, sector),
            image + d64_sector_offset(from_track, sector), 256);
    image[d64_error_offset(to_track, sector)] = image[d64_error_offset(from_track, sector)];
}

void clear_sector(uint8_t *image, int track, int sector, uint8_t error)
{
    memset(image + d64_sector_offset(track, sector), 0, 256);
    image[d64_error_offset(track, sector)] = error;
}

// Header sector found on track t: read well, and it starts with the link to
// the first directory sector.
int header_sign(const uint8_t *image, int t)
{
    return d64_get_block_error_info(image, t, 0) == D64_ERR_OK &&
           d64_is_first_dir_link_valid_in_track(image, t);
}

}  // namespace

int disk_checks_find_inwards_shift(const uint8_t *image)
{
    // A track below 18 holding the header and without a sector 19 is the
    // directory track read where the drive thinks track 18 - k is.
    for (int k = 1; k <= 5; k++) {
        int t = 18 - k;
        if (header_sign(image, t) && d64_get_block_error_info(image, t, 19) == D64_ERR_NO_SYNC)
            return k;
    }
    return 0;
}

int disk_checks_find_outwards_shift(const uint8_t *image)
{
    for (int k = 1; k <= 5; k++)
        if (header_sign(image, 18 + k))
            return k;
    return 0;
}

void disk_checks_shift_tracks_inwards(uint8_t *image, int k)
{
    // From the highest track down, so no source is overwritten before it is
    // copied.
    for (int d = TRACKS; d >= 18; d--)
        for (int s = 0; s < d64_sectors_of_track(d); s++)
            copy_sector(image, d, d - k, s);
    for (int d = 17; d >= k + 1; d--)
        for (int s = 0; s < 21; s++)
            copy_sector(image, d, d - k, s);
    for (int d = k; d >= 1; d--)
        for (int s = 0; s < d64_sectors_of_track(d); s++)
            clear_sector(image, d, s, D64_ERR_INACCESSIBLE);
}

void disk_checks_shift_tracks_outwards(uint8_t *image, int k)
{
    for (int d = 1; d <= TRACKS - k; d++) {
        int n_from = d64_sectors_of_track(d + k);
        for (int s = 0; s < n_from; s++)
            copy_sector(image, d, d + k, s);
        for (int s = n_from; s < d64_sectors_of_track(d); s++)
            clear_sector(image, d, s, D64_ERR_NO_SYNC);
    }
    for (int d = TRACKS - k + 1; d <= TRACKS; d++)
        for (int s = 0; s < d64_sectors_of_track(d); s++)
            clear_sector(image, d, s, D64_ERR_NO_SYNC);
}

gboolean get_user_confirmation_to_shift_tracks_inwards(int k)
{
    char *text = g_strdup_printf(
        _("It appears this disk was written by a disk drive whose head stop\nhad been tinkered "
          "with. As a consequence, some tracks at the outer\nedge are not accessible and their "
          "data won't be in the D64 image.\n\nThe outermost accessible track on the drive in use "
          "is %d.\n\nWould you like to shift tracks inwards by %d to compensate?"),
        k + 1, k);
    gboolean yes = get_user_confirmation(text);
    g_free(text);
    return yes;
}

gboolean get_user_confirmation_to_shift_tracks_outwards(int k)
{
    char *text = g_strdup_printf(
        _("It appears this disk was written by a badly misaligned disk\ndrive. As a consequence, "
          "some tracks at the inner edge were\nnot read and their data won't be in the D64 "
          "image.\n\nWould you like to shift tracks outwards by %d to compensate?"),
        k);
    gboolean yes = get_user_confirmation(text);
    g_free(text);
    return yes;
}

int verify_and_correct_misaligned_tracks(int log_both)
{
    char *line;
    if (int k = disk_checks_find_inwards_shift(d64_storage)) {
        log_line(log_both, _("This disk might have been written with a drive whose head stop had "
                             "been tinkered with\n"));
        if (!get_user_confirmation_to_shift_tracks_inwards(k)) {
            log_line(log_both, _("Tracks not shifted inwards at user's request\n"));
            return 0;
        }
        disk_checks_shift_tracks_inwards(d64_storage, k);
        line = g_strdup_printf(_("Tracks shifted inwards by %d at user's request\n"), k);
        log_line(log_both, line);
        g_free(line);
        drawingarea_sector_grid_refresh_from_error_info();
        return k;
    }
    if (int k = disk_checks_find_outwards_shift(d64_storage)) {
        log_line(log_both, _("This disk might have been formatted with a badly misaligned drive\n"));
        if (!get_user_confirmation_to_shift_tracks_outwards(k)) {
            log_line(log_both, _("Tracks not shifted outwards at user's request\n"));
            return 0;
        }
        disk_checks_shift_tracks_outwards(d64_storage, k);
        line = g_strdup_printf(_("Tracks shifted outwards by %d at user's request\n"), k);
        log_line(log_both, line);
        g_free(line);
        drawingarea_sector_grid_refresh_from_error_info();
        return -k;
    }
    return 0;
}

int disk_checks_inaccessible_tracks_in_use(const uint8_t *image, int last_track)
{
    if (last_track > TRACKS)
        last_track = TRACKS;
    for (int t = last_track; t >= 1; t--)
        for (int s = 0; s < d64_sectors_of_track(t); s++)
            if (d64_is_sector_allocated(image, t, s))
                return 1;
    return 0;
}

void check_if_inaccessible_tracks_are_used(int last_track)
{
    if (!d64_is_bam_sector_error_free(d64_storage)) {
        log_warpsave_and_log_textview_append(
            _("BAM sector contains errors: Can't verify if inaccessible tracks are in use"));
        return;
    }
    char *line = g_strdup_printf(
        _("Inaccessible tracks are %s in use, according to BAM contents\n"),
        // TRANSLATORS: fills the %s of "Inaccessible tracks are %s in use".
        disk_checks_inaccessible_tracks_in_use(d64_storage, last_track) ? _("unfortunately")
                                                                         : _("not"));
    log_warpsave_and_log_textview_append(line);
    g_free(line);
}

int disk_checks_count_tracks_beyond_35_hints(const uint8_t *image)
{
    // One budget for all chains: enough for every sector of a 35-track disk,
    // and it ends chains that loop.
    const int max_steps = 682;
    int steps = 0, hints = 0;
    d64_dir_position pos;
    const uint8_t *entry = nullptr;
    d64_first_dir_entry(image, &pos, &entry);
    for (int n = 0; n < D64_DIR_MAX_ENTRIES; n++) {
        if (n > 0 && !d64_next_dir_entry(image, &pos, &entry))
            break;
        uint8_t type;
        if (!d64_get_filetype(entry, &type) || (type & 63) != 2)
            continue;
        if (entry[D64_ENTRY_FIRST_TRACK] > 35)
            hints++;
        int t, s;
        if (!d64_get_file_first_track_and_sector(entry, &t, &s))
            continue;
        while (steps <= max_steps) {
            steps++;
            if (d64_get_block_error_info(image, t, s) != D64_ERR_OK)
                break;
            const uint8_t *block = image + d64_sector_offset(t, s);
            int next_t = block[0], next_s = block[1];
            if (next_t >= 36 && next_t <= 42 && next_s <= 16)
                hints++;
            if (!d64_are_track_and_sector_valid((uint8_t)next_t, (uint8_t)next_s))
                break;
            t = next_t;
            s = next_s;
        }
    }
    return hints;
}

#if TRACKS != 40
void check_if_tracks_beyond_35_are_used(void)
{
    if (!disk_checks_count_tracks_beyond_35_hints(d64_storage))
        return;
    get_user_acknowledgement(_("It appears this disk might be using tracks beyond 35.\nIt is "
                               "recommended to try and dump it as a 40 track disk."));
    log_textview_append(_("Tracks beyond 35 might be in use\n"));
}
#endif

int disk_checks_looks_like_1571_side_b(const uint8_t *image)
{
    int good = 0, good_first_four = 0, unread = 0, total = 0;
    for (int t = 1; t <= TRACKS; t++)
        for (int s = 0; s < d64_sectors_of_track(t); s++) {
            int e = d64_get_block_error_info(image, t, s);
            total++;
            if (e == D64_ERR_OK) {
                good++;
                if (t <= 4)
                    good_first_four++;
            } else if (e == D64_ERR_NO_SYNC) {
                unread++;
            }
        }
    return (good == 84 && good_first_four == good) || unread == total;
}

void check_if_1571_side_b(void)
{
    if (!disk_checks_looks_like_1571_side_b(d64_storage))
        return;
    get_user_acknowledgement(_("It appears this one might be side B of a 1571 disk.\nDravlen is "
                               "not suitable for dumping them."));
    log_textview_append(_("Possibly side B of a 1571 disk\n"));
}

void decode_bam_and_show_allocated_sectors(void)
{
#if TRACKS != 40
    drawingarea_sector_grid_show_allocated_sectors();
#endif
}

void disk_checks_show_allocated_sectors_if_trusted(void)
{
#if TRACKS != 40
    if (!d64_is_bam_sector_error_free(d64_storage))
        log_textview_append(_("BAM sector contains errors: not marking sectors in use\n"));
    else if (!d64_is_first_dir_link_valid(d64_storage))
        log_textview_append(_("Unexpected first dir t/s link: not marking sectors in use\n"));
    else
        decode_bam_and_show_allocated_sectors();
#endif
}

gboolean idle_decode_bam_and_show_allocated_sectors(gpointer)
{
    disk_checks_show_allocated_sectors_if_trusted();
    return FALSE;
}
