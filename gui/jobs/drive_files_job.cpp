#include "gui/jobs/drive_files_job.h"

#include <gtk/gtk.h>
#include <glib/gi18n.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <string>

#include "gui/windows/log.h"
#include "gui/jobs/operation.h"
#include "engine/input_file.h"
#include "engine/operation_state.h"
#include "engine/options.h"
#include "device/console.h"
#include "image/d64.h"
#include "gui/jobs/sector_reads_job.h"
#include "gui/drawing/dirview.h"
#include "gui/windows/dialogs.h"
#include "gui/windows/filechooser.h"
#include "gui/windows/sector_grid.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

uint8_t dir_storage[DIR_STORAGE_SIZE];
uint8_t prg_storage[PRG_STORAGE_SIZE];

namespace {

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

// A job that saves what it received: the engine asks for the file name
// through the chooser and saves; the window shows the outcome.
struct save_texts {
    const char *completed;      // status once the drive is done, "%.2lf": seconds
    const char *chooser_title;
    const char *save_failed;    // status when the file could not be written
    const char *aborted;
    const char *failed;         // "%s": the failure
    bool rom;                   // a ROM dump: its own folder memory
};

const save_texts prg_texts = {N_(" PRG export completed in %.2lf seconds"),
                              N_("Save file contents to PRG"),
                              N_(" PRG export failed: Unable to save to file"),
                              N_(" PRG export aborted: please wait for the drive to finish"),
                              N_(" PRG export failed: %s"), false};
const save_texts rom_texts = {N_(" Drive ROM dumping completed in %.2lf seconds"),
                              N_("Save ROM contents to PRG"),
                              N_(" Drive ROM dumping failed: Unable to save to file"),
                              N_(" Drive ROM dumping aborted: please wait for the drive to finish"),
                              N_(" Drive ROM dumping failed: %s"), true};

// The worker's side of a saving job; `asked` is set once the chooser ran.
struct save_run {
    const save_texts *texts;
    bool asked;
};

// What the finisher gets (and frees), copied while the worker holds it.
struct save_result {
    const save_texts *texts;
    engine_outcome_kind kind;
    std::string failure;
    bool asked;
    bool saved;
};

// The drive is done: the status says so, then the chooser opens while the
// worker waits for the name.
char *ask_save_path(void *user, const char *suggested)
{
    auto *run = static_cast<save_run *>(user);
    const save_texts *texts = run->texts;
    std::string offered = suggested;
    char *path = nullptr;
    operation_run_on_gui_and_wait(operation_idle_add, operation_run_waiting_call, [&] {
        end_progress_bar();
        if (tmr)
            g_timer_stop(tmr);
        show_status_printf(_(texts->completed), operation_elapsed_seconds());
        if (!(texts->rom ? fileopen_save_rom_file : fileopen_save_prg_file)(
                offered.c_str(), &path, _(texts->chooser_title)))
            path = nullptr;
    });
    run->asked = true;
    return path;
}

gboolean finish_saving_job(gpointer data);

void save_finished(void *user, const engine_outcome *outcome)
{
    auto *run = static_cast<save_run *>(user);
    auto *result = new save_result{run->texts, outcome->kind, "", run->asked,
                                   outcome->files && outcome->files[0]};
    if (outcome->failure)
        result->failure = outcome->failure;
    operation_idle_add(finish_saving_job, result);
}

engine_ui save_ui(save_run *run)
{
    engine_ui ui = operation_engine_ui(nullptr);
    ui.user = run;
    ui.ask_file_name = ask_save_path;
    ui.finished = save_finished;
    return ui;
}

// The chooser has asked before replacing a file.
engine_save_target chosen_file(void)
{
    return engine_save_target{nullptr, 1, 1, options_file_extensions_uppercase == 1};
}

// The finisher of a saving job.  Once the chooser has run, the status shows
// the drive's end already and the log takes no closing word (the save's own
// line ends it); an abort still ends the job as aborted.
gboolean finish_saving_job(gpointer data)
{
    auto *result = static_cast<save_result *>(data);
    const save_texts *texts = result->texts;
    end_progress_bar();
    if (result->saved) {
        options_save_to_file();  // the chooser remembers its folder
    } else if (result->asked && !engine_abort_requested()) {
        if (result->kind == ENGINE_FAILED)
            statusbar_main_update(_(texts->save_failed));
    } else if (operation_finish_decide(result->kind == ENGINE_FAILED ? result->failure.c_str()
                                                                     : nullptr,
                                       _(texts->aborted),
                                       _(texts->failed)) == OPERATION_SUCCEEDED) {
        show_status_printf(_(texts->completed), operation_elapsed_seconds());
    }
    delete result;
    operation_finish_cleanup();
    return FALSE;
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

// The worker's side: the engine with the GUI's callbacks, the port and
// drive the handler took.  The handlers have logged the title already.
engine_drive_job gui_job(void)
{
    return engine_drive_job{options_device_port_string, ped.device, 1, 1};
}

void post_listing(void *, engine_listing_event event, const char *text)
{
    switch (event) {
    case ENGINE_LISTING_CLEAR:
        operation_idle_add(idle_drawingarea_directory_listing_clear, nullptr);
        break;
    case ENGINE_LISTING_LINE:
        operation_idle_add(idle_drawingarea_directory_listing_print_and_free, g_strdup(text));
        break;
    case ENGINE_LISTING_NOTICE:
        operation_idle_add(idle_drawingarea_directory_listing_center_text_and_free,
                           g_strdup(text));
        break;
    }
}

}  // namespace

// ---------------------------------------------------------------- directory

void thread_receive_directory_listing(void)
{
    engine_ui ui = operation_engine_ui(idle_finish_directory_listing_receipt);
    ui.listing = post_listing;
    engine_drive_job job = gui_job();
    engine_list_directory(&ui, &job, dir_storage, DIR_STORAGE_SIZE, &ped.received_size);
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
        if (drive_files_listing_text(dir_storage, ped.received_size, text)) {
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
    save_run run = {&prg_texts, false};
    engine_ui ui = save_ui(&run);
    engine_drive_job job = gui_job();
    engine_save_target target = chosen_file();
    engine_export_prg(&ui, &job, ped.file_name, ped.total_size, prg_storage, PRG_STORAGE_SIZE,
                      &ped.received_size, &target);
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
    engine_ui ui = operation_engine_ui(idle_finish_prg_file_import_delivery);
    engine_drive_job job = gui_job();
    engine_import_prg(&ui, &job, ped.file_name, prg_storage, ped.received_size);
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
    std::string file;
    long long length = 0;
    char *message = nullptr;
    engine_input_result input =
        engine_read_input_file(path, PRG_STORAGE_SIZE, &file, &length, &message, nullptr);
    if (input != ENGINE_INPUT_READ && input != ENGINE_INPUT_TOO_LARGE) {
        statusbar_main_update(_(" Import failed: Unable to load from file"));
        log_printf("Unable to load from file: %s\n", message);
        g_free(message);
        g_free(path);
        return;
    }
    g_free(message);
    const char *contents = file.data();
    if (input == ENGINE_INPUT_TOO_LARGE) {
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
    g_free(path);
}

// ---------------------------------------------------------------- generic commands

void on_button_scratch_file_clicked(GtkButton *, gpointer)
{
    if (!operation_check_device_port())
        return;
    char name[17];
    if (!filer_get_current_item_filename(dir_filer, name)) {
        statusbar_main_update(_(" Error: Invalid file selection"));
        return;
    }
    // The drive reads * ? as wildcards and , = : as more names: such a name
    // would scratch other files, or none.
    if (!drive_files_name_is_safe_for_command(name, 1)) {
        statusbar_main_update(_(" Scratch refused: the drive cannot scratch this name exactly"));
        log_textview_append("The file name holds * ? , = or :, which the drive takes as a "
                            "pattern: nothing was sent\n");
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
    char *command = drive_files_format_command(format_name(), format_id(), 0);
    start_format(command, "format", "Formatting disk\n");
    g_free(command);
}

void on_menuitem_format_ii_activate(GtkMenuItem *, gpointer)
{
    if (!operation_check_device_port() || !get_user_confirmation_to_modify_disk())
        return;
    char *command = drive_files_format_command(format_name(), format_id(), 1);
    start_format(command, "format_ii", "Fast formatting disk\n");
    g_free(command);
}

// ---------------------------------------------------------------- drive ROM

void thread_export_drive_rom(void)
{
    save_run run = {&rom_texts, false};
    engine_ui ui = save_ui(&run);
    engine_drive_job job = gui_job();
    engine_save_target target = chosen_file();
    engine_dump_drive_rom(&ui, &job, ped.total_size, prg_storage, PRG_STORAGE_SIZE,
                          &ped.received_size, &target);
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
