// Whole-disk imaging: one fast "ws" pass over every track, then single-sector
// re-reads of the faulty sectors, the checks of the image, and the save with
// its ".log" and ".md5" files.
#pragma once

#include <glib.h>
#include <gtk/gtk.h>

#include <cstdint>

#include "engine/imaging.h"

#include <string>

// What the window shows of a job that reads the disk and saves an image.
struct imaging_window_job {
    const char *completed;  // status once the drive's part is over: seconds, N and P
    int whole_disk;         // damage marks count unread sectors as damage
    GSourceFunc finisher;   // runs last with the imaging_window_result
    const char *what;       // names the read in the unsaved-read questions
};

// How the job ended, for its finisher (GUI thread; freed after it).
struct imaging_window_result {
    engine_outcome_kind kind;
    int has_failure;
    std::string failure;
    int save;                // engine_save_state
    std::string save_reason; // why a failed save failed, or ""
    std::string saved_path;  // the image file written, or ""
    int read_done;           // the drive's part went well
};

// The naming and save settings of the job, read on the GUI thread at its start.
struct imaging_window_naming {
    int auto_naming;
    const char *folder;
    int side_b, offset;
    filer_naming naming;
    int md5;
    int overwrite;
};

// GUI thread, at the start of a job: takes the naming controls and settings.
void imaging_window_begin(const imaging_window_job *job);
const imaging_window_naming *imaging_window_current_naming(void);
// The worker's engine_ui for `job`: every event goes through one ordered
// queue to the GUI thread, and the questions are answered there with the
// window's dialogs while the worker waits.
engine_ui imaging_window_ui(const imaging_window_job *job);
// For operation_open_port_and_sync: the job failed before the engine ran
// (data: the failure text); runs the job's finisher.
gboolean imaging_window_idle_failed(gpointer failure);
// What every such finisher does first: the failure or abort (the status
// texts given), else the save's outcome (remembered path, title, status
// when it was declined or failed) and the next automatic name.  1 when
// the drive's part went well.
int imaging_window_finish(const imaging_window_result *r, const char *aborted_text,
                          const char *failed_format);

// Start routine (GUI thread): F1, the menu item and the button.
void core_save_whole_disk_image_to_D64(void);
// Worker of the "receiver" thread; always ends in exactly one finisher.
int thread_receive_disk_image(void);
// Finisher: data is the imaging_window_result.
gboolean idle_finish_disk_image_receipt(gpointer message);

// PRG files whose first sector carries an accessible sector error.
int count_accessible_sector_errors_on_first_sector_of_all_prgs(void);

// The Warpsave button and Special > Warpsave the whole disk.
void on_button_save_image_to_D64_clicked(GtkButton *button, gpointer data);
void on_menuitem_dump_the_whole_disk_activate(GtkMenuItem *item, gpointer data);
