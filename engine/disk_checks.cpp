// Checks run on an image once it is in memory: tracks read a few positions
// off (with the offer to shift them back), files on tracks the drive cannot
// reach or beyond 35, a disk that looks like side B of a 1571 disk.
#include "engine/imaging.h"

#include <glib/gi18n.h>

#include <cstring>

#include "engine/dumps.h"
#include "image/d64.h"
#include "image/directory.h"

namespace {

void say(const engine_ui *ui, const char *text, int for_disk_log)
{
    if (ui && ui->log_line)
        ui->log_line(ui->user, text, for_disk_log);
}

int ask(const engine_ui *ui, engine_question question, const char *text)
{
    return ui && ui->ask ? ui->ask(ui->user, question, text) : 0;
}

void show(const engine_ui *ui, engine_image_view what)
{
    if (ui && ui->directory_ready)
        ui->directory_ready(ui->user, what);
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

int engine_for_each_prg_entry(const uint8_t *image,
                              const std::function<int(int, const uint8_t *)> &visit)
{
    d64_dir_position pos;
    const uint8_t *entry = nullptr;
    d64_first_dir_entry(image, &pos, &entry);
    for (int n = 1; n <= D64_DIR_MAX_ENTRIES; n++) {
        if (n > 1 && !d64_next_dir_entry(image, &pos, &entry))
            break;
        if ((entry[D64_ENTRY_TYPE] & 0x3F) != 2)
            continue;
        if (!visit(n, entry))
            return 0;
    }
    return 1;
}

int disk_checks_count_tracks_beyond_35_hints(const uint8_t *image)
{
    // One budget for all chains: enough for every sector of a 35-track disk,
    // and it ends chains that loop.
    const int max_steps = 682;
    int steps = 0, hints = 0;
    engine_for_each_prg_entry(image, [&](int, const uint8_t *entry) {
        if (entry[D64_ENTRY_FIRST_TRACK] > 35)
            hints++;
        int t, s;
        if (!d64_get_file_first_track_and_sector(entry, &t, &s))
            return 1;
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
        return 1;
    });
    return hints;
}

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

int engine_correct_track_shift(const engine_ui *ui, int log_both)
{
    if (int k = disk_checks_find_inwards_shift(d64_storage)) {
        say(ui, _("This disk might have been written with a drive whose head stop had "
                  "been tinkered with\n"), log_both);
        char *text = g_strdup_printf(
            _("It appears this disk was written by a disk drive whose head stop\nhad been tinkered "
              "with. As a consequence, some tracks at the outer\nedge are not accessible and their "
              "data won't be in the D64 image.\n\nThe outermost accessible track on the drive in use "
              "is %d.\n\nWould you like to shift tracks inwards by %d to compensate?"),
            k + 1, k);
        int yes = ask(ui, ENGINE_ASK_SHIFT_TRACKS, text);
        g_free(text);
        if (!yes) {
            say(ui, _("Tracks not shifted inwards at user's request\n"), log_both);
            return 0;
        }
        disk_checks_shift_tracks_inwards(d64_storage, k);
        char *line = g_strdup_printf(_("Tracks shifted inwards by %d at user's request\n"), k);
        say(ui, line, log_both);
        g_free(line);
        show(ui, ENGINE_SHOW_SECTOR_ERRORS);
        return k;
    }
    if (int k = disk_checks_find_outwards_shift(d64_storage)) {
        say(ui, _("This disk might have been formatted with a badly misaligned drive\n"), log_both);
        char *text = g_strdup_printf(
            _("It appears this disk was written by a badly misaligned disk\ndrive. As a consequence, "
              "some tracks at the inner edge were\nnot read and their data won't be in the D64 "
              "image.\n\nWould you like to shift tracks outwards by %d to compensate?"),
            k);
        int yes = ask(ui, ENGINE_ASK_SHIFT_TRACKS, text);
        g_free(text);
        if (!yes) {
            say(ui, _("Tracks not shifted outwards at user's request\n"), log_both);
            return 0;
        }
        disk_checks_shift_tracks_outwards(d64_storage, k);
        char *line = g_strdup_printf(_("Tracks shifted outwards by %d at user's request\n"), k);
        say(ui, line, log_both);
        g_free(line);
        show(ui, ENGINE_SHOW_SECTOR_ERRORS);
        return -k;
    }
    return 0;
}

void engine_check_inaccessible_tracks(const engine_ui *ui, int last_track)
{
    if (!d64_is_bam_sector_error_free(d64_storage)) {
        say(ui, _("BAM sector contains errors: Can't verify if inaccessible tracks are in use"), 1);
        return;
    }
    char *line = g_strdup_printf(
        _("Inaccessible tracks are %s in use, according to BAM contents\n"),
        // TRANSLATORS: fills the %s of "Inaccessible tracks are %s in use".
        disk_checks_inaccessible_tracks_in_use(d64_storage, last_track) ? _("unfortunately")
                                                                         : _("not"));
    say(ui, line, 1);
    g_free(line);
}

void engine_check_tracks_beyond_35(const engine_ui *ui)
{
    if (!disk_checks_count_tracks_beyond_35_hints(d64_storage))
        return;
    ask(ui, ENGINE_ASK_TRACKS_BEYOND_35,
        _("It appears this disk might be using tracks beyond 35.\nIt is "
          "recommended to try and dump it as a 40 track disk."));
    say(ui, _("Tracks beyond 35 might be in use\n"), 0);
}

void engine_check_side_b_1571(const engine_ui *ui)
{
    if (!disk_checks_looks_like_1571_side_b(d64_storage))
        return;
    ask(ui, ENGINE_ASK_SIDE_B_1571,
        _("It appears this one might be side B of a 1571 disk.\nDravlen is "
          "not suitable for dumping them."));
    say(ui, _("Possibly side B of a 1571 disk\n"), 0);
}

void engine_notification_checks(const engine_ui *ui, int notify_beyond_35, int notify_side_b)
{
#if TRACKS != 40
    if (notify_beyond_35)
        engine_check_tracks_beyond_35(ui);
#else
    (void)notify_beyond_35;
#endif
    if (notify_side_b)
        engine_check_side_b_1571(ui);
}

void engine_show_allocated_sectors_if_trusted(const engine_ui *ui)
{
#if TRACKS != 40
    if (!d64_is_bam_sector_error_free(d64_storage))
        say(ui, _("BAM sector contains errors: not marking sectors in use\n"), 0);
    else if (!d64_is_first_dir_link_valid(d64_storage))
        say(ui, _("Unexpected first dir t/s link: not marking sectors in use\n"), 0);
    else
        show(ui, ENGINE_SHOW_ALLOCATED_SECTORS);
#else
    (void)ui;
#endif
}

int engine_check_read_image(const engine_ui *ui, int first_track, int notify_beyond_35,
                            int notify_side_b)
{
    if (first_track <= 1) {
        int k = engine_correct_track_shift(ui, 1);
        if (k != 0) {
            if (k > 0)
                engine_check_inaccessible_tracks(ui, k);
            if (d64_is_bam_sector_error_free(d64_storage))
                show(ui, ENGINE_SHOW_DIRECTORY);
            else
                say(ui, _("BAM sector contains errors: not listing directory contents\n"), 0);
        }
    } else {
        engine_check_inaccessible_tracks(ui, first_track - 1);
    }
    if (imaging_nothing_read(d64_storage, first_track))
        return 1;
    engine_show_allocated_sectors_if_trusted(ui);
    engine_notification_checks(ui, notify_beyond_35, notify_side_b);
    return 1;
}
