// The 1541's disk layout as the tests know it, written down apart from the
// program's own table so that a fault in that one shows.
#pragma once

// Sectors on `track` (1 to 40): 21, 19, 18 or 17 by speed zone.
int geometry_sectors(int track);
// Index of track/sector among the blocks of a D64, from 0.
int geometry_block(int track, int sector);
// Blocks of a D64 with `tracks` tracks (683 for 35).
int geometry_blocks(int tracks);
