#include "image/damage.h"

#include <glib.h>

#include <bitset>

#include "image/d64.h"
#include "image/directory.h"
#include "image/listing.h"

namespace {

damage_block block_at(const uint8_t *image, int track, int sector)
{
    return damage_block{(uint8_t)track, (uint8_t)sector,
                        (uint8_t)d64_get_block_error_info(image, track, sector)};
}

const uint8_t *data_of(const uint8_t *image, int track, int sector)
{
    return image + d64_sector_offset(track, sector);
}

// Walks links from track/sector: each sector is taken, then its link
// followed while the sector holds data, the link names a sector of the disk,
// the chain has not been there and `more(link track)` allows.  Returns how
// the walk ended; *end_at is the sector that ended it early.
template <typename More>
damage_chain_end walk(const uint8_t *image, int whole_disk, int track, int sector,
                      std::vector<damage_block> *out, damage_block *end_at, More more)
{
    std::bitset<D64_MAX_SECTORS> seen;
    for (;;) {
        damage_block b = block_at(image, track, sector);
        int index = start_sector_of_track[track] + sector;
        if (seen[index]) {
            *end_at = out->back();
            return DAMAGE_CHAIN_LOOP;
        }
        seen[index] = true;
        if (!whole_disk && b.code == D64_ERR_NO_SYNC) {
            *end_at = b;
            return DAMAGE_CHAIN_NOT_READ;
        }
        out->push_back(b);
        if (!damage_code_has_data(b.code)) {
            *end_at = b;
            return DAMAGE_CHAIN_UNREADABLE;
        }
        const uint8_t *data = data_of(image, track, sector);
        if (data[0] == 0 || !more(data[0]))
            return DAMAGE_CHAIN_WHOLE;
        if (!d64_are_track_and_sector_valid(data[0], data[1])) {
            *end_at = b;
            return DAMAGE_CHAIN_BAD_LINK;
        }
        track = data[0];
        sector = data[1];
    }
}

const char *code_text(int code)
{
    switch (code) {
    case D64_ERR_OK: return "good";
    case D64_ERR_CHECKSUM: return "checksum failed";
    case D64_ERR_GCR: return "GCR failed";
    case D64_ERR_NO_SYNC: return "not read";
    case D64_ERR_INACCESSIBLE: return "not accessible";
    default: return "error";
    }
}

std::string ts(const damage_block &b)
{
    return std::to_string(b.track) + "/" + std::to_string(b.sector);
}

std::string plural(int n, const char *one, const char *many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

int damage_code_has_data(int code)
{
    return code == D64_ERR_OK || code == D64_ERR_CHECKSUM || code == D64_ERR_GCR;
}

int damage_file_is_damaged(const damage_file &file)
{
    return !file.bad.empty() ||
           (file.end != DAMAGE_CHAIN_WHOLE && file.end != DAMAGE_CHAIN_NOT_READ);
}

void damage_report_make(const uint8_t *image, int whole_disk, damage_report *report)
{
    *report = damage_report{};
    report->bam_code = (uint8_t)d64_get_block_error_info(image, D64_DIR_TRACK, 0);
    // The directory stays on its track: a link elsewhere ends it as the
    // drive's own walk does.
    report->directory_end =
        walk(image, whole_disk, D64_DIR_TRACK, 1, &report->directory, &report->directory_end_at,
             [](int link_track) { return link_track == D64_DIR_TRACK; });

    int entry_number = 0;
    for (const damage_block &dir : report->directory) {
        if (!damage_code_has_data(dir.code))
            break;
        const uint8_t *sector = data_of(image, dir.track, dir.sector);
        for (int i = 0; i < D64_DIR_ENTRIES_PER_SECTOR; i++) {
            const uint8_t *e = sector + i * D64_DIR_ENTRY_SIZE;
            entry_number++;
            if (e[D64_ENTRY_TYPE] == 0)
                continue;
            damage_file f{};
            f.entry = entry_number;
            d64_get_filename(e, f.name);
            f.type = e[D64_ENTRY_TYPE];
            d64_get_file_size_sectors(e, &f.blocks);
            int t, s;
            if (!d64_get_file_first_track_and_sector(e, &t, &s)) {
                f.end = DAMAGE_CHAIN_BAD_LINK;
                f.end_at = dir;
            } else {
                f.end = walk(image, whole_disk, t, s, &f.chain, &f.end_at, [](int) { return true; });
            }
            for (const damage_block &b : f.chain)
                if (b.code != D64_ERR_OK)
                    f.bad.push_back(b);
            if (damage_file_is_damaged(f) && f.end != DAMAGE_CHAIN_WHOLE &&
                f.blocks > f.chain.size())
                f.unknown = (int)(f.blocks - f.chain.size());
            report->damaged += damage_file_is_damaged(f);
            report->files.push_back(std::move(f));
        }
    }
}

std::string damage_file_name(const damage_file &file)
{
    char listed[17];
    d64_normalize_listing_name((const uint8_t *)file.name, 16, listed);
    return d64_petscii_readable(listed);
}

std::string damage_file_line(const damage_file &f)
{
    std::string name = damage_file_name(f);
    std::string line = "\"" + name + "\" " + filetypedescriptors[(f.type & 0x3F) % 5] + ", " +
                       plural((int)f.blocks, "block", "blocks");
    const char *sep = ": ";
    if (!f.bad.empty()) {
        line += sep;
        line += "bad ";
        for (size_t i = 0; i < f.bad.size(); i++) {
            char code[8];
            g_snprintf(code, sizeof code, "0x%02X", f.bad[i].code);
            line += (i ? ", " : "") + ts(f.bad[i]) + " (" + code + ")";
        }
        sep = "; ";
    }
    switch (f.end) {
    case DAMAGE_CHAIN_WHOLE:
    case DAMAGE_CHAIN_NOT_READ:
        return line;
    case DAMAGE_CHAIN_UNREADABLE:
        line += sep + std::string("chain broken at ") + ts(f.end_at);
        break;
    case DAMAGE_CHAIN_BAD_LINK:
        line += sep + std::string("bad link in ") + ts(f.end_at);
        break;
    case DAMAGE_CHAIN_LOOP:
        line += sep + std::string("chain loops at ") + ts(f.end_at);
        break;
    }
    return line + ": " + plural(f.unknown, "block", "blocks") + " unknown";
}

void damage_report_lines(const damage_report &r, std::vector<std::string> *lines)
{
    char code[8];
    g_snprintf(code, sizeof code, "0x%02X", r.bam_code);
    lines->push_back(r.bam_code == D64_ERR_OK
                         ? std::string("BAM 18/0: good")
                         : std::string("BAM 18/0: ") + code_text(r.bam_code) + " (" + code + ")");

    if (r.directory.empty()) {
        lines->push_back("Directory 18/1: not read");
        return;
    }
    std::string dir = "Directory " + ts(r.directory.front());
    if (r.directory.size() > 1)
        dir += " to " + ts(r.directory.back());
    int bad = 0;
    std::string bad_list;
    for (const damage_block &b : r.directory) {
        if (b.code == D64_ERR_OK)
            continue;
        g_snprintf(code, sizeof code, "0x%02X", b.code);
        bad_list += (bad++ ? ", " : "") + ts(b) + " " + code_text(b.code) + " (" + code + ")";
    }
    dir += bad ? ": " + bad_list : std::string(": good");
    if (r.directory_end == DAMAGE_CHAIN_UNREADABLE)
        dir += "; entries after " + ts(r.directory_end_at) + " unknown";
    else if (r.directory_end == DAMAGE_CHAIN_BAD_LINK)
        dir += "; bad link in " + ts(r.directory_end_at);
    else if (r.directory_end == DAMAGE_CHAIN_LOOP)
        dir += "; chain loops at " + ts(r.directory_end_at);
    lines->push_back(dir);

    for (const damage_file &f : r.files)
        if (damage_file_is_damaged(f))
            lines->push_back(damage_file_line(f));
    lines->push_back(r.damaged ? plural(r.damaged, "damaged file", "damaged files") + " of " +
                                     std::to_string(r.files.size())
                               : std::string("No damaged files"));
}
