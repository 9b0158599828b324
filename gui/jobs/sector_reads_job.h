// The window's side of the image store before a read replaces it.
#pragma once

// GUI thread, before a disk read or anything else that replaces the image:
// every sector back to data zero and "not read" (0x03), the grid and
// directory panel cleared, and the remembered image path forgotten.
void sector_reads_reset_image_and_views(void);
