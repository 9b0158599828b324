// The GUI's side of the engine's single-sector reads (engine/imaging.h):
// the same calls with the sector events posted to the window.
//
// Worker thread only.  The caller has opened the port, synchronised with the
// prompt and sent "w1 <device>" on the same connection; the device number is
// ped.device.  Every sector event goes to the GUI thread as a cell activation
// record, and the accessible sector error count is kept in step through its
// idle callbacks.
//
// On a communication failure `fail` is queued once (operation_idle_add, so it
// runs with the GDK lock like any other finisher) with one of the constant
// texts below as its data, and the function returns 0: the caller then only
// closes the port and returns from its worker.
#pragma once

#include <glib.h>

#include "engine/engine.h"

extern const char sector_reads_text_unable_to_read[];     // "Unable to read sector from device"
extern const char sector_reads_text_communication_error[]; // "Communication error"
extern const char sector_reads_text_unable_to_sync[];      // "Unable to sync with device"

// Up to `retries` attempts at track/sector.  reread 0: first read (the first
// attempt that arrives intact is stored whatever it is); reread 1: the image
// already holds a read of the sector and only a strictly better one replaces
// it (good over checksum failed over GCR failed over no sync).  1 when the
// attempts ended normally, read or not; 0 after posting `fail`.
int wrapper_read_sector_with_retries(int handle, int track, int sector, int retries, int reread,
                                     GSourceFunc fail);
// A first read of a sector that an earlier first read of the same operation
// stored is weighed as a re-read, so a sector read twice keeps its best read
// and is counted once.  The store's reset starts a new operation's record.
void sector_reads_forget_reads(void);
// The same on the directory track.
int wrapper_read_dir_track_sector_with_retries(int handle, int sector, int retries, int reread,
                                               GSourceFunc fail);

// Re-reads every sector of the track whose error byte is neither 0x01 nor
// 0x0F, in interleaved order, each with `retries` attempts in re-read mode.
// Stops at the first communication failure (0).
int wrapper_reread_all_sectors_in_track(int handle, int track, int retries, GSourceFunc fail);
// One attempt per sector: one pass of the once-per-pass mode.
int wrapper_reread_all_sectors_in_track_once(int handle, int track, GSourceFunc fail);
// The directory track.
int wrapper_reread_all_sectors_in_dir_track(int handle, int retries, GSourceFunc fail);

// The order in which a track of n sectors (1 to 21) is visited: every sector
// once, three apart, so the drive gets a sector's worth of time between two
// reads.  Writes n sector numbers to order; returns n.
int sector_reads_interleaved_order(int n, int *order);

// The window's side of a worker's sector events: cells and log lines posted
// one idle call each, error count steps as increase/decrease calls.
engine_ui sector_reads_gui_ui(void);

// GUI thread, before a disk read or anything else that replaces the image:
// every sector back to data zero and "not read" (0x03), the grid and
// directory panel cleared, and the remembered image path forgotten.
void sector_reads_reset_image_and_views(void);
