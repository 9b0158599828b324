// Shared declarations of the Dravlen device simulator.  The simulator plays
// the board and its drives over a pseudo-terminal; it is independent of the
// client's code on purpose, so a misreading cannot be shared by both sides.
#ifndef DRAVLEN_SIM_H
#define DRAVLEN_SIM_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <csignal>
#include <string>
#include <utility>
#include <vector>

typedef std::vector<uint8_t> bytes;
typedef std::vector<uint8_t> bitvec;  // one element per bit, 0 or 1

// ---------------------------------------------------------------- options
struct sim_options {
  std::string link;
  std::string bootloader_link;
  std::string flash_out;
  std::string log_path;
  std::string version = "2.4.0";  // what the client carries: judged "current"
  std::string garbage;
  bool old_firmware = false;
  bool drive_timing = false;
  std::set<std::pair<int, int>> corrupt;
  std::set<std::pair<int, int>> drop;
  std::set<int> no_sector_tracks;
  // Successive reads of a block (whole-disk pass or single-sector read) see
  // these D64 error codes in turn; the last one repeats.
  std::map<std::pair<int, int>, std::vector<int>> sequence;
  // The whole-disk pass sends this block with another sector number.
  std::map<std::pair<int, int>, int> sector_number;
  // A single-sector read of this block answers with that other sector of
  // the track, data and number.
  std::map<std::pair<int, int>, int> reply_sector;
  // Blocks written damaged: they read back with a checksum error.
  std::set<std::pair<int, int>> write_fault;
  int corrupt_random = 0;
  unsigned seed = 1;
  long long silent_after = -1;
  long long hangup_after = -1;
  long trickle_us = 0;  // every byte sent this long after the one before
  std::map<std::string, std::string> answers;
  std::set<std::string> wrong_echo;
  std::string drive_file[12];
  std::string save_file[12];
  bool blank[12] = {};
  // --next-disk: disks queued per drive, put in one by one on SIGUSR1.
  std::vector<std::pair<int, std::string>> next_disks;
};
extern sim_options opt;
extern volatile int flag_quit;
// Disk swaps asked for (SIGUSR1) and not yet made.
extern volatile sig_atomic_t pending_swaps;
// Puts the next queued disk into its drive for each swap asked for; the one
// taken out is saved first when --save names a file for that drive.
void device_apply_swaps();

// ---------------------------------------------------------------- geometry
int geo_sectors(int track);      // 1541 zones, tracks 1 to 42
int geo_first_block(int track);  // block index of sector 0 of the track
int geo_blocks(int tracks);      // blocks on a disk of that many tracks
int geo_valid(int tracks, int t, int s);

// ---------------------------------------------------------------- disk
struct disk_image {
  int tracks = 35;
  bytes data;               // 256 bytes per block, room for 42 tracks
  bytes errors;             // D64 error code per block (1 = fine)
  bool error_info = false;  // the source carried error info
  std::vector<bytes> raw;   // raw GCR per track from a G64; empty = rebuild from blocks
  int status_code = 73;     // drive error channel
  std::string status_text = "CBM DOS V2.6 1541";
  int status_track = 0, status_sector = 0;
};

int disk_load(disk_image *d, const std::string &path, std::string *err);
int disk_save_d64(const disk_image *d, const std::string &path);
void disk_init_blank(disk_image *d, int tracks);
void disk_set_tracks(disk_image *d, int tracks);
uint8_t *disk_block(disk_image *d, int t, int s);
uint8_t disk_error(const disk_image *d, int t, int s);
void disk_set_error(disk_image *d, int t, int s, uint8_t code);
// A block was rewritten: drop the raw track so it is rebuilt from the blocks.
void disk_touch(disk_image *d, int t);
void disk_set_status(disk_image *d, int code, const char *text, int t = 0, int s = 0);
std::string disk_status_line(const disk_image *d);

struct g64_sector {
  int sector;
  int header_ok;        // header GCR and checksum fine
  long data_bit;        // bit offset of the data block (its 0x07 marker), -1 if none
};
// Headers of one raw track in the order they pass the head, for track t.
std::vector<g64_sector> g64_scan_track(const bytes &raw, int t, bitvec *bits_twice);

// ---------------------------------------------------------------- GCR and warp packets
extern const uint8_t gcr_code_of[16];
void gcr_append(bitvec *bits, const uint8_t *data, size_t n);
int gcr_decode(const bitvec &bits, size_t pos, uint8_t *out, size_t n);  // invalid codes met
void bits_from_bytes(const uint8_t *b, size_t n, bitvec *bits);
uint8_t bus_from_value(uint8_t v);
uint8_t value_from_bus(uint8_t r);

// Builds an incoming packet for disk block t/s.  0 when the drive would find
// no sector there.  End-of-track flag and checksum are set by packet_finish.
int packet_for_sector(disk_image *d, int t, int s, uint8_t out[324]);
// The same from the block data, read as if its error code were `err`.
int packet_for_block(disk_image *d, int t, int s, uint8_t err, uint8_t out[324]);
void packet_set_sector_number(uint8_t out[324], int sector);
void packet_no_sector(uint8_t out[324]);
void packet_finish(uint8_t p[324], int eot, int corrupt);
// Outgoing packet from the client: 1 when it is well-formed.
int packet_decode_outgoing(const uint8_t p[324], uint8_t data[256], int *gcr_bad, int *checksum_bad);
// Sectors of track t in the order a read pass meets them.
std::vector<int> track_read_order(disk_image *d, int t);

// ---------------------------------------------------------------- DOS
void dos_format(disk_image *d, const std::string &name, const std::string &id, int tracks, int full);
int dos_blocks_free(disk_image *d);
bytes dos_directory_program(disk_image *d);
// Whether the drive can read the BAM (and the whole directory chain): 0, or
// the DOS error, which is also put on the error channel with its sector.
int dos_check_bam(disk_image *d);
int dos_check_directory(disk_image *d);
int dos_find_file(disk_image *d, const std::string &pattern, int *dir_t, int *dir_s, int *slot);
int dos_read_file(disk_image *d, const std::string &pattern, bytes *out);  // DOS error code
int dos_check_write(disk_image *d, const std::string &name, size_t size);  // DOS error code
int dos_write_file(disk_image *d, const std::string &name, const bytes &content);
int dos_command(disk_image *d, const std::string &cmd, int tracks_hint);  // DOS error code
const char *dos_error_text(int code);

// ---------------------------------------------------------------- link (device port)
int link_setup(std::string *client_path);
int link_client_present();
int link_wait_open();  // 1 when a client opened the port, 0 on quit
int link_read(void *buf, size_t n);
int link_write(const void *buf, size_t n);
int link_write_str(const std::string &s);
// The monitor's line buffer: 256 bytes with the closing CR LF.
const size_t LINE_BUFFER_CHARS = 254;
int link_read_line(std::string *line, int *too_long);
int link_hung_up();
void link_end_session();  // discards what the client left unread
void link_close();

// ---------------------------------------------------------------- device monitor
void device_init();
void device_session();  // serves one client connection
void device_save_all();
extern disk_image *drives[12];

// ---------------------------------------------------------------- bootloader
int boot_start(const std::string &link, std::string *port);
// Makes the bootloader port appear at the link given to boot_start (on "j").
int boot_appear();
void boot_stop();
void boot_write_flash();

// pty helper shared by both ports
int pty_open_raw(int *master, std::string *slave_path);
void sleep_us(long us);
#endif
