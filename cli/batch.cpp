// The batch read's reports: a line per disk, the same-disk warning and the
// closing table.
#include "cli/batch.h"

#include "image/damage.h"

#include "cli/cli.h"
#include "image/d64.h"
#include "image/directory.h"

#include <cstdio>
#include <cstring>

namespace {

const char *status_word(const cli_batch_disk &d)
{
    switch (d.status) {
    case CLI_EXIT_OK:
        return "clean";
    case CLI_EXIT_SECTOR_ERRORS:
        return "saved with errors";
    case CLI_EXIT_INTERRUPTED:
        return "interrupted";
    default:
        return "failed";
    }
}

// Pads UTF-8 text to `width` characters (names hold a few non-ASCII signs).
std::string padded(const std::string &text, int width)
{
    long shown = g_utf8_strlen(text.c_str(), -1);
    return text + std::string(shown < width ? width - shown : 0, ' ');
}

}  // namespace

void cli_batch_disk_done(cli_batch *batch, cli_batch_disk disk, bool saved)
{
    if (saved) {
        char name[17], id[6];
        d64_get_diskname(d64_storage, name);
        d64_get_diskid(d64_storage, id);
        id[2] = 0;  // the ID proper; the DOS type follows it
        // Without the padding (shifted spaces) after the name.
        disk.name = cli_petscii_text(name);
        disk.name.erase(disk.name.find_last_not_of(' ') + 1);
        disk.id = cli_petscii_text(id);
        damage_report report;
        damage_report_make(d64_storage, 1, &report);
        disk.damaged = report.damaged;
        const unsigned char *image = d64_storage;
        std::vector<unsigned char> now(image, image + d64_base_size + d64_block_error_info_size);
        disk.same_as_previous = now == batch->previous_image;
        batch->previous_image.swap(now);
        fprintf(stderr, "disk %d: \"%s\" %s: %d good, %s, %s\n", disk.number, disk.name.c_str(),
                disk.id.c_str(), disk.good, cli_count(disk.bad, "bad sector", "bad sectors").c_str(),
                cli_count(disk.damaged, "damaged file", "damaged files").c_str());
        if (disk.same_as_previous)
            fprintf(stderr, "%s: warning: disk %d reads exactly as disk %d: was the disk changed?\n",
                    cli_program_name, disk.number, disk.number - 1);
    }
    batch->disks.push_back(disk);
}

void cli_batch_print_summary(const cli_batch *batch)
{
    fprintf(stderr, "\n%s read:\n", cli_count((long)batch->disks.size(), "disk", "disks").c_str());
    fprintf(stderr, "disk  file          name              id     good   bad  damaged  result\n");
    for (const cli_batch_disk &d : batch->disks) {
        std::string result = status_word(d);
        if (d.same_as_previous)
            result += ", same as disk " + std::to_string(d.number - 1);
        if (d.file.empty()) {
            fprintf(stderr, "%4d  %-12s  %-16s  %-5s  %5s  %4s  %7s  %s\n", d.number, "-", "-",
                    "-", "-", "-", "-", result.c_str());
            continue;
        }
        fprintf(stderr, "%4d  %s  %s  %s  %5d  %4d  %7d  %s\n", d.number,
                padded(d.file, 12).c_str(), padded(d.name, 16).c_str(), padded(d.id, 5).c_str(),
                d.good, d.bad, d.damaged, result.c_str());
    }
}
