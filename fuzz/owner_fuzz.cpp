// The owner lookup and the directory walk on arbitrary images: every walk
// ends and every read stays inside the image.
#include <cstdlib>
#include <cstring>

#include "fuzz/dir_fuzz_input.h"
#include "image/directory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    uint8_t want_track = data[0];
    uint8_t want_sector = data[1];
    fuzz_image_from_input(data + 2, size - 2);

    const uint8_t *entry = nullptr;
    char name[17];
    if (d64_get_filename_for_sector(d64_storage, &entry, want_track, want_sector, name)) {
        // The owner is a live entry inside the directory track.
        if (entry < d64_storage + d64_sector_offset(18, 0) ||
            entry >= d64_storage + d64_sector_offset(19, 0) || entry[2] == 0 || strlen(name) > 16)
            abort();
        if (!d64_are_track_and_sector_valid(want_track, want_sector))
            abort();
    }

    // A plain walk may loop; a caller bounds it, and every step stays on 18.
    d64_dir_position pos;
    d64_first_dir_entry(d64_storage, &pos, &entry);
    for (int n = 0; n < 1000 && d64_next_dir_entry(d64_storage, &pos, &entry); ++n)
        if (pos.track != 18 || pos.sector >= 19 || pos.index > 7)
            abort();

    for (int t = 0; t <= 42; ++t)
        for (int s = 0; s < 22; ++s)
            d64_is_sector_allocated(d64_storage, t, s);
    return 0;
}
