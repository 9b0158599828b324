#include "tests/support/geometry.h"

int geometry_sectors(int track)
{
    return track <= 17 ? 21 : track <= 24 ? 19 : track <= 30 ? 18 : 17;
}

int geometry_block(int track, int sector)
{
    int b = 0;
    for (int t = 1; t < track; t++)
        b += geometry_sectors(t);
    return b + sector;
}

int geometry_blocks(int tracks)
{
    return geometry_block(tracks + 1, 0);
}
