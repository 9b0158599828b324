#include "image/merge.h"

#include <glib.h>

#include <cstring>

#include "image/d64.h"
#include "image/directory.h"

namespace {

// The header fields that tell disks apart: the disk name, and the ID with
// the DOS type after it.
bool same_header(const uint8_t *a, const uint8_t *b)
{
    const uint8_t *ha = a + d64_sector_offset(D64_DIR_TRACK, 0);
    const uint8_t *hb = b + d64_sector_offset(D64_DIR_TRACK, 0);
    return memcmp(ha + D64_BAM_DISKNAME_OFFSET, hb + D64_BAM_DISKNAME_OFFSET, 16) == 0 &&
           memcmp(ha + D64_BAM_DISKID_OFFSET, hb + D64_BAM_DISKID_OFFSET, 5) == 0;
}

bool header_was_read(const uint8_t *image)
{
    int code = d64_get_block_error_info(image, D64_DIR_TRACK, 0);
    return code == D64_ERR_OK || code == D64_ERR_CHECKSUM;
}

// Byte-wise majority of the reads into out; the earliest read wins a tie.
// Returns the bytes on which the reads were not unanimous.
int vote(const std::vector<const uint8_t *> &reads, uint8_t *out)
{
    int split = 0;
    for (int i = 0; i < 256; i++) {
        int best_count = 0;
        uint8_t best = reads[0][i];
        bool unanimous = true;
        for (size_t r = 0; r < reads.size(); r++) {
            uint8_t v = reads[r][i];
            unanimous = unanimous && v == reads[0][i];
            int count = 0;
            for (const uint8_t *other : reads)
                count += other[i] == v;
            if (count > best_count) {
                best_count = count;
                best = v;
            }
        }
        out[i] = best;
        split += !unanimous;
    }
    return split;
}

std::string ts(int track, int sector)
{
    char text[16];
    g_snprintf(text, sizeof text, "%2d/%-2d", track, sector);
    return text;
}

}  // namespace

int merge_same_disk(const merge_result &result)
{
    return result.other_header < 0 && result.disagreements.empty();
}

void merge_dumps(const std::vector<const uint8_t *> &images, merge_result *result)
{
    *result = merge_result{};
    result->other_header = -1;
    const size_t size = (size_t)(d64_base_size + d64_block_error_info_size);
    result->image.assign(images[0], images[0] + size);
    uint8_t *out = result->image.data();

    int header_ref = -1;
    for (size_t i = 0; i < images.size() && result->other_header < 0; i++) {
        if (!header_was_read(images[i]))
            continue;
        if (header_ref < 0)
            header_ref = (int)i;
        else if (!same_header(images[header_ref], images[i]))
            result->other_header = (int)i;
    }

    std::vector<const uint8_t *> checksum_reads;
    for (int t = 1; t <= D64_MAX_TRACKS && start_sector_of_track[t] < d64_block_error_info_size; t++)
        for (int s = 0; s < d64_sectors_of_track(t); s++) {
            int best = 0, first_good = -1;
            int best_merit = -1;
            checksum_reads.clear();
            for (size_t i = 0; i < images.size(); i++) {
                int code = d64_get_block_error_info(images[i], t, s);
                int merit = d64_error_merit(code);
                const uint8_t *data = images[i] + d64_sector_offset(t, s);
                if (merit > best_merit) {
                    best_merit = merit;
                    best = (int)i;
                }
                if (code == D64_ERR_CHECKSUM)
                    checksum_reads.push_back(data);
                if (code != D64_ERR_OK)
                    continue;
                if (first_good < 0)
                    first_good = (int)i;
                else if (memcmp(images[first_good] + d64_sector_offset(t, s), data, 256) != 0)
                    result->disagreements.push_back(
                        merge_disagreement{(uint8_t)t, (uint8_t)s, first_good, (int)i});
            }
            uint8_t *to = out + d64_sector_offset(t, s);
            int code = d64_get_block_error_info(images[best], t, s);
            if (code == D64_ERR_CHECKSUM && checksum_reads.size() >= 3) {
                int split = vote(checksum_reads, to);
                result->majority.push_back(
                    merge_vote{(uint8_t)t, (uint8_t)s, (int)checksum_reads.size(), split});
                result->source.push_back(-1);
            } else {
                memcpy(to, images[best] + d64_sector_offset(t, s), 256);
                result->source.push_back(best);
            }
            d64_set_block_error_info(out, t, s, (uint8_t)code);
            result->sectors_good += code == D64_ERR_OK;
            result->sectors_bad += d64_is_accessible_error(code);
        }
}

void merge_log_lines(const merge_result &result, const std::vector<std::string> &names,
                     std::vector<std::string> *lines)
{
    lines->push_back("Merging " + std::to_string(names.size()) + " dumps by the merit of each read");
    std::vector<int> taken(names.size(), 0);
    for (int from : result.source)
        if (from >= 0 && from < (int)names.size())
            taken[from]++;
    for (size_t i = 0; i < names.size(); i++)
        lines->push_back("Dump " + std::to_string(i + 1) + ": " + names[i] + ": " +
                         std::to_string(taken[i]) + " sectors taken");
    if (result.other_header >= 0)
        lines->push_back("Dump " + std::to_string(result.other_header + 1) +
                         " has another disk name or ID in its header sector");
    for (const merge_disagreement &d : result.disagreements)
        lines->push_back("Good reads of t/s " + ts(d.track, d.sector) + " disagree: dumps " +
                         std::to_string(d.first + 1) + " and " + std::to_string(d.second + 1));
    for (const merge_vote &v : result.majority)
        lines->push_back("t/s " + ts(v.track, v.sector) + ": byte-wise majority of " +
                         std::to_string(v.reads) + " checksum-failed reads (" +
                         std::to_string(v.split_bytes) +
                         " bytes split), still marked as checksum failed");
    lines->push_back("Merged: " + std::to_string(result.sectors_good) + " sectors good, " +
                     std::to_string(result.sectors_bad) + " with errors");
}
