#include "operations/drive_files.h"

#include <gtk/gtk.h>
#include <glib/gi18n.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "app/log.h"
#include "app/operation.h"
#include "app/operation_state.h"
#include "app/options.h"
#include "device/console.h"
#include "device/serial.h"
#include "gcr/warp.h"
#include "image/basic.h"
#include "image/d64.h"
#include "image/imagefile.h"
#include "operations/sector_reads.h"
#include "render/dirview.h"
#include "ui/dialogs.h"
#include "ui/filechooser.h"
#include "ui/handlers.h"
#include "ui/sector_grid.h"
#include "ui/widgets.h"
#include "ui/window_main.h"

uint8_t dir_storage[DIR_STORAGE_SIZE];
uint8_t prg_storage[PRG_STORAGE_SIZE];

const char drive_files_text_too_large[] = "Received data does not fit into the buffer";
const char drive_files_text_overrequest[] = "Device asked for more bytes than the file holds";

namespace {

const char text_no_directory_request[] = "Unable to request directory on device";
const char text_no_load_request[] = "Unable to request PRG loading on device";
const char text_no_save_request[] = "Unable to request PRG saving on device";
const char text_no_rom_request[] = "Unable to request ROM dumping on device";

constexpr int MAX_PROGRESS_LINES = 15;

constexpr auto close_and_finish = operation_close_and_finish;
constexpr auto open_and_sync = operation_open_port_and_sync;

void show_status_printf(const char *format, ...) G_GNUC_PRINTF(1, 2);
void show_status_printf(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    char *text = g_strdup_vprintf(format, args);
    va_end(args);
    statusbar_main_update(text);
    g_free(text);
}

void log_printf(const char *format, ...) G_GNUC_PRINTF(1, 2);
void log_printf(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    char *text = g_strdup_vprintf(format, args);
    va_end(args);
    log_textview_append(text);
    g_free(text);
}

int read_u16(int handle, int *value)
{
    uint8_t b[2];
    if (!console_read(handle, b, 2, &flag_abort_requested))
        return 0;
    *value = b[0] | (b[1] << 8);
    return 1;
}

// Reads `count` bytes, keeping the ones that fit below `capacity` at
// buffer + *stored and dropping the rest; *stored grows by what was kept.
int read_keeping_what_fits(int handle, uint8_t *buffer, int capacity, int *stored, int count)
{
    int keep = std::min(count, capacity - *stored);
    if (keep > 0) {
        if (!console_read(handle, buffer + *stored, (size_t)keep, &flag_abort_requested))
            return 0;
        *stored += keep;
    }
    uint8_t scrap[512];
    for (int left = count - std::max(keep, 0); left > 0;) {
        int n = std::min(left, (int)sizeof scrap);
        if (!console_read(handle, scrap, (size_t)n, &flag_abort_requested))
            return 0;
        left -= n;
    }
    return 1;
}

// The answer and contents of a "dd" file read into buffer.  After every
// piece `progress` runs with the bytes stored.  Data beyond the buffer is
// still taken from the link, so the exchange ends where the device ends it,
// but the transfer fails.  Returns null or the failure text.
const char *receive_file(int handle, uint8_t *buffer, int capacity, int *stored,
                         void (*progress)(int stored))
{
    *stored = 0;
    char answer[2];
    if (!console_read(handle, answer, 2, &flag_abort_requested))
        return console_text_communication_error;
    if (answer[0] != 'O' || answer[1] != 'K')
        return console_answer_failure_text(answer);
    bool overflow = false;
    if (!read_keeping_what_fits(handle, buffer, capacity, stored, 2))
        return console_text_communication_error;
    progress(*stored);
    for (;;) {
        int count;
        if (!read_u16(handle, &count))
            return console_text_communication_error;
        if (count == 0)
            break;
        if (*stored + count > capacity)
            overflow = true;
        if (!read_keeping_what_fits(handle, buffer, capacity, stored, count))
            return console_text_communication_error;
        progress(*stored);
    }
    return overflow ? drive_files_text_too_large : nullptr;
}

void start_operation(const char *status, const char *log_title, int with_progress,
                     const char *thread_name, void (*worker)(void))
{
    operation_start_info info = {status, log_title, with_progress, 1, thread_name, worker,
                                 nullptr};
    operation_start(&info);
}

// Handler step shared by every job here: the drive selection.
void take_drive_selection(void)
{
    int index = combo_active_drive_get_index();
    options_drive_index = index;
    ped.device = index + 8;
}

void end_progress_bar(void)
{
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(progressbar_main), 1.0);
    gtk_widget_hide(progressbar_main);
}

const char *prg_extension(void)
{
    return options_file_extensions_uppercase == 1 ? "PRG" : "prg";
}

// Offers the received bytes for saving; the texts differ per job.
struct save_texts {
    const char *chooser_title;
    const char *failed_status;
    const char *failed_log;   // "%s": the error message
    const char *saved_log;    // "%s": the path
    const char *cancel_log;
};

void save_received(const char *name, const save_texts &texts)
{
    char *suggested = g_strdup_printf("%s.%s", name, prg_extension());
    char *path = nullptr;
    if (fileopen_save_prg_file(suggested, &path, texts.chooser_title)) {
        GError *error = nullptr;
        if (g_file_set_contents(path, (const char *)prg_storage, ped.received_size, &error)) {
            options_save_to_file();
            log_printf(texts.saved_log, path);
        } else {
            statusbar_main_update(texts.failed_status);
            log_printf(texts.failed_log, error ? error->message : "");
            g_clear_error(&error);
        }
        g_free(path);
    } else {
        log_textview_append(texts.cancel_log);
    }
    g_free(suggested);
}

// The C64 file name of the current directory item, into ped.file_name.
int take_current_item_name(void)
{
    char name[17];
    if (!filer_get_current_item_filename(dir_filer, name) ||
        !drive_files_name_is_safe_for_command(name, 0))
        return 0;
    g_strlcpy(ped.file_name, name, sizeof ped.file_name);
    return 1;
}

// ---------------------------------------------------------------- directory

drive_files_listing_progress listing_progress;

void post_listing_progress(int stored)
{
    GPtrArray *lines = g_ptr_array_new();
    int clear_first = 0;
    drive_files_listing_progress_lines(dir_storage, stored, &listing_progress, lines,
                                       &clear_first);
    if (clear_first)
        operation_idle_add(idle_drawingarea_directory_listing_clear, nullptr);
    for (guint i = 0; i < lines->len; i++)
        operation_idle_add(idle_drawingarea_directory_listing_print_and_free,
                           g_ptr_array_index(lines, i));
    g_ptr_array_free(lines, TRUE);
}

// ---------------------------------------------------------------- PRG and ROM

void post_prg_progress(int stored)
{
    if (ped.total_size != 0)
        operation_report_progress(stored / (ped.total_size * 254.0));
}

}  // namespace

// ---------------------------------------------------------------- helpers

void drive_files_c64_name_from_path(const char *path, char name17[17])
{
    char *base = g_path_get_basename(path);
    char *cut = nullptr;
    for (const char *extension : {".PRG", ".Prg", ".prg"}) {
        for (char *p = strstr(base, extension); p; p = strstr(p + 1, extension))
            cut = p;
        if (cut)
            break;
    }
    if (cut)
        *cut = 0;
    g_strlcpy(name17, base, 17);
    g_free(base);
}

int drive_files_name_is_safe_for_command(const char *name, int for_scratch)
{
    if (!name || !name[0])
        return 0;
    const char *refused = for_scratch ? "\"\r\n*?" : "\"\r\n";
    return strpbrk(name, refused) ? 0 : 1;
}

int drive_files_blocks_of_size(int size)
{
    return size / 254 + (size % 254 ? 1 : 0);
}

void drive_files_listing_progress_lines(const uint8_t *data, int received,
                                        drive_files_listing_progress *progress, GPtrArray *lines,
                                        int *clear_first)
{
    *clear_first = 0;
    while (!progress->finished && received - progress->shown_bytes >= 32) {
        if (progress->lines == MAX_PROGRESS_LINES) {
            g_ptr_array_add(lines, g_strdup("... READING IN PROGRESS ..."));
            progress->finished = 1;
            break;
        }
        const uint8_t *record = data + progress->shown_bytes;
        // Record 0 carries the load address in front of its line.
        const uint8_t *line = progress->shown_bytes == 0 ? record + 2 : record;
        int text_length = progress->shown_bytes == 0 ? 25 : 27;
        unsigned number = line[2] | (line[3] << 8);
        char text[28];
        for (int i = 0; i < text_length; i++)
            text[i] = line[4 + i] ? (char)line[4 + i] : (char)0x40;
        text[text_length] = 0;
        if (progress->lines == 0)
            *clear_first = 1;
        g_ptr_array_add(lines, g_strdup_printf("%u %s", number % 1000, text));
        progress->lines++;
        progress->shown_bytes += 32;
    }
}

// ---------------------------------------------------------------- directory

void thread_receive_directory_listing(void)
{
    GSourceFunc fin = idle_finish_directory_listing_receipt;
    int handle = open_and_sync(fin);
    if (handle < 0)
        return;
    if (!wrapper_process_command(handle, ped.device, "di",
                                 idle_finish_directory_listing_receipt)) {
        serial_disconnect_port(handle);
        return;
    }
    char command[24];
    g_snprintf(command, sizeof command, "dd \"$\" %d", ped.device);
    if (!console_execute_command(handle, command, &flag_abort_requested)) {
        close_and_finish(handle, fin, text_no_directory_request);
        return;
    }
    operation_idle_add(idle_drawingarea_directory_listing_center_text_and_free,
                       g_strdup("READING DIR..."));
    listing_progress = drive_files_listing_progress();
    int stored = 0;
    const char *failure =
        receive_file(handle, dir_storage, DIR_STORAGE_SIZE, &stored, post_listing_progress);
    ped.received_size = failure ? 0 : stored;
    close_and_finish(handle, fin, failure);
}

gboolean idle_finish_directory_listing_receipt(gpointer failure)
{
    operation_outcome outcome = operation_finish_decide(
        static_cast<const char *>(failure),
        _(" Directory listing aborted: please wait for the drive to finish"),
        _(" Directory listing failed: %s"));
    if (outcome != OPERATION_SUCCEEDED) {
        drawingarea_directory_listing_reset();
    } else {
        show_status_printf(_(" Directory listing completed in %.2lf seconds"),
                           operation_elapsed_seconds());
        GString *text = g_string_new(nullptr);
        if (basic_relink_directory_listing(dir_storage, (size_t)ped.received_size) &&
            basic_list_directory_contents(dir_storage, (size_t)ped.received_size, text)) {
            filer_show_dir(dir_filer, text->str);
            drawingarea_directory_listing_redraw();
            vscrollbar_files_directory_reset(filer_get_number_items(dir_filer));
            if (drawingarea_directory_listing)
                gtk_widget_grab_focus(drawingarea_directory_listing);
            operation_log_completed();
            flag_dir_listing_was_last_operation = 1;
        }
        g_string_free(text, TRUE);
    }
    operation_finish_cleanup();
    button_directory_give_focus();
    return FALSE;
}

void core_list_directory(void)
{
    if (!operation_check_device_port())
        return;
    take_drive_selection();
    char *status = g_strdup_printf(_(" Directory requested on drive %d"), ped.device);
    flag_dir_in_track_18 = 1;
    drawingarea_directory_listing_reset();
    notebook_main_set_page(1);
    start_operation(status, "Reading disk directory\n", 0, "directory",
                    thread_receive_directory_listing);
    g_free(status);
}

void on_button_directory_clicked(GtkButton *, gpointer)
{
    core_list_directory();
}

void on_menuitem_disk_directory_activate(GtkMenuItem *, gpointer)
{
    core_list_directory();
}

// ---------------------------------------------------------------- PRG export

void thread_export_prg_file(void)
{
    GSourceFunc fin = idle_finish_prg_file_export_receipt;
    int handle = open_and_sync(fin);
    if (handle < 0)
        return;
    char *command = g_strdup_printf("dd \"%s\" %d 1", ped.file_name, ped.device);
    int requested = console_execute_command(handle, command, &flag_abort_requested);
    g_free(command);
    if (!requested) {
        close_and_finish(handle, fin, text_no_load_request);
        return;
    }
    int stored = 0;
    const char *failure =
        receive_file(handle, prg_storage, PRG_STORAGE_SIZE, &stored, post_prg_progress);
    ped.received_size = failure ? 0 : stored;
    close_and_finish(handle, fin, failure);
}

gboolean idle_finish_prg_file_export_receipt(gpointer failure)
{
    end_progress_bar();
    if (operation_finish_decide(static_cast<const char *>(failure),
                                _(" PRG export aborted: please wait for the drive to finish"),
                                _(" PRG export failed: %s")) == OPERATION_SUCCEEDED) {
        show_status_printf(_(" PRG export completed in %.2lf seconds"),
                           operation_elapsed_seconds());
        char name[17];
        g_strlcpy(name, ped.file_name, sizeof name);
        sanitize_filename(name);
        save_texts texts = {_("Save file contents to PRG"),
                            _(" PRG export failed: Unable to save to file"),
                            "Unable to save PRG to file: %s\n", "PRG saved to: %s\n",
                            "PRG not saved at user's request\n"};
        save_received(name, texts);
    }
    operation_finish_cleanup();
    return FALSE;
}

void on_button_save_PRG_clicked(GtkButton *, gpointer)
{
    if (!operation_check_device_port())
        return;
    int blocks = 0;
    if (filer_get_current_item_filetype(dir_filer) != 2 || !take_current_item_name() ||
        !filer_get_current_item_size_in_blocks(dir_filer, &blocks)) {
        statusbar_main_update(_(" Error: Invalid file selection"));
        return;
    }
    take_drive_selection();
    ped.total_size = blocks;
    char *status = g_strdup_printf(_(" PRG export requested on drive %d (allegedly %d blocks)"),
                                   ped.device, blocks);
    start_operation(status, "Exporting PRG\n", 1, "prg_export", thread_export_prg_file);
    g_free(status);
}

// ---------------------------------------------------------------- PRG import

void thread_import_prg_file(void)
{
    GSourceFunc fin = idle_finish_prg_file_import_delivery;
    int handle = open_and_sync(fin);
    if (handle < 0)
        return;
    int size = ped.received_size;
    char *command = g_strdup_printf("du \"%s\" %d %d", ped.file_name, ped.device, size);
    int requested = console_execute_command(handle, command, &flag_abort_requested);
    g_free(command);
    if (!requested) {
        close_and_finish(handle, fin, text_no_save_request);
        return;
    }
    char answer[2];
    if (!console_read(handle, answer, 2, &flag_abort_requested)) {
        close_and_finish(handle, fin, console_text_communication_error);
        return;
    }
    if (answer[0] != 'O' || answer[1] != 'K') {
        // "NF" means nothing special when writing.
        const char *text = answer[0] == 'N' && answer[1] == 'F'
                               ? console_text_command_failed
                               : console_answer_failure_text(answer);
        close_and_finish(handle, fin, text);
        return;
    }
    int sent = 0;
    for (;;) {
        int wanted;
        if (!read_u16(handle, &wanted)) {
            close_and_finish(handle, fin, console_text_communication_error);
            return;
        }
        if (wanted > size - sent) {
            // Answering with less could never end: the device would wait
            // for the rest.  Nothing of it is sent.
            close_and_finish(handle, fin, drive_files_text_overrequest);
            return;
        }
        if (!console_write(handle, prg_storage + sent, (size_t)wanted, &flag_abort_requested)) {
            close_and_finish(handle, fin, console_text_communication_error);
            return;
        }
        sent += wanted;
        if (sent == size)
            break;
        operation_report_progress((double)sent / size);
    }
    close_and_finish(handle, fin, nullptr);
}

gboolean idle_finish_prg_file_import_delivery(gpointer failure)
{
    end_progress_bar();
    if (operation_finish_decide(static_cast<const char *>(failure),
                                _(" PRG import aborted: please wait for the drive to finish"),
                                _(" PRG import failed: %s")) == OPERATION_SUCCEEDED) {
        show_status_printf(_(" PRG import completed in %.2lf seconds"),
                           operation_elapsed_seconds());
        options_save_to_file();
        operation_log_completed();
    }
    operation_finish_cleanup();
    return FALSE;
}

void on_button_load_PRG_clicked(GtkButton *, gpointer)
{
    if (!operation_check_device_port())
        return;
    if (!get_user_confirmation_to_modify_disk())
        return;
    char *path = nullptr;
    if (!fileopen_load_prg_file(&path))
        return;
    log_textview_append("================================\n");
    log_textview_append("Importing PRG\n");
    char *contents = nullptr;
    gsize length = 0;
    GError *error = nullptr;
    if (!g_file_get_contents(path, &contents, &length, &error)) {
        statusbar_main_update(_(" Import failed: Unable to load from file"));
        log_printf("Unable to load from file: %s\n", error ? error->message : "");
        g_clear_error(&error);
        g_free(path);
        return;
    }
    if (length > (gsize)PRG_STORAGE_SIZE) {
        statusbar_main_update(_(" Import failed: File is too large for a disk"));
        log_textview_append("Unable to fit file on a single 35-track disk\n");
    } else if (length < 2) {
        statusbar_main_update(_(" Import failed: File is too small"));
        log_textview_append("File is too small to be a valid PRG file\n");
    } else if (drive_files_c64_name_from_path(path, ped.file_name),
               !drive_files_name_is_safe_for_command(ped.file_name, 0)) {
        statusbar_main_update(_(" Import failed: Invalid file name"));
        log_textview_append("The file name cannot be sent to the drive\n");
    } else {
        memcpy(prg_storage, contents, length);
        ped.received_size = (int)length;
        take_drive_selection();
        char *status =
            g_strdup_printf(_(" PRG import requested on drive %d (%d bytes - %d blocks)"),
                            ped.device, (int)length, drive_files_blocks_of_size((int)length));
        start_operation(status, nullptr, 1, "prg_import", thread_import_prg_file);
        g_free(status);
    }
    g_free(contents);
    g_free(path);
}

// ---------------------------------------------------------------- generic commands

void on_button_scratch_file_clicked(GtkButton *, gpointer)
{
    if (!operation_check_device_port())
        return;
    char name[17];
    if (!filer_get_current_item_filename(dir_filer, name) ||
        !drive_files_name_is_safe_for_command(name, 1)) {
        statusbar_main_update(_(" Error: Invalid file selection"));
        return;
    }
    if (!get_user_confirmation_to_modify_disk())
        return;
    char *command = g_strdup_printf("dc \"S:%s\"", name);
    char *status = g_strdup_printf(_(" File scratching requested on drive %d"),
                                   combo_active_drive_get_index() + 8);
    core_console_cmd_execute(command, "scratch", status, "Scratching file\n");
    g_free(status);
    g_free(command);
}

void on_button_validate_disk_clicked(GtkButton *, gpointer)
{
    if (!operation_check_device_port() || !get_user_confirmation_to_modify_disk())
        return;
    char *status = g_strdup_printf(_(" Disk validation requested on drive %d"),
                                   combo_active_drive_get_index() + 8);
    core_console_cmd_execute("dc \"V0\"", "validate", status, "Validating disk\n");
    g_free(status);
}

// Both formats forget what the store and the views showed.  Name and ID
// are cleaned when they are loaded or entered; a value set any other way
// that would split the command is refused before anything is cleared.
static void start_format(const char *command, const char *thread_name, const char *log_title)
{
    if (!console_command_is_one_line(command)) {
        statusbar_main_update(_(" Error: Invalid disk name or ID"));
        return;
    }
    sector_reads_reset_image_and_views();
    char *status = g_strdup_printf(_(" Disk formatting requested on drive %d"),
                                   combo_active_drive_get_index() + 8);
    core_console_cmd_execute(command, thread_name, status, log_title);
    g_free(status);
}

// The drive takes at most 16 name and 2 ID characters; longer settings are
// cut so the command always fits.
static const char *format_name(void)
{
    return options_disk_name_string ? options_disk_name_string : "";
}

static const char *format_id(void)
{
    return options_disk_id_string ? options_disk_id_string : "";
}

void on_button_format_disk_clicked(GtkButton *, gpointer)
{
    if (!operation_check_device_port() || !get_user_confirmation_to_modify_disk())
        return;
    char *command = g_strdup_printf("dc \"N:%.16s,%.2s\"", format_name(), format_id());
    start_format(command, "format", "Formatting disk\n");
    g_free(command);
}

void on_menuitem_format_ii_activate(GtkMenuItem *, gpointer)
{
    if (!operation_check_device_port() || !get_user_confirmation_to_modify_disk())
        return;
    char *command = g_strdup_printf("ff \"%.16s,%.2s\" %d", format_name(), format_id(), TRACKS);
    start_format(command, "format_ii", "Fast formatting disk\n");
    g_free(command);
}

// ---------------------------------------------------------------- drive ROM

void thread_export_drive_rom(void)
{
    GSourceFunc fin = idle_finish_drive_rom_export_receipt;
    int handle = open_and_sync(fin);
    if (handle < 0)
        return;
    int pages = ped.total_size;
    char command[24];
    if (pages == 64)
        g_snprintf(command, sizeof command, "wd %d", ped.device);
    else
        g_snprintf(command, sizeof command, "wd %d %d", ped.device, 256 - pages);
    if (!console_execute_command(handle, command, &flag_abort_requested)) {
        close_and_finish(handle, fin, text_no_rom_request);
        return;
    }
    unsigned load_address = pages == 64 ? 0xC000 : 0x8000;
    prg_storage[0] = (uint8_t)(load_address & 0xFF);
    prg_storage[1] = (uint8_t)(load_address >> 8);
    int total = pages * 256 + 2;
    int stored = 2;
    for (int page = 0; page < pages; page++) {
        if (!console_read(handle, prg_storage + stored, 256, &flag_abort_requested)) {
            close_and_finish(handle, fin, console_text_communication_error);
            return;
        }
        stored += 256;
        operation_report_progress((double)stored / total);
    }
    for (int i = 2; i < total; i++)
        prg_storage[i] = warp_bus_order_transform(prg_storage[i]);
    ped.received_size = total;
    close_and_finish(handle, fin, nullptr);
}

gboolean idle_finish_drive_rom_export_receipt(gpointer failure)
{
    end_progress_bar();
    if (operation_finish_decide(static_cast<const char *>(failure),
                                _(" Drive ROM dumping aborted: please wait for the drive to finish"),
                                _(" Drive ROM dumping failed: %s")) == OPERATION_SUCCEEDED) {
        show_status_printf(_(" Drive ROM dumping completed in %.2lf seconds"),
                           operation_elapsed_seconds());
        save_texts texts = {_("Save ROM contents to PRG"),
                            _(" Drive ROM dumping failed: Unable to save to file"),
                            "Unable to save drive ROM to file: %s\n", "Drive ROM saved to: %s\n",
                            "Drive ROM not saved at user's request\n"};
        save_received("ROM", texts);
    }
    operation_finish_cleanup();
    return FALSE;
}

void core_export_drive_rom_activate(int pages)
{
    if (!operation_check_device_port())
        return;
    take_drive_selection();
    // $8000-$FFFF at most, well inside prg_storage.
    ped.total_size = std::clamp(pages, 1, 128);
    char *status = g_strdup_printf(_(" Drive ROM dumping requested on drive %d"), ped.device);
    start_operation(status, "Dumping Drive ROM\n", 1, "drive_rom_dump", thread_export_drive_rom);
    g_free(status);
}

void on_menuitem_dump_1541_drive_rom_activate(GtkMenuItem *, gpointer)
{
    core_export_drive_rom_activate(64);
}

void on_menuitem_dump_1571_drive_rom_activate(GtkMenuItem *, gpointer)
{
    core_export_drive_rom_activate(128);
}
