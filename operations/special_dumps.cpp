#include "operations/special_dumps.h"

#include <gtk/gtk.h>
#include <glib/gi18n.h>

#include <cstring>

#include "app/log.h"
#include "app/operation.h"
#include "app/operation_state.h"
#include "app/options.h"
#include "device/console.h"
#include "device/serial.h"
#include "image/basic.h"
#include "image/d64.h"
#include "image/directory.h"
#include "image/imagefile.h"
#include "operations/disk_checks.h"
#include "operations/imaging.h"
#include "operations/sector_reads.h"
#include "render/dirview.h"
#include "ui/filechooser.h"
#include "ui/handlers.h"
#include "ui/sector_grid.h"
#include "ui/widgets.h"
#include "ui/window_main.h"

GSList *sector_query_list = nullptr;

void sector_query_list_free(void)
{
    g_slist_free_full(sector_query_list, g_free);
    sector_query_list = nullptr;
}

namespace {

// What tells the three dumps apart.
struct special_dump {
    filer_dump_kind kind;
    const char *started;    // status format with the device number
    const char *heading;    // log heading
    const char *heading_outmost;
    const char *aborted;
    const char *failed;     // status format with the message
    const char *completed;  // status format with seconds, N and P
    const char *thread_name;
    void (*worker)(void);
};

const special_dump dir_track_dump = {
    FILER_DUMP_DIR_TRACK,
    N_(" Track 18 read process started on drive %d"),
    "Dumping track 18\n",
    "Dumping track 18 (expected outermost track: %d)\n",
    N_(" Track 18 read aborted: please wait for the drive to finish"),
    N_(" Track 18 read failed: %s"),
    N_(" Track 18 read completed in %.2lf seconds [%d/%d]"),
    "dir_track_receiver",
    thread_receive_dir_track,
};

const special_dump dir_track_first_sector_dump = {
    FILER_DUMP_DIR_TRACK_FIRST_SECTORS,
    N_(" Track 18+ read process started on drive %d"),
    "Dumping track 18+\n",
    "Dumping track 18+ (expected outermost track: %d)\n",
    N_(" Track 18+ read aborted: please wait for the drive to finish"),
    N_(" Track 18+ read failed: %s"),
    N_(" Track 18+ read completed in %.2lf seconds [%d/%d]"),
    "dir_track_and_first_sector_receiver",
    thread_receive_dir_track_and_first_sector,
};

const special_dump allocated_dump = {
    FILER_DUMP_BAM,
    N_(" BAM based read process started on drive %d"),
    "Dumping allocated sectors only\n",
    "Dumping allocated sectors only (expected outermost track: %d)\n",
    N_(" BAM-based read aborted: please wait for the drive to finish"),
    N_(" BAM-based read failed: %s"),
    N_(" BAM-based read completed in %.2lf seconds [%d/%d]"),
    "allocated_sector_receiver",
    thread_receive_allocated_sectors,
};


void start_special_dump(const special_dump &dump)
{
    if (!operation_check_device_port())
        return;
    dumps_copy_controls_to_ped(1);

    char *status = g_strdup_printf(_(dump.started), ped.device);
    char *title = ped.outmost_track != 1 ? g_strdup_printf(dump.heading_outmost, ped.outmost_track)
                                         : g_strdup(dump.heading);
    log_warpsave_new(0);
    // The view gets the separator and the heading from the start sequence.
    log_warpsave_append(title);

    sector_reads_reset_image_and_views();
    notebook_main_set_page(0);
    controls_set_accessible_sector_error_count(0);

    operation_start_info info = {status, title, 0, 1, dump.thread_name, dump.worker, nullptr};
    operation_start(&info);
    g_free(status);
    g_free(title);
}

// Reads the 19 sectors of the directory track as first reads.  0 after a
// failure whose finisher has been posted.
int read_dir_track(int handle, GSourceFunc finisher)
{
    int order[21];
    int n = sector_reads_interleaved_order(d64_sectors_of_track(18), order);
    for (int i = 0; i < n; i++)
        if (!wrapper_read_dir_track_sector_with_retries(handle, order[i], ped.tries_per_sector, 0,
                                                        finisher))
            return 0;
    return 1;
}

void finish(GSourceFunc finisher, const char *message)
{
    operation_idle_add(finisher, const_cast<char *>(message));
}

// Worker prologue of the three dumps: port, prompt, "di", "w1".  Returns the
// open handle, or -1 after the finisher has been posted.
int open_for_sector_reads(GSourceFunc finisher)
{
    int handle = operation_open_port_and_sync(finisher);
    if (handle < 0)
        return -1;
    if (!dumps_start_sector_reads(handle, finisher)) {
        serial_disconnect_port(handle);
        return -1;
    }
    return handle;
}

// Reads one first sector as the pass does; 0 after a failed read.
int read_first_sector(int handle, int track, int sector, int mode, GSourceFunc finisher)
{
    int error = d64_get_block_error_info(d64_storage, track, sector);
    if (error == D64_ERR_OK) {
        log_queue_printf("Sector was already correctly read and decoded, if applicable\n");
    } else if (error == D64_ERR_INACCESSIBLE) {
        // The drive cannot reach it: whatever it read there belongs elsewhere.
        log_queue_printf("Sector is inaccessible: not reading it\n");
        return 1;
    } else if (!wrapper_read_sector_with_retries(handle, track, sector, ped.tries_per_sector, mode,
                                                 finisher)) {
        return 0;
    }
    if (d64_get_block_error_info(d64_storage, track, sector) == D64_ERR_OK) {
        gchar *line = special_dumps_first_basic_line(d64_storage + d64_sector_offset(track, sector));
        if (*line)
            log_queue_printf("First BASIC line: %s\n", line);
        g_free(line);
    }
    return 1;
}

const char separator_tildes[] = "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~\n";

// Calls visit(number, entry) for every directory entry of a PRG, at most 144
// entries; stops early when visit returns 0 (and returns 0 then).
template <typename Visit>
int for_each_prg_entry(Visit visit)
{
    d64_dir_position pos;
    const uint8_t *entry = nullptr;
    d64_first_dir_entry(d64_storage, &pos, &entry);
    for (int n = 1; n <= D64_DIR_MAX_ENTRIES; n++) {
        if (n > 1 && !d64_next_dir_entry(d64_storage, &pos, &entry))
            break;
        if ((entry[D64_ENTRY_TYPE] & 0x3F) != 2)
            continue;
        if (!visit(n, entry))
            return 0;
    }
    return 1;
}

void entry_name(const uint8_t *entry, char *name17)
{
    d64_get_filename(entry, name17);
    sanitize_filename(name17);
}

// The three finishers differ in their texts and in the list they free.
gboolean finish_special_dump(const special_dump &dump, const char *message)
{
    operation_outcome outcome = operation_finish_decide(message, _(dump.aborted), _(dump.failed));
    if (outcome == OPERATION_ABORTED) {
        log_warpsave_append("Aborted\n");
    } else if (outcome == OPERATION_FAILED) {
        log_warpsave_append("Failed\n");
    } else {
        int errors = d64_count_accessible_sector_errors(d64_storage, 1, TRACKS);
        int prg_errors = count_accessible_sector_errors_on_first_sector_of_all_prgs();
        char *text = g_strdup_printf(_(dump.completed), operation_elapsed_seconds(), errors,
                                     prg_errors);
        statusbar_main_update(text);
        g_free(text);
        controls_set_accessible_sector_error_count(errors);

        int read_data = dumps_show_directory_and_allocated_sectors();
        char name[D64_NAME_BUFFER_SIZE];
        filer_disk_name_for_file(d64_storage, read_data, name);
        log_warpsave_and_log_textview_append("Completed\n");

        GtkWidget *auto_naming = lookup_widget(window_main, "checkbutton_disk_dump_auto_naming");
        if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(auto_naming))) {
            gchar *path = filer_auto_name_path(dump.kind, name);
            save_d64_image_and_ancillary_files(path, 1, 0);
            g_free(path);
            auto_naming_next_combination();
        } else {
            gchar *suggestion = filer_suggested_name(dump.kind, name);
            char *path = nullptr;
            if (fileopen_save_d64_file(suggestion, &path)) {
                save_d64_image_and_ancillary_files(path, 0, 0);
                g_free(path);
            } else {
                log_textview_append(_("Disk image not saved at user's request\n"));
            }
            g_free(suggestion);
        }
    }
    if (dump.kind == FILER_DUMP_DIR_TRACK_FIRST_SECTORS)
        sector_query_list_free();
    operation_finish_cleanup();
    return FALSE;
}

}  // namespace

void dumps_copy_controls_to_ped(int with_outmost)
{
    int index = combo_active_drive_get_index();
    int retries = spinbutton_sector_read_retry_get_value();
    options_drive_index = index;
    options_max_sector_errors = spinbutton_max_sector_error_count_get_value();
    options_sector_read_retries = retries;
    options_outmost_track = spinbutton_outmost_track_get_value();
    ped.device = index + 8;
    ped.pre_initialize = checkbox_pre_initialize_disk_get_active();
    ped.max_sector_errors = options_max_sector_errors;
    ped.tries_per_sector = retries + 1;
    if (with_outmost)
        ped.outmost_track = options_outmost_track;
}

int dumps_first_track(void)
{
    return ped.outmost_track < 1 ? 1 : ped.outmost_track;
}

int dumps_start_sector_reads(int handle, GSourceFunc finisher)
{
    if (!wrapper_process_command(handle, ped.device, "di", finisher))
        return 0;
    char command[16];
    g_snprintf(command, sizeof command, "w1 %d", ped.device);
    if (!console_execute_command(handle, command, &flag_abort_requested)) {
        finish(finisher, "Unable to initiate sector read on device");
        return 0;
    }
    if (!console_synch_with_device(handle, &flag_abort_requested)) {
        finish(finisher, console_text_unable_to_sync);
        return 0;
    }
    return 1;
}

int dumps_show_directory_and_allocated_sectors(void)
{
    if (!sector_grid_image_holds_read_data())
        return 0;
    flag_dir_in_track_18 = 1;
    if (d64_is_bam_sector_error_free(d64_storage))
        decode_and_show_directory_listing();
    else
        log_textview_append(_("BAM sector contains errors: not listing directory contents\n"));
    disk_checks_show_allocated_sectors_if_trusted();
    return 1;
}

gchar *special_dumps_first_basic_line(const uint8_t *sector)
{
    GString *text = g_string_new(nullptr);
    // The data bytes after the link: load address, then the program.
    if (!basic_list_basic_program_escaped(sector + 2, 254, 1, text))
        g_string_truncate(text, 0);
    return g_string_free(text, FALSE);
}

int special_dumps_allocated_visit_order(int track, int *order)
{
    int all[21];
    int n = sector_reads_interleaved_order(d64_sectors_of_track(track), all);
    int count = 0;
    for (int i = 0; i < n; i++)
        if (track != 18 || all[i] != 0)
            order[count++] = all[i];
    return count;
}

int wrapper_read_first_sector_of_all_prgs(int handle, int mode, GSourceFunc finisher)
{
    if (!d64_is_bam_sector_error_free(d64_storage)) {
        log_queue_printf("BAM sector contains errors: not iterating through PRG files\n");
        return 1;
    }
    if (!d64_is_first_dir_link_valid(d64_storage)) {
        log_queue_printf("Unexpected first dir t/s link: not iterating through PRG files\n");
        return 1;
    }
    operation_idle_add(idle_decode_bam_and_show_allocated_sectors, nullptr);
    operation_idle_add(idle_decode_and_show_directory_listing, nullptr);

    if (options_first_sector_in_dir_order) {
        return for_each_prg_entry([&](int number, const uint8_t *entry) {
            char name[D64_NAME_BUFFER_SIZE];
            entry_name(entry, name);
            int t, s;
            if (!d64_get_file_first_track_and_sector(entry, &t, &s)) {
                log_queue_printf("%sFile #%03d, %-16s, is a PRG and starts at t/s %2d/%-2d %s\n",
                                 separator_tildes, number, name, entry[D64_ENTRY_FIRST_TRACK],
                                 entry[D64_ENTRY_FIRST_SECTOR], "(invalid)");
                return 1;
            }
            log_queue_printf("%sFile #%03d, %-16s, is a PRG and starts at t/s %2d/%-2d %s\n",
                             separator_tildes, number, name, t, s, "");
            return read_first_sector(handle, t, s, mode, finisher);
        });
    }

    for_each_prg_entry([&](int number, const uint8_t *entry) {
        char name[D64_NAME_BUFFER_SIZE];
        entry_name(entry, name);
        int t, s;
        if (!d64_get_file_first_track_and_sector(entry, &t, &s)) {
            log_queue_printf("%sFile #%03d, %-16s, is a PRG but starts at an invalid t/s %2d/%-2d\n",
                             separator_tildes, number, name, entry[D64_ENTRY_FIRST_TRACK],
                             entry[D64_ENTRY_FIRST_SECTOR]);
            return 1;
        }
        auto *record = g_new0(sector_query_record, 1);
        g_strlcpy(record->filename, name, sizeof record->filename);
        record->entry_number = number;
        record->track = t;
        record->sector = s;
        // Prepending and reversing keeps the walk linear.
        sector_query_list = g_slist_prepend(sector_query_list, record);
        return 1;
    });
    sector_query_list = g_slist_reverse(sector_query_list);
    // A merge sort: files on one track keep their directory order.
    sector_query_list = g_slist_sort(sector_query_list, compare_track_func);
    for (GSList *l = sector_query_list; l; l = l->next) {
        auto *record = static_cast<const sector_query_record *>(l->data);
        log_queue_printf("%sFile #%03d, %-16s, is a PRG and starts at t/s %2d/%-2d\n",
                         separator_tildes, record->entry_number, record->filename, record->track,
                         record->sector);
        if (!read_first_sector(handle, record->track, record->sector, mode, finisher))
            return 0;
    }
    return 1;
}

void thread_receive_dir_track(void)
{
    GSourceFunc finisher = idle_finish_dir_track_receipt;
    int handle = open_for_sector_reads(finisher);
    if (handle < 0)
        return;
    if (!read_dir_track(handle, finisher)) {
        serial_disconnect_port(handle);
        return;
    }
    serial_disconnect_port(handle);
    finish(finisher, nullptr);
}

void thread_receive_dir_track_and_first_sector(void)
{
    GSourceFunc finisher = idle_finish_dir_track_and_first_sector_receipt;
    int handle = open_for_sector_reads(finisher);
    if (handle < 0)
        return;
    sector_query_list_free();
    if (!read_dir_track(handle, finisher) ||
        !wrapper_read_first_sector_of_all_prgs(handle, 0, finisher)) {
        serial_disconnect_port(handle);
        return;
    }
    serial_disconnect_port(handle);
    finish(finisher, nullptr);
}

void thread_receive_allocated_sectors(void)
{
    GSourceFunc finisher = idle_finish_allocated_sector_receipt;
    int handle =
        open_for_sector_reads(finisher);
    if (handle < 0)
        return;
    if (!wrapper_read_dir_track_sector_with_retries(handle, 0, ped.tries_per_sector, 1,
                                                    finisher)) {
        serial_disconnect_port(handle);
        return;
    }
    const char *failure = dumps_bam_gate_failure();
    if (failure) {
        serial_disconnect_port(handle);
        finish(finisher, failure);
        return;
    }
    operation_idle_add(idle_decode_bam_and_show_allocated_sectors, nullptr);

    for (int t = dumps_first_track(); t <= TRACKS; t++) {
        int order[21];
        int n = special_dumps_allocated_visit_order(t, order);
        for (int i = 0; i < n; i++) {
            if (!d64_is_sector_allocated(d64_storage, t, order[i]))
                continue;
            if (!wrapper_read_sector_with_retries(handle, t, order[i], ped.tries_per_sector, 0,
                                                  finisher)) {
                serial_disconnect_port(handle);
                return;
            }
        }
    }
    serial_disconnect_port(handle);
    finish(finisher, nullptr);
}

gboolean idle_finish_dir_track_receipt(gpointer message)
{
    return finish_special_dump(dir_track_dump, static_cast<const char *>(message));
}

gboolean idle_finish_dir_track_and_first_sector_receipt(gpointer message)
{
    return finish_special_dump(dir_track_first_sector_dump, static_cast<const char *>(message));
}

gboolean idle_finish_allocated_sector_receipt(gpointer message)
{
    return finish_special_dump(allocated_dump, static_cast<const char *>(message));
}

DRAVLEN_MENU_HANDLER(on_menuitem_dump_track_18_only_activate)
{
    (void)item;
    (void)data;
    start_special_dump(dir_track_dump);
}

DRAVLEN_MENU_HANDLER(on_menuitem_dump_track_18_and_first_sector_activate)
{
    (void)item;
    (void)data;
    start_special_dump(dir_track_first_sector_dump);
}

DRAVLEN_MENU_HANDLER(on_menuitem_dump_bam_based_activate)
{
    (void)item;
    (void)data;
    start_special_dump(allocated_dump);
}

const char *dumps_bam_gate_failure(void)
{
    if (!d64_is_bam_sector_error_free(d64_storage))
        return "BAM sector contains errors";
    if (!d64_is_first_dir_link_valid(d64_storage))
        return "Unexpected first dir t/s link";
    return nullptr;
}
