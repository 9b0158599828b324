// What the imaging, dump and re-read code of the engine share; not for
// front ends.
#pragma once

#include <glib.h>

#include <string>
#include <vector>

#include "engine/dumps.h"
#include "engine/imaging.h"

// One log line (printf form) through ui->log_line.
void dumps_log(const engine_ui *ui, int for_disk_log, const char *format, ...)
    G_GNUC_PRINTF(3, 4);
void dumps_show(const engine_ui *ui, engine_image_view what);

// The job's connection: job->handle when given, else `port` opened and at
// the prompt.  ENGINE_ERROR_NONE on success (the caller closes *handle),
// else the failure.
engine_error dumps_open_port(const engine_sector_job *job, int *handle);
// "di", "w1 <device>" and the prompt again.  ENGINE_ERROR_NONE or the failure.
engine_error dumps_start_sector_reads(int handle, int device);
// The outermost track, at least 1.
int dumps_first_track(int outmost_track);
// The failure when the BAM sector has errors or the first directory link is
// wrong, else ENGINE_ERROR_NONE.
engine_error dumps_bam_gate_failure(void);
// The first sector of every PRG of the directory in memory (mode 0 first
// reads, 1 re-reads).  1 also when skipped; 0 with r->failure set.
int dumps_read_first_sectors(engine_sector_reader *r, int tries, int mode, int dir_order);

// After the BAM sector: the gate, the allocated view, then every allocated
// sector from the outermost track on in visit order (mode 0 first reads,
// 1 re-reads, which pass over the sectors the drive cannot reach).
// ENGINE_ERROR_NONE on success, else the failure.
engine_error dumps_read_allocated_sectors(engine_sector_reader *r, const engine_sector_job *job,
                                          int mode);

// Forwards to the user's callbacks, keeping the lines of the per-disk log
// for the save.  Not copyable: ui.user points at it.
struct dumps_job_ui {
    const engine_ui *user_ui = nullptr;
    engine_ui ui = {};
    std::string disk_log;
    int md5 = 0;                          // the save writes NAME.md5 too
    int save = ENGINE_SAVE_NOT_REACHED;   // how far the save got
    const char *save_reason = nullptr;    // why it failed ("No space left on device"), interned
    // The text of the last failure of a save or load when it says more than
    // the failure's own text; interned, as outcome texts outlive the job.
    const char *failure_text = nullptr;
    dumps_job_ui() = default;
    dumps_job_ui(const dumps_job_ui &) = delete;
    dumps_job_ui &operator=(const dumps_job_ui &) = delete;
    void forward_to(const engine_ui *to, const char *opening);
};

// The separator (log view) and the job's heading (both logs); when the
// front end has shown them (`shown`), the heading goes to the per-disk log only.
void dumps_log_heading(dumps_job_ui *j, const char *heading, int shown);

// The one place that saves a D64: writes d64_storage to path with the job's
// per-disk log (reread: appended to "-reread.log") and the digest when the
// job wants one, and says so in the log; adds the files to *files.
// ENGINE_ERROR_NONE on success, else the failure (with its reason in
// j->failure_text).
engine_error dumps_save_image(dumps_job_ui *j, const char *path, int reread,
                              std::vector<std::string> *files);
// The image's file name: `path` when given, else the automatic one (in
// folder, when given), else the one the user gives through ask_file_name,
// offered `suggested` (*chosen 1: no overwrite question follows).  0 when
// the user gave none, which is logged.
int dumps_image_name(dumps_job_ui *j, filer_dump_kind kind, const char *path, int auto_naming,
                     const char *folder, int offset, int side_b, const filer_naming &naming,
                     const char *disk_name, std::string *name, int *chosen);
// Asks before replacing an existing file (unless overwrite; ask_overwrite
// gets `folder`), then saves as dumps_save_image does.  A declined question
// saves nothing, or with keep_under_free_name saves under
// destination_free_name and says so.  ENGINE_ERROR_NONE on success or when
// aborted meanwhile, else the failure.
engine_error dumps_confirm_and_save(dumps_job_ui *j, const std::string &path, int overwrite,
                                    int keep_under_free_name, const char *folder,
                                    std::vector<std::string> *files);
// Loads a D64 into d64_storage.  ENGINE_ERROR_NONE on success, else the
// failure (with the reason in j->failure_text).
engine_error dumps_load_image(dumps_job_ui *j, const char *path, guint64 *size);
// Reports the outcome with the sector counts: aborted when an abort came
// before anything was written, else what was done.  Returns 1 on success.
// With ended_early (engine_early_end) the files hold what a read that was
// cut short kept: an abort then stays "aborted", files and all.  The job
// `j`, when given, gives the failure's text with its reason and how far
// its save got.
int dumps_finish(const engine_ui *ui, gint64 start_us, engine_error failure,
                 std::vector<std::string> *files, int ended_early = ENGINE_EARLY_NONE,
                 const dumps_job_ui *j = nullptr);
