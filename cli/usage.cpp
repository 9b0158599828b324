// The subcommand table and the help texts.
#include "cli/cli.h"

#include <cstring>

#define COMMON_OPTIONS                                                                  \
    "  --port PATH     the board's serial port (default: the port set in the\n"         \
    "                  Dravlen client's settings; they are only read, never written)\n" \
    "  --timeout SECONDS  how long the board may stay silent before the operation\n"  \
    "                  fails (default 10; drive commands and writes, which may\n"      \
    "                  format the disk first, get 9 times as long)\n"               \
    "  --json          print one JSON summary object on stdout instead of text\n"       \
    "  -v, --verbose   also print the operation's log lines on stderr\n"               \
    "  --tracks 35|40  run the build for that track count (dravlen or dravlen40)\n"    \
    "  -h, --help      show this help and exit\n"

#define DRIVE_OPTION                                                                     \
    "  --drive N       the drive's device number, 8 to 11 (default: the drive\n"         \
    "                  selected in the Dravlen client)\n"

// After a read, dump or re-read: the damage report, then the sector map.
#define NO_MAP_OPTION                                                                     \
    "  --no-map        no sector map at the end (the damage report stays)\n"

#define OFFLINE_OPTIONS                                                                   \
    "  --json          print one JSON summary object on stdout instead of text\n"        \
    "  --tracks 35|40  run the build for that track count (dravlen or dravlen40)\n"     \
    "  -h, --help      show this help and exit\n"

#define EXIT_STATUS                                                        \
    "\nExit status: 0 done; 1 failed; 2 usage error; 130 interrupted (Ctrl+C\n" \
    "aborts the operation and closes the port).\n"

const cli_subcommand cli_subcommands[] = {
    {"info", "show the port, the board's firmware version and the drives that answer",
     "Usage: dravlen info [OPTIONS]\n"
     "\n"
     "Shows the serial port used, the firmware version of the board with a\n"
     "verdict against the firmware this program carries (current, should upgrade,\n"
     "should downgrade), and which of the drives 8 to 11 answer on the serial bus,\n"
     "each with the message on its error channel.  Reading a drive's error\n"
     "channel clears it.  A build that carries only the test image says so\n"
     "(\"carried\": null in JSON).\n"
     "\n"
     "Options:\n" COMMON_OPTIONS EXIT_STATUS,
     cli_run_info, 0, 0, false, false, false, false},
    {"status", "read a drive's error channel",
     "Usage: dravlen status [OPTIONS]\n"
     "\n"
     "Reads the error channel of the drive and prints its message as the drive\n"
     "sends it, for example \"00, OK,00,00\" or \"21,READ ERROR,18,00\".  Reading the\n"
     "channel clears it.\n"
     "\n"
     "Options:\n" DRIVE_OPTION COMMON_OPTIONS EXIT_STATUS,
     cli_run_status, 0, 0, true, false, false, false},
    {"command", "send a DOS command to a drive and print its answer",
     "Usage: dravlen command [OPTIONS] TEXT\n"
     "\n"
     "Sends TEXT to the drive as a DOS command over its command channel, then\n"
     "reads the drive's error channel and prints its message, also when the\n"
     "drive refused the command (the message then says why).  The drive reads\n"
     "the text as PETSCII, so DOS commands are written in capitals, for example\n"
     "\"I0\" (initialise), \"V0\" (validate) or \"S:NAME\" (scratch).  TEXT is one\n"
     "line without quotes.\n"
     "\n"
     "Options:\n" DRIVE_OPTION COMMON_OPTIONS
     "\nExit status: 0 done; 1 failed, also when the drive refused the command;\n"
     "2 usage error, also for a TEXT that cannot be sent; 130 interrupted.\n",
     cli_run_command, 1, 1, true, false, false, false},
    {"read", "image a whole disk into a D64 file, or a batch of disks",
     "Usage: dravlen read [OPTIONS] [FILE.d64]\n"
     "       dravlen read --batch [OPTIONS]\n"
     "\n"
     "Images the disk in the drive: one fast pass streams every track, then the\n"
     "sectors that came with errors are read again one by one, as often as\n"
     "--retries says (no re-reads when there are more errors than --max-errors,\n"
     "when nothing on the disk had sync, or when the directory link looks\n"
     "wrong).  The image is then checked: tracks read a few positions off (the\n"
     "question whether to shift them back), files on tracks the drive could not\n"
     "reach, files beyond track 35, a disk that looks like side B of a 1571 disk.\n"
     "\n"
     "The D64 file gets the error byte of every sector appended when any sector\n"
     "was not read cleanly; beside it go FILE.d64.log (what happened) and, with\n"
     "--md5, FILE.d64.md5.  Without FILE the name is made as the Dravlen\n"
     "client's automatic naming makes it (0001a.d64, or 0001A_DISKNAME.D64 with\n"
     "the client's naming settings), in the current folder.  Every file is\n"
     "written under a temporary name and renamed when complete.\n"
     "\n"
     "Where the image goes is settled before the drive is touched: the folder\n"
     "must take files, FILE must be a regular file or absent, and an existing\n"
     "FILE is replaced only with --overwrite or a yes on the terminal (without\n"
     "one: nothing is read).  A taken automatic name moves on to the next free\n"
     "one, and the program says so.  A name that turns out to be taken only\n"
     "after the read (one made from the disk name) keeps the read under a free\n"
     "name with a numbered suffix (NAME-1.d64), and the program says which.\n"
     "\n"
     "Nothing read is thrown away.  Ctrl+C (or SIGTERM, SIGHUP) or a failure\n"
     "in the re-read phase stops the retries and saves the image with its\n"
     "error info.  Cut short in the fast pass, what arrived is kept as\n"
     "NAME.partial.d64 (never over a file), the rest marked not read, and the\n"
     "program says how to read what is missing: dravlen reread --max-errors N\n"
     "NAME.partial.d64.  A second Ctrl+C before the first is acted on keeps\n"
     "nothing.\n"
     "\n"
     "Questions (replace an existing file? shift the tracks?) are asked on the\n"
     "terminal when standard input is one; otherwise the answer is no.\n"
     "Progress goes to standard error: a live line with the track, the sectors\n"
     "read and the error count on a terminal, one line per track otherwise.\n"
     "At the end come the damage report (the BAM and directory sectors, and\n"
     "every file whose blocks did not read cleanly or whose chain an unreadable\n"
     "sector breaks) and the sector map (see \"dravlen map --help\").\n"
     "\n"
     "With --batch, after each disk the program prints \"Insert the next disk and\n"
     "press Enter (q to stop)\" and reads a line from standard input; q or the\n"
     "end of input stops.  Every disk is named automatically, stepping 0001A,\n"
     "0001B, 0002A, ... from --offset and --side.  After each disk one line\n"
     "gives its name, ID, good and bad sectors and damaged files; a disk that\n"
     "reads exactly as the one before it is warned about (it was probably not\n"
     "changed), and a table of all disks ends the batch.\n"
     "\n"
     "Options:\n"
     "  --retries N     attempts per faulty sector in the re-read phase, 0 for\n"
     "                  none (default: the client's setting)\n"
     "  --max-errors N  no re-read phase when the pass left more errors than N\n"
     "                  (default: the client's setting)\n"
     "  --first-track N the outermost track the drive can read, 1 to 5; tracks\n"
     "                  outside it are marked inaccessible (default: the client's)\n"
     "  --pre-init      have the drive initialise the disk before reading\n"
     "  --side a|b      side letter of the automatic name (default: a)\n"
     "  --offset N      number of the automatic name, 1 to 9999 (default: 1)\n"
     "  --overwrite     replace an existing file without asking\n"
     "  --md5           also write FILE.d64.md5 with the image's MD5 digest\n"
     "  --batch         read disk after disk, as above\n" NO_MAP_OPTION DRIVE_OPTION COMMON_OPTIONS
     "\nWith --json the summary object holds the files written, the sectors good\n"
     "and bad, each bad one as {track, sector, code} with its D64 error code, and\n"
     "the elapsed time, and the damaged files under \"damaged_files\" (with\n"
     "--batch, one entry per disk under \"disks\").\n"
     "\nExit status: 0 image saved, every sector read cleanly (also when Ctrl+C\n"
     "stopped the re-reads); 3 image saved with sector errors; 1 failed (what\n"
     "was read is kept as said above); 2 usage error; 130 interrupted in the\n"
     "fast pass (what arrived is kept as NAME.partial.d64).\n"
     "With --batch, the worst status of the disks read: 130 over 1 over 3 over 0;\n"
     "the disks saved before an interruption stay.\n",
     cli_run_read, 0, 1, true, false, false, true},
    {"dump", "dump the directory track, with first sectors, or the allocated sectors",
     "Usage: dravlen dump [OPTIONS] dir|dir-first|bam [FILE.d64]\n"
     "\n"
     "Reads part of the disk sector by sector into a D64 file; everything not\n"
     "read stays \"not read\" in the file's error info:\n"
     "  dir        the directory track (track 18) only\n"
     "  dir-first  the directory track, then the first sector of every PRG file\n"
     "             in the directory (in track order; the first BASIC line of\n"
     "             each is logged)\n"
     "  bam        the BAM sector, then every sector the BAM marks as allocated,\n"
     "             from the outermost track on (dravlen only: the 40-track build\n"
     "             does not decode the BAM)\n"
     "\n"
     "The D64 file gets the error byte of every sector; beside it go FILE.d64.log\n"
     "and, with --md5, FILE.d64.md5.  Without FILE the name is made as the\n"
     "Dravlen client's automatic naming makes it, with the dump's marker after\n"
     "the number (0001a_T18.d64, 0001a_T18+.d64, 0001a_BAM.d64; the client's\n"
     "settings can put the marker first, T18_0001a.d64, and add the disk name),\n"
     "in the current folder.  Files are written\n"
     "under a temporary name and renamed when complete, so an interrupted dump\n"
     "leaves no partial file and replaces nothing.  An existing file is replaced\n"
     "only with --overwrite or a yes on the terminal.\n"
     "\n"
     "Options:\n"
     "  --retries N     extra attempts per sector that does not read cleanly\n"
     "                  (default: the client's setting)\n"
     "  --first-track N the outermost track the drive can read, 1 to 5 (bam)\n"
     "  --side a|b      side letter of the automatic name (default: a)\n"
     "  --offset N      number of the automatic name, 1 to 9999 (default: 1)\n"
     "  --overwrite     replace an existing file without asking\n"
     "  --md5           also write FILE.d64.md5\n" NO_MAP_OPTION DRIVE_OPTION COMMON_OPTIONS
     "\nWith --json the summary object holds the files written, the sectors the\n"
     "dump read, good and bad, each bad one as {track, sector, code}, and the\n"
     "damaged files under \"damaged_files\".\n"
     "\nExit status: 0 saved, every sector the dump read is clean; 3 saved with\n"
     "errors in sectors the dump read; 1 failed (nothing saved); 2 usage error;\n"
     "130 interrupted (Ctrl+C aborts, closes the port and saves nothing).\n",
     cli_run_dump, 1, 2, true, false, false, true},
    {"reread", "read the faulty sectors of a D64 file again and update the file",
     "Usage: dravlen reread [OPTIONS] FILE.d64 [--tracks A-B]\n"
     "\n"
     "Loads FILE.d64 (with or without error info; a file without it counts as\n"
     "read cleanly), reads again from the disk in the drive every sector whose\n"
     "error byte says it was read with errors, keeping a new read only when it\n"
     "is better, and saves the image back over FILE.d64 with its error info.\n"
     "What happened is appended to FILE.d64-reread.log.  Sectors marked\n"
     "inaccessible are left alone.\n"
     "\n"
     "Without --tracks every track from the outermost one is looked at, and the\n"
     "image is checked as after a read (tracks a few positions off, files on\n"
     "tracks the drive cannot reach).  With --tracks A-B only tracks A to B are.\n"
     "More faulty sectors than --max-errors: nothing is read.\n"
     "\n"
     "The file is replaced in one step when the new image is complete: an\n"
     "interrupted or failed re-read leaves FILE.d64 as it was.  A symbolic link\n"
     "is followed: the file it points to is replaced.  The file is locked while\n"
     "the re-read runs, so a second re-read of it is refused; when something\n"
     "else changed it meanwhile, the result goes beside it as FILE-1.d64 (the\n"
     "first free number) and the file is kept.\n"
     "\n"
     "Before any sector is taken, the header sector of the disk in the drive\n"
     "is compared with the image's (disk name, ID and BAM, where both were read\n"
     "correctly): another disk is refused, naming both, unless --force.\n"
     "\n"
     "Options:\n"
     "  --tracks A-B    only tracks A to B (1 <= A <= B <= the track count)\n"
     "  --force         re-read the disk in the drive even when it is another\n"
     "                  disk than the image's\n"
     "  --retries N     attempts per faulty sector are N + 1 (default: the\n"
     "                  client's setting)\n"
     "  --max-errors N  refuse when more than N sectors have errors (default:\n"
     "                  the client's setting)\n"
     "  --first-track N the outermost track the drive can read, 1 to 5\n"
     "  --md5           also write FILE.d64.md5\n" NO_MAP_OPTION DRIVE_OPTION COMMON_OPTIONS
     "\nWith --json the summary object holds the files written and the sectors of\n"
     "the image good and bad, each bad one as {track, sector, code}, and the\n"
     "damaged files under \"damaged_files\".\n"
     "\nExit status: 0 the image has no sector errors (also when there was\n"
     "nothing to re-read); 3 it still has some; 1 failed (FILE.d64 unchanged);\n"
     "2 usage error; 130 interrupted (FILE.d64 unchanged).\n",
     cli_run_reread, 1, 1, true, false, false, false},
    {"ls", "list the directory of a D64 file, as dir lists a disk",
     "Usage: dravlen ls [OPTIONS] FILE.d64\n"
     "\n"
     "Prints the directory of the disk image FILE.d64 as \"dravlen dir\" prints\n"
     "the directory of a disk: the header line, a line per file, and the\n"
     "\"BLOCKS FREE.\" line.  Needs no board.\n"
     "\n"
     "Options:\n" OFFLINE_OPTIONS
     "\nExit status: 0 listed; 1 the file cannot be read or has the wrong size;\n"
     "2 usage error.\n",
     cli_run_ls, 1, 1, false, false, false, false, true},
    {"extract", "copy a file out of a D64 file, with what can be read of it",
     "Usage: dravlen extract [OPTIONS] FILE.d64 NAME [OUT]\n"
     "\n"
     "Writes the file NAME (as ls shows it) of the disk image FILE.d64 to OUT,\n"
     "by default NAME.prg (or .seq, .usr) in the current folder.  The blocks are\n"
     "followed from the directory entry; a file whose chain runs through sectors\n"
     "that did not read cleanly comes out with what was read, and the bad blocks\n"
     "are named on standard error.  A chain broken by an unreadable sector ends\n"
     "the file there.  An existing OUT is kept unless --overwrite is given.\n"
     "Needs no board.\n"
     "\n"
     "Options:\n"
     "  --overwrite     replace OUT if it exists\n" OFFLINE_OPTIONS
     "\nExit status: 0 the file came out whole and clean; 3 written, but with\n"
     "bad blocks or a broken chain; 1 failed (no such file, unreadable image);\n"
     "2 usage error.\n",
     cli_run_extract, 2, 3, false, false, false, true, true},
    {"map", "print the sector map and the damage report of a D64 file",
     "Usage: dravlen map [OPTIONS] FILE.d64\n"
     "\n"
     "Prints the sector map of the disk image FILE.d64, one column per track and\n"
     "one row per sector:\n"
     "  .  good                 C  checksum failed    G  GCR failed\n"
     "  -  no sync or not read  x  not accessible     ?  another error code\n"
     "then the damage report: the state of the BAM and directory sectors, and\n"
     "every file with bad blocks or a chain broken by an unreadable sector\n"
     "(\"chain broken at 17/3: 12 blocks unknown\").  A D64 without error info\n"
     "counts as read cleanly.  read, dump and reread end with the same.  Needs\n"
     "no board.\n"
     "\n"
     "Options:\n" OFFLINE_OPTIONS
     "\nExit status: 0 every sector is clean; 3 the image has sector errors;\n"
     "1 the file cannot be read or has the wrong size; 2 usage error.\n",
     cli_run_map, 1, 1, false, false, false, false, true},
    {"merge", "stack several dumps of one disk into its best image",
     "Usage: dravlen merge [OPTIONS] A.d64 B.d64 [C.d64 ...] -o OUT.d64\n"
     "\n"
     "Combines dumps of the same disk, each read failing in other places, into\n"
     "OUT.d64: per sector it keeps the best read, good over checksum failed over\n"
     "GCR failed over no sync, the first of equal ones.  When three or more\n"
     "dumps hold the sector only with a failed checksum, their byte-wise\n"
     "majority is kept; such a sector stays marked as a checksum error, and the\n"
     "log says so: nothing becomes good that no read proved good.\n"
     "\n"
     "Dumps of different disks (another disk name or ID in the header sector,\n"
     "or good sectors whose bytes differ) are refused, with the sectors that\n"
     "disagree, unless --force is given.  OUT.d64 gets error info when any\n"
     "sector is not clean, and OUT.d64.log beside it; both are written under a\n"
     "temporary name and renamed.  An existing OUT is kept unless --overwrite\n"
     "is given.  Needs no board.\n"
     "\n"
     "Options:\n"
     "  -o, --output OUT.d64  the merged image (required)\n"
     "  --force         merge even dumps that look like other disks\n"
     "  --overwrite     replace OUT.d64 if it exists\n" OFFLINE_OPTIONS
     "\nWith --json the summary object holds the files written, the sectors good\n"
     "and bad, the sectors voted on, the sectors that disagree, and the damaged\n"
     "files.\n"
     "\nExit status: 0 merged, every sector clean; 3 merged with sector errors;\n"
     "1 refused or failed (nothing written); 2 usage error.\n",
     cli_run_merge, 2, 64, false, false, false, true, true},
    {"reset", "reset a drive, or the whole serial bus",
     "Usage: dravlen reset [OPTIONS] [--bus]\n"
     "\n"
     "Resets the drive, as after switching it on; its error channel then holds\n"
     "the DOS version message.  With --bus the board instead resets the whole\n"
     "serial bus by holding its reset line low for a moment, which resets every\n"
     "drive on it.\n"
     "\n"
     "Options:\n"
     "  --bus           reset the serial bus instead of one drive\n" DRIVE_OPTION COMMON_OPTIONS
         EXIT_STATUS,
     cli_run_reset, 0, 0, true, true, false, false},
    {"write", "write a D64 image onto the disk in a drive",
     "Usage: dravlen write [OPTIONS] FILE.d64\n"
     "\n"
     "Writes the disk image FILE.d64 onto the disk in the drive, track by track:\n"
     "the board's drive code formats each track as it writes it, so every sector\n"
     "of tracks 1 to 35 (1 to 40 for dravlen40) is replaced, including sectors\n"
     "the image does not use; tracks beyond those are left as they are.  dravlen takes\n"
     "images of 35 tracks (174848 bytes, or 175531 with error info), dravlen40\n"
     "of 40 tracks (196608 or 197376 bytes).  An image whose error info marks\n"
     "any sector as not read correctly is refused: the disk would not come out\n"
     "equal to the image.\n"
     "\n"
     "Before writing, dravlen asks \"Write FILE to the disk in drive N? [y/N]\"\n"
     "on the terminal.  Without a terminal (in a script) it writes only with\n"
     "--yes, and otherwise refuses.  Progress goes to stderr: a live line on a\n"
     "terminal, one line per track otherwise.  Ctrl+C stops sending at once;\n"
     "the drive then finishes the track it is writing, and the disk is left\n"
     "partly written.\n"
     "\n"
     "Then the disk is read back (fast pass and re-reads, as read does) and\n"
     "every sector is compared with the image: \"verified: N of N sectors\n"
     "match\", then the sectors that differ or could not be read.\n"
     "\n"
     "Options:\n"
     "  -y, --yes       write without asking\n"
     "  --no-verify     do not read the disk back after writing\n" DRIVE_OPTION COMMON_OPTIONS
     "\nExit status: 0 written and verified; 1 failed or refused (unreadable file,\n"
     "wrong size, sectors with errors, not confirmed); 2 usage error; 4 written,\n"
     "but the disk does not match the image (or could not be read back);\n"
     "130 interrupted.\n",
     cli_run_write, 1, 1, true, false, false, false},
    {"update", "flash the firmware onto the board with avrdude",
     "Usage: dravlen update [OPTIONS] [--hex FILE] [--bootloader-port PATH]\n"
     "\n"
     "Puts firmware onto the board: the firmware this program carries, or the\n"
     "Intel HEX file given with --hex.  A build that carries only the test\n"
     "image of the sources (\"info\" says so) flashes nothing without --hex.\n"
     "Before flashing, dravlen asks \"Flash FILE onto the board at PORT? [y/N]\"\n"
     "on the terminal; without a terminal it flashes only with --yes.\n"
     "\n"
     "dravlen then resets the board into its bootloader, waits two seconds for\n"
     "the bootloader to appear as a serial port of its own, and runs avrdude\n"
     "(which must be installed) to write the flash through that port.  The\n"
     "bootloader port is the one named with --bootloader-port or set in the\n"
     "Dravlen client's settings, or else the first new serial port that appears\n"
     "after the reset; avrdude is not started when that port does not exist.\n"
     "avrdude's messages go to stderr with -v, and when it fails.\n"
     "\n"
     "Ctrl+C during the wait for the bootloader stops the update before\n"
     "anything is written.  Once avrdude runs, it is left to finish (a board\n"
     "stopped halfway would have no firmware); dravlen then still exits 130.\n"
     "\n"
     "Options:\n"
     "  --hex FILE      flash this Intel HEX file instead of the carried firmware\n"
     "  --bootloader-port PATH\n"
     "                  the port the bootloader appears as\n"
     "  -y, --yes       flash without asking\n" COMMON_OPTIONS
     "\nExit status: 0 flashed; 1 failed or refused (also when avrdude reported\n"
     "an error, or when not confirmed); 2 usage error, also no --hex in a build\n"
     "without board firmware; 130 interrupted.\n",
     cli_run_update, 0, 0, false, false, false, false},
    {"dir", "list the directory of the disk in a drive",
     "Usage: dravlen dir [OPTIONS]\n"
     "\n"
     "Initialises the disk in the drive and lists its directory as a C64 shows it\n"
     "after LOAD \"$\",8: the header line with the disk name and ID, one line per\n"
     "file with its size in blocks, its quoted name and its type (a \"*\" before\n"
     "the type marks a file that was never closed, a \"<\" after it a locked\n"
     "file), and the \"BLOCKS FREE.\" line.  PETSCII is shown as readable text:\n"
     "plain letters as capitals, shifted letters in lower case, other graphic\n"
     "characters as \"?\".  With --json the summary object holds disk_name,\n"
     "disk_id, entries (blocks, name, type, closed, locked) and blocks_free.\n"
     "\n"
     "Options:\n" DRIVE_OPTION COMMON_OPTIONS EXIT_STATUS,
     cli_run_dir, 0, 0, true, false, false, false},
    {"get", "copy a file from the disk to a PRG file",
     "Usage: dravlen get [OPTIONS] NAME [OUT.prg]\n"
     "\n"
     "Loads the file NAME from the disk in the drive and saves it, load address\n"
     "first, as OUT.prg.  Without OUT the file is saved in the current folder\n"
     "under NAME made fit for a file name, with the extension \".prg\".  NAME is\n"
     "the C64 name as \"dir\" lists it: capitals for plain letters, small ones for\n"
     "shifted letters, {$xx} for a byte without a printable form (at most 16\n"
     "characters, no quote); the drive's wildcards \"*\" and \"?\" load the\n"
     "first file that matches.  An existing OUT is kept unless --overwrite is given.  The file is\n"
     "written only when the whole of it has arrived: an interrupted or failed\n"
     "transfer leaves no file behind.\n"
     "\n"
     "Options:\n"
     "  --overwrite     replace OUT if it exists\n" DRIVE_OPTION COMMON_OPTIONS EXIT_STATUS,
     cli_run_get, 1, 2, true, false, false, true},
    {"put", "write a PRG file to the disk",
     "Usage: dravlen put [OPTIONS] FILE.prg [NAME]\n"
     "\n"
     "Writes FILE.prg to the disk in the drive as a PRG file named NAME.\n"
     "Without NAME the C64 name is the file's name without its \".prg\"\n"
     "extension, in C64 capitals, cut to 16 characters.  NAME is written as\n"
     "\"dir\" lists names (capitals list as capitals, small letters as shifted\n"
     "letters, {$xx} for any byte), at most 16 characters and no quote.  FILE must\n"
     "hold at least the 2 bytes of a load address and fit on a 35-track disk\n"
     "(168656 bytes).  The drive refuses a name that is already on the disk.\n"
     "\n"
     "Options:\n" DRIVE_OPTION COMMON_OPTIONS EXIT_STATUS,
     cli_run_put, 1, 2, true, false, false, false},
    {"scratch", "delete a file from the disk",
     "Usage: dravlen scratch [OPTIONS] NAME [--pattern]\n"
     "\n"
     "Deletes (scratches) the file NAME from the disk in the drive and prints\n"
     "the drive's message, for example \"01, FILES SCRATCHED,01,00\".  NAME is\n"
     "written as \"dir\" lists it.  A name holding , * ? = or : is refused, so\n"
     "that one command deletes at most the file named, unless --pattern is\n"
     "given: then the drive's wildcards apply and every file deleted is named\n"
     "(scratched \"NAME\"), from the directory listed before and after.  A name\n"
     "that is not on the disk is reported as a failure.\n"
     "\n"
     "Options:\n"
     "  --pattern       let the drive match NAME as a pattern\n" DRIVE_OPTION COMMON_OPTIONS EXIT_STATUS,
     cli_run_scratch, 1, 1, true, false, false, false},
    {"validate", "rebuild the disk's block allocation map",
     "Usage: dravlen validate [OPTIONS]\n"
     "\n"
     "Lets the drive validate the disk (\"V0\"): it rebuilds the block allocation\n"
     "map from the files in the directory, frees the blocks of files that were\n"
     "never closed and removes their entries.  Prints the drive's message.\n"
     "\n"
     "Options:\n" DRIVE_OPTION COMMON_OPTIONS EXIT_STATUS,
     cli_run_validate, 0, 0, true, false, false, false},
    {"format", "format the disk in a drive",
     "Usage: dravlen format [OPTIONS] NAME,ID\n"
     "\n"
     "Formats the disk in the drive with the disk name NAME (at most 16\n"
     "characters) and the ID (1 or 2 characters), for example \"GAMES,01\".\n"
     "Everything on the disk is lost; nothing is asked first.  The drive's own\n"
     "format is used, or with --fast the board's faster one, which formats as\n"
     "many tracks as this build images (35 for dravlen, 40 for dravlen40).\n"
     "Prints the drive's message.  Neither part may hold a quote or a comma.\n"
     "\n"
     "Options:\n"
     "  --fast          use the board's fast format\n" DRIVE_OPTION COMMON_OPTIONS EXIT_STATUS,
     cli_run_format, 1, 1, true, false, true, false},
    {"rom", "save the ROM of a 1541 or 1571 drive",
     "Usage: dravlen rom [OPTIONS] 1541|1571 OUT\n"
     "\n"
     "Reads the ROM of the drive and saves it as the PRG file OUT: for a 1541\n"
     "the 16 KiB from $C000 (16386 bytes with the load address), for a 1571 the\n"
     "32 KiB from $8000 (32770 bytes).  An existing OUT is kept unless\n"
     "--overwrite is given; an interrupted dump leaves no file behind.\n"
     "\n"
     "Options:\n"
     "  --overwrite     replace OUT if it exists\n" DRIVE_OPTION COMMON_OPTIONS EXIT_STATUS,
     cli_run_rom, 2, 2, true, false, false, true},
};
const int cli_subcommand_count = sizeof cli_subcommands / sizeof cli_subcommands[0];

const cli_subcommand *cli_find_subcommand(const std::string &name)
{
    for (const cli_subcommand &s : cli_subcommands)
        if (name == s.name)
            return &s;
    return nullptr;
}

std::string cli_overview_usage(void)
{
    std::string out =
        "Usage: dravlen [OPTIONS] SUBCOMMAND [ARGUMENTS]\n"
        "\n"
        "Runs the Dravlen board and the Commodore floppy drives on its serial bus\n"
        "from the command line.  dravlen works with 35-track disks, dravlen40 with\n"
        "40-track disks.\n"
        "\n"
        "Subcommands:\n";
    for (const cli_subcommand &s : cli_subcommands) {
        char line[160];
        g_snprintf(line, sizeof line, "  %-10s %s\n", s.name, s.summary);
        out += line;
    }
    out += "\n"
           "Options (before or after the subcommand):\n" COMMON_OPTIONS
           "  --version       show the program's version and exit\n"
           "\n"
           "\"dravlen SUBCOMMAND --help\" describes a subcommand.\n"
           "\nExit status: 0 done; 1 failed; 2 usage error; 3 read, dump or reread saved\n"
           "the image, but some sectors had errors; 130 interrupted (Ctrl+C aborts the\n"
           "operation and closes the port).\n";
    return out;
}
