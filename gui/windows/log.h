// The two logs: the log view on the logging tab, and the per-disk log that
// exists while a disk is dumped or re-read and ends up in the image's ".log".
// GUI thread only; workers use the idle form.
#pragma once

#include <glib.h>

void log_textview_append(const char *text);

// Per-disk log; null when none exists.
extern GString *log_warpsave;

// mode 1: "opened" (re-reads into a loaded image), anything else "created".
void log_warpsave_new(int mode);
void log_warpsave_append(const char *text);
void log_warpsave_and_log_textview_append(const char *text);
const char *log_warpsave_get_str(void);
int log_warpsave_get_len(void);
void log_warpsave_delete(void);

// Idle form for workers: appends the heap text to both logs and frees it.
gboolean idle_log_warpsave_and_log_textview_append_and_free(gpointer text);
