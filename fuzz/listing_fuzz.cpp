// The listing builder on arbitrary images: it must stay inside the image,
// end every walk, and keep its fixed line format.
#include <cstdlib>
#include <cstring>

#include "fuzz/dir_fuzz_input.h"
#include "image/directory.h"
#include "image/listing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_image_from_input(data, size);
    for (int include_scr = 0; include_scr <= 1; ++include_scr) {
        GString *text = g_string_new(nullptr);
        int loop = -1;
        int lines = d64_create_directory_listing(d64_storage, text, include_scr, &loop);
        if (loop != 0 && loop != 1)
            abort();
        if (lines < 2 || lines > 2 + D64_DIR_MAX_ENTRIES)
            abort();
        // Exactly one carriage return per line, header 27 wide, entries 28.
        int counted = 0;
        size_t start = 0;
        for (size_t i = 0; i < text->len; ++i) {
            if (text->str[i] == 0)
                abort();
            if (text->str[i] != '\r')
                continue;
            size_t width = i - start;
            if (counted == 0 && width != 27)
                abort();
            if (counted > 0 && counted < lines - 1 && width != 28)
                abort();
            ++counted;
            start = i + 1;
        }
        if (counted != lines || start != text->len)
            abort();
        g_string_free(text, TRUE);
    }
    char name[17], id[6];
    d64_get_diskname(d64_storage, name);
    d64_get_diskid(d64_storage, id);
    if (strlen(name) > 16 || strlen(id) > 5)
        abort();
    return 0;
}
