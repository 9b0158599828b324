// Writing a clean D64 image onto the disk in a drive: the device formats and
// writes the tracks and asks for one outgoing warp packet per sector.
#pragma once

#include <glib.h>

// Worker of the "sender" thread and its finisher.
void thread_send_disk_image(void);
gboolean idle_finish_disk_image_sending(gpointer failure);

// The order in which the sectors of a track with `sectors` sectors (17, 18,
// 19 or 21) are sent; fills order[0..sectors-1] and returns 1, or returns 0
// for another count.
int restore_sector_order(int sectors, int *order);
