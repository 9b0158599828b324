// The read the window holds that no file holds yet: after a read, a dump
// or a re-read the image stays in memory until it is saved, File > "Save
// image as..." saves it, and whatever would drop it asks first.  GUI thread
// only.
#pragma once

#include <gtk/gtk.h>

#include <string>

// What would drop an unsaved read; each asks its own question.
enum unsaved_action {
    UNSAVED_QUIT,
    UNSAVED_ANOTHER_READ,  // a read or dump replaces the image
    UNSAVED_LOAD,          // a D64 file replaces the image
    UNSAVED_RESTORE,       // the image to restore replaces it
};

// A read, dump or re-read has ended, whichever way: `what` names it for the
// questions ("The whole-disk read"), and its per-disk log is kept for a
// later "Save image as...".  Call before the finisher saves.
void unsaved_read_ended(const char *what);
// The result of a save of the image in memory (1 saved): what it holds now
// is in a file.  Returns `saved`.
int unsaved_saved(int saved);
// The image in memory now is what a file holds (loaded, restored).
void unsaved_forget(void);
// 1 while the image holds read data that differs from what it was when last
// saved or loaded.
int unsaved_pending(void);

// Before `action`: with an unsaved read, asks whether to go on and lose
// it, naming it.  1 to go on (also when nothing is unsaved).
int unsaved_confirm(unsaved_action action);
// Quitting: the question about the unsaved read, else the usual one.
// 1 to quit.
int unsaved_confirm_quit(void);

// File > "Save image as...": the image in memory with its log and digest
// to a file the user picks; a failure says why and the image stays.
// 1 when saved.
int unsaved_save_as(void);
// The window is ending without a question (a signal): an unsaved read goes,
// with its log, under a free name in the D64 folder; when that save fails,
// in the home folder, then in the user's state folder ("dravlen" in it),
// and that file becomes the image's file (as after "Save image as...").
// The path saved to; empty when nothing was unsaved, or when the save
// failed, and then *why says why.
std::string unsaved_keep(std::string *why);
// A re-read with no file behind the image: with an unsaved read it is
// saved first (Save image as...), else the user is told to dump or load.
// 1 when the image now has its file.
int unsaved_file_for_reread(void);

// The File menu opens: "Save image as..." is sensitive when the image holds
// read data and no operation runs.
void on_menuitem_file_activate(GtkMenuItem *item, gpointer data);
void on_menuitem_save_image_as_activate(GtkMenuItem *item, gpointer data);
