// Which files of a disk image its sector errors touch: every file of the
// directory with its block chain, the blocks that did not read clean, and
// where an unreadable sector cuts the chain; the state of the header (BAM)
// and directory sectors.  Reads the image only; results go to the caller's
// structures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One sector and its error byte.
struct damage_block {
    uint8_t track;
    uint8_t sector;
    uint8_t code;
};

// How a walk along links ended.
enum damage_chain_end {
    DAMAGE_CHAIN_WHOLE,       // a last block (link track 0) ended it
    DAMAGE_CHAIN_UNREADABLE,  // at a sector that holds no read data: its link is unknown
    DAMAGE_CHAIN_BAD_LINK,    // a link names no sector of the disk
    DAMAGE_CHAIN_LOOP,        // a link leads back into the chain
    DAMAGE_CHAIN_NOT_READ,    // at a sector a partial dump did not read: no damage
};

struct damage_file {
    int entry;                // 1-based position in the directory
    char name[17];            // PETSCII, zero rule applied
    uint8_t type;             // the raw type byte
    unsigned blocks;          // the directory entry's block count
    std::vector<damage_block> chain;  // blocks followed, in chain order
    std::vector<damage_block> bad;    // those of them whose error byte is not 0x01
    damage_chain_end end;
    damage_block end_at;      // the sector whose data or link ended the walk early
    int unknown;              // blocks counted by the entry beyond those followed
};

struct damage_report {
    uint8_t bam_code;                     // error byte of 18/0
    std::vector<damage_block> directory;  // directory sectors followed, in order
    damage_chain_end directory_end;
    damage_block directory_end_at;
    std::vector<damage_file> files;       // every file of the directory, in its order
    int damaged;                          // files with bad blocks or a cut chain
};

// 1 when the sector's error byte says its bytes came off the disk (good,
// checksum failed, GCR failed): then its link may be followed.
int damage_code_has_data(int code);

// 1 when the file has a bad block or its chain does not end normally.
int damage_file_is_damaged(const damage_file &file);

// The report of an image (data followed by one error byte per sector, as
// d64_storage holds it).  Files are every non-scratched entry; a chain is
// followed through sectors with data, and cut at the first one without.
// whole_disk 0 (a partial dump): a sector not read (0x03) ends a walk
// without counting as damage, since the dump left it out on purpose.
void damage_report_make(const uint8_t *image, int whole_disk, damage_report *report);

// The report as text lines without line ends: the BAM and directory state,
// one line per damaged file, and a closing count.  Names are shown readable.
void damage_report_lines(const damage_report &report, std::vector<std::string> *lines);

// The file's name as a listing shows it (padding cut), readable.
std::string damage_file_name(const damage_file &file);

// One damaged file as a line ("\"NAME\" PRG, 12 blocks: bad 17/3 (0x05); chain
// broken at 17/3: 8 blocks unknown").
std::string damage_file_line(const damage_file &file);
