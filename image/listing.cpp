#include "image/listing.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "image/directory.h"

namespace {

constexpr uint8_t SHIFTED_SPACE = 0xA0;

// Header text of the listing when nothing better is known: name and ID empty.
void append_header(GString *text, const char *name, const char *id)
{
    // The ID stays where a C64 shows it, also when it is short.
    g_string_append_printf(text, "0 \x12\"%-16s\" %-5s\r", name, id);
}

}  // namespace

void d64_normalize_listing_name(const uint8_t *field, int length, char *out)
{
    uint8_t buf[17];
    memcpy(buf, field, (size_t)length);

    bool all_zero = std::all_of(buf, buf + length, [](uint8_t c) { return c == 0; });
    if (!all_zero)
        std::replace(buf, buf + length, (uint8_t)0x00, (uint8_t)0x40);
    // An all-zero field is treated as padding, which the last step cuts away.
    for (int i = length - 1; i >= 0 && buf[i] == 0; --i)
        buf[i] = SHIFTED_SPACE;
    // A carriage return would end the listing line early.
    std::replace(buf, buf + length, (uint8_t)0x0D, (uint8_t)0x8D);
    int end = length;
    while (end > 0 && buf[end - 1] == SHIFTED_SPACE)
        --end;
    memcpy(out, buf, (size_t)end);
    out[end] = 0;
}

void d64_quote_listing_name(const char *normalized, char *out)
{
    size_t n = 0;
    out[n++] = '"';
    const char *p = normalized;
    while (*p && (uint8_t)*p != SHIFTED_SPACE)
        out[n++] = *p++;
    out[n++] = '"';
    if (*p) {
        // What follows the first shifted space is shown unshifted. Clearing
        // bit 7 must not create a zero or a carriage return, which would cut
        // the name or split the line: those bytes stay as they are.
        for (++p; *p; ++p) {
            uint8_t c = (uint8_t)*p;
            uint8_t low = c & 0x7F;
            out[n++] = (char)((low == 0x00 || low == 0x0D) ? c : low);
        }
    }
    out[n] = 0;
}

int d64_create_directory_listing(const uint8_t *image, GString *text, int include_scr, int *loop)
{
    *loop = 0;

    char name[17] = "";
    char id[6] = "";
    if (d64_is_first_dir_link_valid(image)) {
        const uint8_t *header = image + d64_sector_offset(D64_DIR_TRACK, 0);
        d64_normalize_listing_name(header + D64_BAM_DISKNAME_OFFSET, 16, name);
        d64_normalize_listing_name(header + D64_BAM_DISKID_OFFSET, 5, id);
    }
    append_header(text, name, id);

    std::vector<int> visited{D64_DIR_TRACK * 100 + 1};
    int budget = D64_DIR_MAX_ENTRIES;
    int listed = 0;
    d64_dir_position pos;
    const uint8_t *entry;
    d64_first_dir_entry(image, &pos, &entry);
    for (;;) {
        uint8_t type;
        unsigned size;
        d64_get_filetype(entry, &type);
        d64_get_file_size_sectors(entry, &size);
        char entry_name[17];
        char quoted[19];
        d64_normalize_listing_name(entry + D64_ENTRY_NAME, 16, entry_name);
        d64_quote_listing_name(entry_name, quoted);
        if (type != 0) {
            g_string_append_printf(text, "%-3d  %-18s%c%s%c\r", (int)(size % 1000), quoted,
                                   (type & 0x80) ? ' ' : '*', filetypedescriptors[(type & 0x3F) % 5],
                                   (type & 0x40) ? '<' : ' ');
            ++listed;
        } else if (include_scr == 1) {
            g_string_append_printf(text, "%-3d  %-18s SCR \r", (int)(size % 1000), quoted);
            ++listed;
        }

        if (!d64_next_dir_entry(image, &pos, &entry))
            break;
        if (pos.index == 0) {
            int key = pos.track * 100 + pos.sector;
            auto it = std::lower_bound(visited.begin(), visited.end(), key, [](int a, int b) {
                return int_sort_function(GINT_TO_POINTER(a), GINT_TO_POINTER(b)) < 0;
            });
            if (it != visited.end() && *it == key) {
                *loop = 1;
                break;
            }
            visited.insert(it, key);
        }
        if (--budget == 0)
            break;
    }

    unsigned free_blocks;
    d64_count_free_sectors(image, &free_blocks);
    g_string_append_printf(text, "%u BLOCKS FREE.\r", free_blocks);
    return listed + 2;
}

namespace {

std::string petscii_readable(unsigned char c)
{
    if (c >= 0x20 && c <= 0x5B)
        return std::string(1, (char)c);
    switch (c) {
    case 0x5C: return "\xC2\xA3";      // pound sign
    case 0x5D: return "]";
    case 0x5E: return "\xE2\x86\x91";  // up arrow
    case 0x5F: return "\xE2\x86\x90";  // left arrow
    case 0xA0: return " ";             // shifted space
    case 0xFF: return "\xCF\x80";      // pi
    }
    if (c >= 0x61 && c <= 0x7A)
        return std::string(1, (char)(c - 0x61 + 'a'));
    if (c >= 0xC1 && c <= 0xDA)
        return std::string(1, (char)(c - 0xC1 + 'a'));
    if (c < 0x20 || (c >= 0x80 && c < 0xA0))
        return "";  // control codes (reverse on, colours) print nothing
    return "?";
}

}  // namespace

std::string d64_petscii_readable(const char *petscii)
{
    std::string out;
    for (const char *p = petscii; *p; p++)
        out += petscii_readable((unsigned char)*p);
    return out;
}
